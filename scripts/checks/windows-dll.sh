#!/usr/bin/env bash
# The 32-bit Windows plug-in in a host with Microsoft's ABI: builds velnor.dll with
# mingw-w64 (scripts/build-dll.sh: PE32 for i386, the one decorated entry point,
# system DLLs only), checks that every source compiled into it is compiled into the
# native tree whose suites test it (the passes, and the binding under the native
# stand-in host), builds the conformance host with clang and lld-link
# (tests/msvc_host/build.sh) and the test clips with the native core, then runs the
# host headless under wine once per SIMD level. Fails on any mismatch. Without
# wine32 (which a stale i386 package index keeps out) everything but the wine runs
# is done and the check ends as skipped, naming why.
# Uses VELNOR_NATIVE_BUILD (a native build tree) when set, else build/release.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require mingw clang
root=$PWD
work=$root/build/windows-dll
mkdir -p "$work"

native=${VELNOR_NATIVE_BUILD:-$root/build/release}
if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$native" --target msvc_host_make_cases -j 2 >/dev/null
"$native/tests/msvc_host/msvc_host_make_cases" "$work/cases.bin"

dll=$(bash scripts/build-dll.sh)
cp "$dll" "$work/velnor.dll"

# Nothing in the DLL is built from a source the native suites do not compile.
compiled_sources() {  # TREE: the project's files compiled under core/ and plugin/
  python3 - "$1/compile_commands.json" "$root" <<'PY'
import json, os, sys
root = sys.argv[2]
for entry in json.load(open(sys.argv[1])):
    path = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
    if path.startswith(("core/", "plugin/")):
        print(path)
PY
}
untested=$(comm -23 <(compiled_sources build/win32 | sort -u) <(compiled_sources "$native" | sort -u))
if [ -n "$untested" ]; then
  echo "windows-dll: compiled into the 32-bit DLL but not into the native tree:" $untested >&2
  exit 1
fi
echo "windows-dll: the DLL's $(compiled_sources build/win32 | sort -u | wc -l) sources are all" \
  "compiled and tested in the native tree"
bash tests/msvc_host/build.sh "$work" >/dev/null
echo "windows-dll: the Microsoft-ABI host is built"

# The runs need the 32-bit wine loader.
require --for "running the DLL in the Microsoft-ABI host (everything else was checked)" wine32

# A private 32-bit prefix; no display, no Mono or Gecko installers, no debug noise.
export WINEPREFIX=$work/wine-prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "windows-dll: creating the wine prefix"
  wineboot -i >/dev/null 2>&1 || true
fi

failed=0
runs=0
# avx512 is not in the 32-bit DLL: the request runs its best level, AVX2.
for level in reference sse2 sse4.1 avx2 avx512 default; do
  echo "== wine host, VELNOR_SIMD=$level"
  if [ "$level" = default ]; then unset VELNOR_SIMD; else export VELNOR_SIMD=$level; fi
  log=$work/host-$level.log
  set +e
  (cd "$work" && timeout 600 wine msvc_host.exe velnor.dll cases.bin) >"$log" 2>&1
  status=$?
  set -e
  grep -E '^(FAIL|wine host:)' "$log" || true
  runs=$((runs + 1))
  if [ $status -ne 0 ] || ! grep -qE '^wine host: [0-9]+ passed, 0 failed' "$log"; then
    echo "windows-dll: the host failed with VELNOR_SIMD=$level (exit $status); full output:"
    cat "$log"
    failed=$((failed + 1))
  fi
done
unset VELNOR_SIMD
wineserver -k 2>/dev/null || true

if [ $failed -ne 0 ]; then
  echo "windows-dll: $failed of $runs wine runs FAILED"
  exit 1
fi
echo "windows-dll: all $runs wine runs passed"
