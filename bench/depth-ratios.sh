#!/usr/bin/env bash
# Runs the depth benchmark with repetitions and prints, per content, level and
# format, the median CPU time and its ratio to the 8-bit pass at the same level
# and content (all from the one run).
#   bench/depth-ratios.sh [build dir] [extra benchmark flags...]
set -euo pipefail
build=${1:-build/release}
shift || true
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$build/bench/velnor_depth_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_enable_random_interleaving=true --benchmark_format=json "$@" >"$json"
python3 - "$json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
medians = {r["run_name"]: r for r in runs if r.get("aggregate_name") == "median"}
print(f"{'benchmark':34} {'median ms':>10} {'x 8-bit':>8}")
for name, r in medians.items():
    _, content, level, fmt = name.split("/")[:4]
    base = medians.get(f"depth/{content}/{level}/u8")
    ms = r["cpu_time"]
    ratio = ms / base["cpu_time"] if base else float("nan")
    print(f"{name:34} {ms:10.2f} {ratio:8.2f}")
PY
