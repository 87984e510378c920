#!/usr/bin/env bash
# The real-host tier: loads dist/linux-x86_64/libvelnor.so into installed AviSynth+
# and VapourSynth hosts (tests/real_hosts) and compares the project's host
# declarations with their headers. Hosts are found through
#   VELNOR_AVISYNTHPLUS_PREFIXES  install prefixes of AviSynth+, colon-separated
#   VELNOR_VAPOURSYNTH_PREFIXES   install prefixes of VapourSynth, colon-separated
# or, when a variable is unset, through pkg-config (avisynth, vapoursynth).
# Without any host it is skipped (exit status 77).
set -euo pipefail
cd "$(dirname "$0")/../.."

prefix_from_pkg_config() {
  if command -v pkg-config >/dev/null && pkg-config --exists "$1" 2>/dev/null; then
    pkg-config --variable=prefix "$1"
  fi
}
avisynth_prefixes=${VELNOR_AVISYNTHPLUS_PREFIXES:-$(prefix_from_pkg_config avisynth)}
vapoursynth_prefixes=${VELNOR_VAPOURSYNTH_PREFIXES:-$(prefix_from_pkg_config vapoursynth)}

source scripts/require.sh
if [ -z "$avisynth_prefixes" ] && [ -z "$vapoursynth_prefixes" ]; then
  skip "no AviSynth+ or VapourSynth install found (Debian packages neither; set" \
    "VELNOR_AVISYNTHPLUS_PREFIXES / VELNOR_VAPOURSYNTH_PREFIXES to install prefixes)"
fi
# The shipped library comes from scripts/build-dist.sh, which cross-builds too.
require mingw
[ -n "$avisynth_prefixes" ] ||
  echo "real-hosts: AviSynth+ checks SKIPPED, no install found (VELNOR_AVISYNTHPLUS_PREFIXES)"
[ -n "$vapoursynth_prefixes" ] ||
  echo "real-hosts: VapourSynth checks SKIPPED, no install found (VELNOR_VAPOURSYNTH_PREFIXES)"

# The shipped library, rebuilt when a source is newer.
plugin=$PWD/dist/linux-x86_64/libvelnor.so
if [ ! -e "$plugin" ] || [ -n "$(find core plugin -newer "$plugin" -print -quit)" ]; then
  bash scripts/build-dist.sh >/dev/null
fi

# auto's checks compare with velnor --suggest, built in the library's own tree.
if [ -z "${VELNOR_CLI:-}" ]; then
  cmake --build build/linux-x86_64 --target velnor -j 2 >/dev/null
  export VELNOR_CLI=$PWD/build/linux-x86_64/cli/velnor
fi

build=build/real_hosts
cmake -S tests/real_hosts -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON \
  -DVELNOR_AVISYNTHPLUS_PREFIXES="$avisynth_prefixes" \
  -DVELNOR_VAPOURSYNTH_PREFIXES="$vapoursynth_prefixes" >/dev/null
cmake --build "$build" -j 2

# The frame checks at the level VELNOR_SIMD names, or the best one the CPU offers.
source scripts/real-host-runs.sh
run_real_hosts real-hosts "$build" "$plugin" "$avisynth_prefixes" "$vapoursynth_prefixes" \
  "${VELNOR_SIMD:-default}"
