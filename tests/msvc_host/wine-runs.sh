#!/usr/bin/env bash
# The Microsoft-ABI host's runs under wine32, the same whether this kernel runs them
# or a virtual machine's does (scripts/checks/windows-dll.sh chooses):
#   bash tests/msvc_host/wine-runs.sh WORK PREFIX
# WORK holds msvc_host.exe, velnor.dll and cases.bin and receives the logs. PREFIX is
# a win32 wine prefix, created there when it has none; the runs use it through a
# writable layer that is thrown away (an overlay with a tmpfs upper where mounting is
# allowed, else a copy), so that every run starts from the same prefix. One run per
# SIMD level, each checked against the level the DLL reports it filtered at, then the
# load/unload cycles once. Exits 1 when anything failed.
set -euo pipefail
work=$(realpath "${1:?usage: wine-runs.sh WORK PREFIX}")
prefix=$(realpath -m "${2:?usage: wine-runs.sh WORK PREFIX}")
cd "$work"

# No display, no Mono or Gecko installers, no debug noise.
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# A prefix is complete once its server has ended after wineboot (the registry is
# written then); the mark tells an interrupted one, which is made again.
complete=$prefix/.velnor-complete
if [ ! -f "$complete" ]; then
  echo "wine-runs: creating the wine prefix $prefix"
  start=$SECONDS
  rm -rf "$prefix"
  WINEPREFIX=$prefix wineboot -i >"$work/wineboot.log" 2>&1 || true
  WINEPREFIX=$prefix wineserver -w
  [ -f "$prefix/system.reg" ] ||
    { echo "wine-runs: wineboot made no prefix:"; cat "$work/wineboot.log"; exit 1; }
  touch "$complete"
  echo "wine-runs: prefix created in $((SECONDS - start)) s"
fi

layer=$(mktemp -d)
mkdir -p "$layer/upper" "$layer/work" "$layer/prefix"
mounted=0
if mount -t overlay overlay -o "lowerdir=$prefix,upperdir=$layer/upper,workdir=$layer/work" \
     "$layer/prefix" 2>/dev/null; then
  mounted=1
else
  cp -a "$prefix/." "$layer/prefix/"
fi
cleanup() {
  WINEPREFIX=$layer/prefix wineserver -k 2>/dev/null || true
  WINEPREFIX=$layer/prefix wineserver -w 2>/dev/null || true
  [ $mounted -eq 0 ] || umount "$layer/prefix"
  rm -rf "$layer"
}
trap cleanup EXIT
export WINEPREFIX=$layer/prefix
# One server for all the runs: it keeps wine's start-up work between them.
wineserver -p

# The levels in the DLL, slowest first (core/dispatch.h's names; the 32-bit build
# has no AVX-512 pass, so a request for it runs AVX2).
levels=(reference sse2 sse4.1 avx2)
rank() {
  local i
  for i in "${!levels[@]}"; do [ "${levels[$i]}" != "$1" ] || { echo "$i"; return; }; done
  echo "${#levels[@]}"
}
# The best level this CPU runs, as the kernel reports its flags.
flags=" $(grep -m1 '^flags' /proc/cpuinfo | cut -d: -f2) "
best=reference
for pair in sse2:sse2 sse4_1:sse4.1 avx2:avx2; do
  [[ "$flags" == *" ${pair%%:*} "* ]] && best=${pair#*:}
done
echo "wine-runs: the CPU runs up to $best"

failed=0
runs=0
for level in reference sse2 sse4.1 avx2 avx512 default; do
  echo "== wine host, VELNOR_SIMD=$level"
  expected=$best
  if [ "$level" != default ]; then
    asked=$level
    [ "$asked" != avx512 ] || asked=avx2
    [ "$(rank "$asked")" -ge "$(rank "$best")" ] || expected=$asked
  fi
  log=$work/host-$level.log
  events=$work/events-$level.txt
  rm -f "$events"
  start=$SECONDS
  set +e
  if [ "$level" = default ]; then
    VELNOR_TEST_EVENTS=$events timeout 600 wine msvc_host.exe velnor.dll cases.bin >"$log" 2>&1
  else
    VELNOR_SIMD=$level VELNOR_TEST_EVENTS=$events timeout 600 \
      wine msvc_host.exe velnor.dll cases.bin >"$log" 2>&1
  fi
  status=$?
  set -e
  runs=$((runs + 1))
  grep -E '^(FAIL|wine host:)' "$log" || true
  used=$(sort -u "$events" 2>/dev/null | sed 's/^level //' | paste -sd ' ')
  if [ $status -ne 0 ] || ! grep -qE '^wine host: [0-9]+ passed, 0 failed' "$log"; then
    echo "wine-runs: the host failed with VELNOR_SIMD=$level (exit $status); full output:"
    cat "$log"
    failed=$((failed + 1))
  elif [ "$used" != "$expected" ]; then
    echo "wine-runs: VELNOR_SIMD=$level ran at '${used:-no level reported}', expected $expected"
    failed=$((failed + 1))
  else
    echo "wine-runs: VELNOR_SIMD=$level ran at level $used ($((SECONDS - start)) s)"
  fi
done

echo "== wine host, load/unload cycles"
start=$SECONDS
set +e
timeout 600 wine msvc_host.exe --unload-cycles 200 velnor.dll cases.bin >"$work/host-unload.log" 2>&1
status=$?
set -e
runs=$((runs + 1))
grep -E '^(FAIL|wine host:)' "$work/host-unload.log" || true
if [ $status -ne 0 ] || ! grep -qE '^wine host: [0-9]+ passed, 0 failed' "$work/host-unload.log"; then
  echo "wine-runs: the load/unload cycles failed (exit $status); full output:"
  cat "$work/host-unload.log"
  failed=$((failed + 1))
else
  echo "wine-runs: the load/unload cycles passed ($((SECONDS - start)) s)"
fi

if [ $failed -ne 0 ]; then
  echo "wine-runs: $failed of $runs wine runs FAILED"
  exit 1
fi
echo "wine-runs: all $runs wine runs passed"
