#!/usr/bin/env bash
# The demo: on a fresh Debian machine, installs what is missing, builds velnor and
# runs it on photographs from Debian's python3-skimage package (used in place, never
# copied into the repository) with Gaussian noise added. Writes noisy | filtered
# pictures to out/demo/ and prints the PSNR before and after filtering.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc)
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target velnor -j "$jobs" >/dev/null

images=$(dirname "$(dpkg -L python3-skimage | grep '/skimage/data/camera\.png$' | head -n1)")
if [ ! -f "$images/camera.png" ]; then
  echo "demo: python3-skimage's sample photographs are missing" >&2
  exit 1
fi
echo "photographs from $images (python3-skimage $(dpkg-query -W -f='${Version}' python3-skimage))"
/usr/bin/python3 demo/denoise_demo.py --velnor build/release/cli/velnor --images "$images" --out out/demo "$@"
