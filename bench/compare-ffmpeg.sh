#!/usr/bin/env bash
# Whole-process speed of `velnor -j 1` against ffmpeg's hqdn3d luma-only spatial
# denoising, one thread each, on the same noisy 1080p YUV4MPEG2 clip.
#   bench/compare-ffmpeg.sh [release build dir] [frames]
# Builds the release tree if the program is missing. Needs ffmpeg and hyperfine
# (scripts/install-deps.sh installs both). Prints hyperfine's table, then medians
# and the ratio ffmpeg / velnor (above 1: velnor is faster).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
frames=${2:-60}
velnor="$build/cli/velnor"
if [ ! -x "$velnor" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 2 --target velnor
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip="$work/noisy-1080p.y4m"
# A moving test pattern with strong temporal luma noise.
ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=25 \
  -vf "noise=c0s=24:c0f=t,format=yuv420p" -frames:v "$frames" -f yuv4mpegpipe "$clip"

hyperfine --warmup 1 --runs 7 --export-json "$work/times.json" \
  --command-name "velnor -j 1 (best level)" "$velnor -j 1 --quiet $clip -o /dev/null" \
  --command-name "velnor -j 1 (reference pass)" \
  "VELNOR_SIMD=reference $velnor -j 1 --quiet $clip -o /dev/null" \
  --command-name "ffmpeg hqdn3d=4:0:0:0" \
  "ffmpeg -hide_banner -loglevel error -threads 1 -filter_threads 1 -i $clip -vf hqdn3d=4:0:0:0 -f null -"

python3 - "$work/times.json" "$frames" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
frames = int(sys.argv[2])
median = {r["command"]: r["median"] for r in results}
print()
for name, seconds in median.items():
    print(f"{name:32} median {seconds:7.3f} s  {frames / seconds:7.1f} frames/s")
fast = median["velnor -j 1 (best level)"]
print(f"ratio ffmpeg / velnor (best level): {median['ffmpeg hqdn3d=4:0:0:0'] / fast:.2f}")
print(f"ratio reference / best level, whole process: {median['velnor -j 1 (reference pass)'] / fast:.2f}")
PY
