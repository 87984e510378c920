#!/usr/bin/env bash
# The Linux AArch64 build (cross-built with g++-aarch64-linux-gnu, tree
# build/aarch64) passes its unit, differential and end-to-end tests under
# qemu-user, once with qemu's default CPU model and once as a Cortex-A53, the
# oldest ARMv8 core. Prints each run's test count and time.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require core aarch64

build=build/aarch64
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-aarch64-linux-gnu.cmake" >/dev/null
cmake --build "$build" -j 2 >/dev/null

# The pass the program reports must be the NEON one.
version=$(qemu-aarch64 -L /usr/aarch64-linux-gnu "$build/cli/velnor" --version)
[[ $version == *"(pass: neon)"* ]] || { echo "aarch64: velnor --version says: $version" >&2; exit 1; }

for cpu in max cortex-a53; do
  start=$SECONDS
  if ! QEMU_CPU=$cpu ctest --test-dir "$build" -j 2 --output-on-failure >"$build/ctest-$cpu.log" 2>&1; then
    tail -40 "$build/ctest-$cpu.log" >&2
    echo "aarch64: tests failed as $cpu (log: $build/ctest-$cpu.log)" >&2
    exit 1
  fi
  summary=$(grep -E 'tests passed' "$build/ctest-$cpu.log")
  echo "aarch64: $cpu: $summary, $((SECONDS - start)) s"
done
