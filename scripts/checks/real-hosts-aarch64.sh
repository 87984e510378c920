#!/usr/bin/env bash
# The real-host tier for Linux aarch64 under qemu-user: cross-builds libvelnor.so and
# the harness in tests/real_hosts for aarch64, loads the library into aarch64 builds
# of AviSynth+ and VapourSynth run under emulation, and compares the project's host
# declarations with the installs' headers under the aarch64 ABI. Hosts are found
# through
#   VELNOR_AARCH64_AVISYNTHPLUS_PREFIXES  install prefixes of AviSynth+, colon-separated
#   VELNOR_AARCH64_VAPOURSYNTH_PREFIXES   install prefixes of VapourSynth, colon-separated
# (each holding include/ and, anywhere below it, libavisynth.so / libvapoursynth.so).
# VELNOR_QEMU_AARCH64 overrides the emulator command (default
# "qemu-aarch64 -L /usr/aarch64-linux-gnu"); libraries a host needs beside its own
# (a shared zimg) are found through LD_LIBRARY_PATH, which qemu passes on.
# Without the cross compiler, qemu or any host it prints what it skipped and succeeds.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

avisynth_prefixes=${VELNOR_AARCH64_AVISYNTHPLUS_PREFIXES:-}
vapoursynth_prefixes=${VELNOR_AARCH64_VAPOURSYNTH_PREFIXES:-}
read -ra qemu <<<"${VELNOR_QEMU_AARCH64:-qemu-aarch64 -L /usr/aarch64-linux-gnu}"

if [ -z "$avisynth_prefixes" ] && [ -z "$vapoursynth_prefixes" ]; then
  echo "real-hosts-aarch64: SKIPPED, no aarch64 host named (set" \
    "VELNOR_AARCH64_AVISYNTHPLUS_PREFIXES / VELNOR_AARCH64_VAPOURSYNTH_PREFIXES to install prefixes)"
  exit 0
fi
for tool in aarch64-linux-gnu-g++ "${qemu[0]}"; do
  if ! command -v "$tool" >/dev/null; then
    echo "real-hosts-aarch64: SKIPPED, $tool missing (Debian packages g++-aarch64-linux-gnu, qemu-user)"
    exit 0
  fi
done
[ -n "$avisynth_prefixes" ] ||
  echo "real-hosts-aarch64: AviSynth+ checks SKIPPED (VELNOR_AARCH64_AVISYNTHPLUS_PREFIXES unset)"
[ -n "$vapoursynth_prefixes" ] ||
  echo "real-hosts-aarch64: VapourSynth checks SKIPPED (VELNOR_AARCH64_VAPOURSYNTH_PREFIXES unset)"

toolchain=$root/cmake/toolchain-aarch64-linux-gnu.cmake

# The plug-in library, built for aarch64 as a release would build it.
plugin_build=$root/build/linux-aarch64-plugin
cmake -S . -B "$plugin_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DVELNOR_BUILD_TESTS=OFF -DVELNOR_BUILD_BENCH=OFF -DVELNOR_BUILD_CLI=OFF >/dev/null
cmake --build "$plugin_build" --target velnor_hosts -j 2
plugin=$plugin_build/plugin/libvelnor.so

build=$root/build/real_hosts_aarch64
cmake -S tests/real_hosts -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DVELNOR_AVISYNTHPLUS_PREFIXES="$avisynth_prefixes" \
  -DVELNOR_VAPOURSYNTH_PREFIXES="$vapoursynth_prefixes" >/dev/null
cmake --build "$build" -j 2

failed=0
run() {
  echo "-- $*"
  timeout 1800 "${qemu[@]}" "$@" || failed=$((failed + 1))
}
library_in() {
  local found
  found=$(find "$1" -name "$2" \( -type f -o -type l \) -print -quit)
  echo "${found:-$1/lib/$2}"
}

# The declarations once per install; the frame checks with the plain pass and with
# the pass the library picks by itself (the best one the emulated CPU offers).
# The N-th prefix of each list has the harness targets numbered N.
IFS=: read -ra prefixes <<<"$avisynth_prefixes"
index=0
for prefix in "${prefixes[@]}"; do
  index=$((index + 1))
  echo "== AviSynth+ declarations, $prefix"
  run "$build/declarations_avisynth_$index"
done
IFS=: read -ra prefixes <<<"$vapoursynth_prefixes"
index=0
for prefix in "${prefixes[@]}"; do
  index=$((index + 1))
  echo "== VapourSynth declarations, $prefix"
  run "$build/declarations_vapoursynth_$index"
done
for level in reference default; do
  if [ "$level" = default ]; then unset VELNOR_SIMD; else export VELNOR_SIMD=$level; fi
  IFS=: read -ra prefixes <<<"$avisynth_prefixes"
  index=0
  for prefix in "${prefixes[@]}"; do
    index=$((index + 1))
    echo "== AviSynth+ in $prefix, VELNOR_SIMD=$level"
    run "$build/real_hosts_avisynth_linked_$index" avisynth-linked "$plugin"
    run "$build/real_hosts" avisynth-private "$(library_in "$prefix" libavisynth.so)" "$plugin"
  done
  IFS=: read -ra prefixes <<<"$vapoursynth_prefixes"
  for prefix in "${prefixes[@]}"; do
    echo "== VapourSynth in $prefix, VELNOR_SIMD=$level"
    run "$build/real_hosts" vapoursynth "$(library_in "$prefix" libvapoursynth.so)" "$plugin"
  done
done
unset VELNOR_SIMD

if [ "$failed" -ne 0 ]; then
  echo "real-hosts-aarch64: $failed run(s) failed"
  exit 1
fi
echo "real-hosts-aarch64: all runs passed"
