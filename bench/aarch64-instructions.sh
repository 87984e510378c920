#!/usr/bin/env bash
# Instructions the NEON pass executes against the plain pass, counted under qemu
# (time under emulation means nothing): qemu-aarch64 -singlestep -d exec,nochain
# logs one line per executed instruction. For each depth (8, 10, 16 bits, float)
# and each level, one pass over a noisy 320x240 plane, minus one over a 2x2 plane
# (the program's start-up); prints the counts and NEON's share of the plain pass's.
# Uses the cross-built tree VELNOR_AARCH64_BUILD (default build/aarch64; configured
# and built here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${VELNOR_AARCH64_BUILD:-$PWD/build/aarch64}
if [ ! -f "$tree/CMakeCache.txt" ]; then
  cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-aarch64-linux-gnu.cmake" >/dev/null
fi
cmake --build "$tree" --target velnor_pass_instructions -j 2 >/dev/null
program=$tree/bench/velnor_pass_instructions

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The bench's "noisy" content at 320x240: a smooth gradient with Gaussian noise of
# sigma 12 (8-bit scale), at each depth; fixed seed.
python3 - "$work" <<'PY'
import array, random, sys
work = sys.argv[1]
for width, height in ((320, 240), (2, 2)):
    rng = random.Random(1234)
    v = [40 + 160 * x / width + 30 * y / height + rng.gauss(0, 12)
         for y in range(height) for x in range(width)]
    for bits, code in ((8, "B"), (10, "H"), (16, "H")):
        top = (1 << bits) - 1
        scale = 1 << (bits - 8)
        plane = array.array(code, (min(max(round(s * scale), 0), top) for s in v))
        with open(f"{work}/{width}x{height}-{bits}", "wb") as f:
            plane.tofile(f)
    with open(f"{work}/{width}x{height}-32", "wb") as f:
        array.array("f", (min(max(s / 255, 0.0), 1.0) for s in v)).tofile(f)
PY

# count LEVEL BITS WIDTH HEIGHT: instructions of one run.
count() {
  local fifo=$work/log-$1-$2-$3
  mkfifo "$fifo"
  grep -c '^Trace' <"$fifo" >"$fifo.count" &
  local counter=$!
  qemu-aarch64 -L /usr/aarch64-linux-gnu -singlestep -d exec,nochain -D "$fifo" \
    "$program" "$1" "$2" "$3" "$4" "$work/$3x$4-$2"
  wait $counter
  cat "$fifo.count"
}

printf '%-6s %14s %14s %8s\n' depth reference neon ratio
for bits in 8 10 16 32; do
  declare -A net=()
  for level in reference neon; do
    big=$(count $level $bits 320 240)
    small=$(count $level $bits 2 2)
    net[$level]=$((big - small))
  done
  name=$bits; [ $bits = 32 ] && name=float
  awk -v d="$name" -v r="${net[reference]}" -v n="${net[neon]}" \
    'BEGIN { printf "%-6s %14d %14d %8.3f  (1/%.1f)\n", d, r, n, n / r, r / n }'
done
