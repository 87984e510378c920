#!/usr/bin/env bash
# Steady-state speed of `velnor -j 1` (best level and SSE2) against ffmpeg's
# hqdn3d=4:0:0:0 (each 0 taken as unset: its default filtering, chroma and
# temporal included), one thread each, on 1080p photographs with
# Gaussian noise of sigma 4 and 12, as 8-bit and as 10-bit streams
# (bench/make_photo_clip.py, from Debian's
# python3-skimage photographs): per-frame CPU time with start-up cancelled out
# (bench/steady_state.py), and the CLI's time outside the pass (the pass alone
# timed by velnor_frame_timing on the same frames).
#   bench/compare-ffmpeg.sh [release build dir] [rounds]
# Builds the release tree if the programs are missing. Needs ffmpeg, python3-numpy,
# python3-pil and python3-skimage (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
rounds=${2:-7}
if [ ! -x "$build/cli/velnor" ] || [ ! -x "$build/bench/velnor_frame_timing" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 2 --target velnor velnor_frame_timing
fi
images=$(dirname "$(dpkg -L python3-skimage | grep '/skimage/data/camera\.png$' | head -n1)")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for sigma in 4 12; do
  /usr/bin/python3 bench/make_photo_clip.py --images "$images" --sigma "$sigma" --frames 60 \
    --y4m "$work/photo-s$sigma-60.y4m" --plane "$work/photo-s$sigma.y"
  /usr/bin/python3 bench/make_photo_clip.py --images "$images" --sigma "$sigma" --frames 12 \
    --y4m "$work/photo-s$sigma-12.y4m"
  for frames in 60 12; do
    /usr/bin/python3 bench/make_photo_clip.py --images "$images" --sigma "$sigma" --frames "$frames" \
      --bits 10 --y4m "$work/photo10-s$sigma-$frames.y4m"
  done
done
VELNOR_BENCH_PHOTOS=$work "$build/bench/velnor_frame_timing" 15 | tee "$work/pass.txt"
echo
/usr/bin/python3 bench/steady_state.py --velnor "$build/cli/velnor" --clips "$work" \
  --pass-ms "$work/pass.txt" --rounds "$rounds"
