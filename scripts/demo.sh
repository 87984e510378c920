#!/usr/bin/env bash
# The demo: on a fresh Debian machine, installs what it needs that is missing (a
# compiler, CMake and three Python packages), builds velnor and runs it on
# photographs from Debian's python3-skimage package (used in place, never copied
# into the repository) with Gaussian noise added. Writes noisy | filtered
# pictures to out/demo/ and prints the PSNR before and after filtering.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --demo
jobs=$(nproc)
# A tree of its own without the tests and benchmarks, whose libraries the demo does
# not install.
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_BUILD_TESTS=OFF \
  -DVELNOR_BUILD_BENCH=OFF >/dev/null
cmake --build build/demo --target velnor -j "$jobs" >/dev/null

images=$(dirname "$(dpkg -L python3-skimage | grep '/skimage/data/camera\.png$' | head -n1)")
if [ ! -f "$images/camera.png" ]; then
  echo "demo: python3-skimage's sample photographs are missing" >&2
  exit 1
fi
echo "photographs from $images (python3-skimage $(dpkg-query -W -f='${Version}' python3-skimage))"
/usr/bin/python3 demo/denoise_demo.py --velnor build/demo/cli/velnor --images "$images" --out out/demo "$@"
