#!/usr/bin/env bash
# The one command that runs every test on a fresh Debian machine:
#   bash scripts/test.sh          everything: installs what is missing, builds with
#                                 AddressSanitizer and UndefinedBehaviorSanitizer and
#                                 runs the suites, builds an optimised tree and runs
#                                 them there too, then runs each further check in
#                                 scripts/checks/ (Windows DLLs under wine, fuzzing,
#                                 install, reproducible release, ...)
#   bash scripts/test.sh --quick  the core only: its packages, both builds and both
#                                 suites (for contributors, before a full run)
#
# Prints one line per step (name, result, time) and the log of a failing step only;
# every step's full output is in build/logs/<step>.log. A check whose packages cannot
# be installed, or whose host is not there, ends with exit status 77 and is counted
# as skipped, with its reason printed; it never counts as passed. The core packages,
# both builds and both suites are never skipped: when the core packages cannot be
# installed the run stops at once. The last line is the summary,
# "test.sh: N passed, N failed, N skipped", and the exit status is 1 when any step
# failed.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/require.sh

quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *) echo "usage: test.sh [--quick]" >&2; exit 2 ;;
esac

if [ $quick -eq 1 ]; then
  echo "test.sh --quick: takes about 5 minutes on 2 cores once the dependencies are installed"
else
  echo "test.sh: takes about 20 minutes on 2 cores once the dependencies are installed"
fi
jobs=$(nproc)
logs=build/logs
mkdir -p "$logs"
rm -f "$logs"/*.log
passed=0
failed=0
skipped=0
skipped_steps=()
run_start=$SECONDS

# step NAME COMMAND...: runs the command with its output in build/logs/NAME.log.
step() {
  local name=$1 log=$logs/$1.log start=$SECONDS status
  shift
  (set -euo pipefail; "$@") >"$log" 2>&1
  status=$?
  local took=$((SECONDS - start))
  if [ $status -eq 0 ]; then
    printf '%-32s ok      %4d s\n' "$name" $took
    passed=$((passed + 1))
  elif [ $status -eq $skip_status ]; then
    local reason
    reason=$(grep -m1 '^SKIPPED: ' "$log" | sed 's/^SKIPPED: //')
    printf '%-32s SKIPPED %4d s  (%s)\n' "$name" $took "${reason:-no reason given}"
    skipped=$((skipped + 1))
    skipped_steps+=("$name")
  else
    printf '%-32s FAILED  %4d s  (exit status %d)\n' "$name" $took $status
    echo "---- last 200 lines of $log"
    tail -n 200 "$log"
    echo "----"
    failed=$((failed + 1))
  fi
  return $status
}

summary() {
  local total=$((SECONDS - run_start))
  printf 'test.sh: total time %d min %02d s\n' $((total / 60)) $((total % 60))
  [ $skipped -eq 0 ] || echo "test.sh: skipped: ${skipped_steps[*]}"
  echo "test.sh: $passed passed, $failed failed, $skipped skipped"
}

sanitized_build() {
  cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELNOR_SANITIZE=ON \
    -DVELNOR_WERROR=ON -DVELNOR_BUILD_TESTS=ON -DVELNOR_BUILD_BENCH=OFF
  cmake --build build/sanitize -j "$jobs"
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"
}

optimised_build() {
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON \
    -DVELNOR_BUILD_TESTS=ON
  cmake --build build/release -j "$jobs"
  ctest --test-dir build/release --output-on-failure -j "$jobs"
}

# The full run installs every group, the quick one the core only; either way only
# the core is required, and what could not be installed is printed here.
dependencies() {
  if [ $quick -eq 1 ]; then
    bash scripts/install-deps.sh core
    # Optional: the AVX-512 level's tests on CPUs without AVX-512.
    bash scripts/install-deps.sh simde || true
  else
    bash scripts/install-deps.sh
  fi
}
step dependencies dependencies
deps_status=$?
grep -E '^install-deps: (apt-get update failed|going on|NOT installed|.*: cannot install)' \
  "$logs/dependencies.log" | sed 's/^/  /'
if [ $deps_status -ne 0 ]; then
  summary
  exit 1
fi
step sanitized-build-and-tests sanitized_build
step optimised-build-and-tests optimised_build

# The AVX-512 pass is tested natively in the suites where the CPU has AVX-512, else
# over SIMDe in the optimised tree (tests named avx512_emulated.*). Elsewhere this
# step says so, as skipped.
avx512_emulated() {
  local cache=build/release/CMakeCache.txt untested
  untested=$(sed -n 's/^VELNOR_AVX512_UNTESTED:INTERNAL=//p' "$cache")
  [ -z "$untested" ] || skip "the AVX-512 pass is untested: $untested"
  local count
  count=$(grep -cE 'avx512_emulated\..* Passed' "$logs/optimised-build-and-tests.log")
  [ "$count" -gt 0 ] || { echo "avx512-emulated: no avx512_emulated test passed"; return 1; }
  echo "avx512-emulated: $count tests passed in the optimised tree"
}
if ! grep -qs '^VELNOR_AVX512_UNTESTED:INTERNAL=$' build/release/CMakeCache.txt ||
   grep -qs '^VELNOR_AVX512_EMULATION_ACTIVE:INTERNAL=ON$' build/release/CMakeCache.txt; then
  step avx512-emulated avx512_emulated
fi

if [ $quick -eq 0 ]; then
  # Further checks; each gets the optimised native tree in VELNOR_NATIVE_BUILD.
  export VELNOR_NATIVE_BUILD="$PWD/build/release"
  for check in scripts/checks/*.sh; do
    [ -e "$check" ] || continue
    step "check-$(basename "$check" .sh)" bash "$check"
  done
fi

summary
[ $failed -eq 0 ]
