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
# Without the cross compiler, qemu or any host it is skipped (exit status 77).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

avisynth_prefixes=${VELNOR_AARCH64_AVISYNTHPLUS_PREFIXES:-}
vapoursynth_prefixes=${VELNOR_AARCH64_VAPOURSYNTH_PREFIXES:-}
read -ra qemu <<<"${VELNOR_QEMU_AARCH64:-qemu-aarch64 -L /usr/aarch64-linux-gnu}"

source scripts/require.sh
if [ -z "$avisynth_prefixes" ] && [ -z "$vapoursynth_prefixes" ]; then
  skip "no aarch64 host named (set" \
    "VELNOR_AARCH64_AVISYNTHPLUS_PREFIXES / VELNOR_AARCH64_VAPOURSYNTH_PREFIXES to install prefixes)"
fi
require aarch64
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

# The frame checks with the plain pass and with the pass the library picks by
# itself (the best one the emulated CPU offers). Under emulation one VapourSynth run
# takes about an hour of CPU on a two-core machine (a minute or two natively), so
# the limit that ends a hung run is generous.
source scripts/real-host-runs.sh
real_host_runner=(timeout 10800 "${qemu[@]}")
run_real_hosts real-hosts-aarch64 "$build" "$plugin" "$avisynth_prefixes" "$vapoursynth_prefixes" \
  reference default
