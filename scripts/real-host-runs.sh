# The runs of the real-host tiers on Linux (scripts/checks/real-hosts.sh, natively,
# and real-hosts-aarch64.sh, under qemu-user), sourced by both. run_real_hosts TIER
# BUILD PLUGIN AVISYNTH_PREFIXES VAPOURSYNTH_PREFIXES LEVEL... runs the harness built
# in BUILD (tests/real_hosts; the N-th prefix of each colon-separated list has the
# targets numbered N): each install's declaration check once, then for each LEVEL
# (a VELNOR_SIMD value, or "default" for the level the library picks itself) the
# frame checks with PLUGIN in every host, linked and privately loaded for AviSynth+,
# and once the heap each host keeps per load/unload cycle of PLUGIN.
# Each program runs under the command in the array real_host_runner (empty: run
# directly). Ends the script with status 1 if any run failed.

real_host_runner=()

# library_in PREFIX NAME: the first file or link NAME below PREFIX.
library_in() {
  local found
  found=$(find "$1" -name "$2" \( -type f -o -type l \) -print -quit)
  echo "${found:-$1/lib/$2}"
}

run_real_hosts() {
  local tier=$1 build=$2 plugin=$3 avisynth_prefixes=$4 vapoursynth_prefixes=$5
  shift 5
  local failed=0 index prefix level prefixes
  run() {
    echo "-- $*"
    "${real_host_runner[@]}" "$@" || failed=$((failed + 1))
  }
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
  for level in "$@"; do
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
  # What each host keeps per load of the plug-in (tests/real_hosts/unload_cycles.cpp).
  IFS=: read -ra prefixes <<<"$avisynth_prefixes"
  for prefix in "${prefixes[@]}"; do
    echo "== AviSynth+ in $prefix, load/unload cycles"
    run "$build/unload_cycles" avisynth "$(library_in "$prefix" libavisynth.so)" "$plugin"
  done
  IFS=: read -ra prefixes <<<"$vapoursynth_prefixes"
  for prefix in "${prefixes[@]}"; do
    echo "== VapourSynth in $prefix, load/unload cycles"
    run "$build/unload_cycles" vapoursynth "$(library_in "$prefix" libvapoursynth.so)" "$plugin"
  done
  if [ "$failed" -ne 0 ]; then
    echo "$tier: $failed run(s) failed"
    exit 1
  fi
  echo "$tier: all runs passed"
}
