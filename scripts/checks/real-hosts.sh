#!/usr/bin/env bash
# The real-host tier: loads dist/linux-x86_64/libvelnor.so into installed AviSynth+
# and VapourSynth hosts (tests/real_hosts) and compares the project's host
# declarations with their headers. Hosts are found through
#   VELNOR_AVISYNTHPLUS_PREFIXES  install prefixes of AviSynth+, colon-separated
#   VELNOR_VAPOURSYNTH_PREFIXES   install prefixes of VapourSynth, colon-separated
# or, when a variable is unset, through pkg-config (avisynth, vapoursynth).
# Without any host it prints what it skipped and succeeds.
set -euo pipefail
cd "$(dirname "$0")/../.."

prefix_from_pkg_config() {
  if command -v pkg-config >/dev/null && pkg-config --exists "$1" 2>/dev/null; then
    pkg-config --variable=prefix "$1"
  fi
}
avisynth_prefixes=${VELNOR_AVISYNTHPLUS_PREFIXES:-$(prefix_from_pkg_config avisynth)}
vapoursynth_prefixes=${VELNOR_VAPOURSYNTH_PREFIXES:-$(prefix_from_pkg_config vapoursynth)}

if [ -z "$avisynth_prefixes" ] && [ -z "$vapoursynth_prefixes" ]; then
  echo "real-hosts: SKIPPED, no AviSynth+ or VapourSynth install found (set" \
    "VELNOR_AVISYNTHPLUS_PREFIXES / VELNOR_VAPOURSYNTH_PREFIXES to install prefixes)"
  exit 0
fi
[ -n "$avisynth_prefixes" ] ||
  echo "real-hosts: AviSynth+ checks SKIPPED, no install found (VELNOR_AVISYNTHPLUS_PREFIXES)"
[ -n "$vapoursynth_prefixes" ] ||
  echo "real-hosts: VapourSynth checks SKIPPED, no install found (VELNOR_VAPOURSYNTH_PREFIXES)"

# The shipped library, rebuilt when a source is newer.
plugin=$PWD/dist/linux-x86_64/libvelnor.so
if [ ! -e "$plugin" ] || [ -n "$(find core plugin -newer "$plugin" -print -quit)" ]; then
  bash scripts/build-dist.sh >/dev/null
fi

build=build/real_hosts
cmake -S tests/real_hosts -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON \
  -DVELNOR_AVISYNTHPLUS_PREFIXES="$avisynth_prefixes" \
  -DVELNOR_VAPOURSYNTH_PREFIXES="$vapoursynth_prefixes" >/dev/null
cmake --build "$build" -j 2

failed=0
run() {
  echo "-- $*"
  "$@" || failed=$((failed + 1))
}
library_in() {
  local found
  found=$(find "$1" -name "$2" \( -type f -o -type l \) -print -quit)
  echo "${found:-$1/lib/$2}"
}

# The N-th prefix of each list has the harness targets numbered N.
IFS=: read -ra prefixes <<<"$avisynth_prefixes"
index=0
for prefix in "${prefixes[@]}"; do
  index=$((index + 1))
  echo "== AviSynth+ in $prefix"
  run "$build/declarations_avisynth_$index"
  run "$build/real_hosts_avisynth_linked_$index" avisynth-linked "$plugin"
  run "$build/real_hosts" avisynth-private "$(library_in "$prefix" libavisynth.so)" "$plugin"
done
IFS=: read -ra prefixes <<<"$vapoursynth_prefixes"
index=0
for prefix in "${prefixes[@]}"; do
  index=$((index + 1))
  echo "== VapourSynth in $prefix"
  run "$build/declarations_vapoursynth_$index"
  run "$build/real_hosts" vapoursynth "$(library_in "$prefix" libvapoursynth.so)" "$plugin"
done

if [ "$failed" -ne 0 ]; then
  echo "real-hosts: $failed run(s) failed"
  exit 1
fi
echo "real-hosts: all runs passed"
