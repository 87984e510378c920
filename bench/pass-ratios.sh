#!/usr/bin/env bash
# Runs the pass benchmark with repetitions and prints, per content and level, the
# median CPU time, samples per second, the speed-up over the reference pass and,
# for the suggestion table's rows, the time over the defaults' on the same content.
#   bench/pass-ratios.sh [build dir] [extra benchmark flags...]
set -euo pipefail
build=${1:-build/release}
shift || true
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$build/bench/velnor_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=json "$@" >"$json"
python3 - "$json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
medians = {r["run_name"]: r for r in runs if r.get("aggregate_name") == "median"}
print(f"{'benchmark':38} {'median ms':>10} {'Msamples/s':>11} {'x reference':>12}"
      f" {'/ defaults':>11}")
for name, r in medians.items():
    _, content, level = name.split("/")[:3]
    reference = medians.get(f"pass/{content}/reference")
    ms = r["cpu_time"]
    ratio = reference["cpu_time"] / ms if reference else float("nan")
    # A suggestion-table row's time over the defaults' on the same content.
    defaults = medians.get(f"pass/{content.replace('-suggested', '-defaults')}/{level}")
    cost = f"{ms / defaults['cpu_time']:11.2f}" if content.endswith("-suggested") else ""
    print(f"{name:38} {ms:10.2f} {r['samples/s'] / 1e6:11.1f} {ratio:12.2f} {cost}")
PY
