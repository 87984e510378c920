#!/usr/bin/env bash
# The one command that runs every test on a fresh Debian machine: installs what is
# missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# suite, builds an optimised tree and runs the suite there too, then runs each
# further check in scripts/checks/ (Windows DLLs under wine, fuzzing, install,
# reproducible release, ...).
#
# Prints one line per step (name, result, time) and the log of a failing step only;
# every step's full output is in build/logs/<step>.log. When the dependencies cannot
# be installed it stops at once; any other failing step is counted and the remaining
# steps still run. The last line is the summary, "test.sh: N passed, N failed", and
# the exit status is 1 when any step failed.
set -uo pipefail
cd "$(dirname "$0")/.."

echo "test.sh: takes about 35 minutes on 2 cores once the dependencies are installed"
jobs=$(nproc)
logs=build/logs
mkdir -p "$logs"
rm -f "$logs"/*.log
passed=0
failed=0

# step NAME COMMAND...: runs the command with its output in build/logs/NAME.log.
step() {
  local name=$1 log=$logs/$1.log start=$SECONDS status
  shift
  (set -euo pipefail; "$@") >"$log" 2>&1
  status=$?
  if [ $status -eq 0 ]; then
    printf '%-32s ok      %4d s\n' "$name" $((SECONDS - start))
    passed=$((passed + 1))
  else
    printf '%-32s FAILED  %4d s  (exit status %d)\n' "$name" $((SECONDS - start)) $status
    echo "---- last 200 lines of $log"
    tail -n 200 "$log"
    echo "----"
    failed=$((failed + 1))
  fi
  return $status
}

summary() { echo "test.sh: $passed passed, $failed failed"; }

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

if ! step dependencies bash scripts/install-deps.sh; then
  summary
  exit 1
fi
step sanitized-build-and-tests sanitized_build
step optimised-build-and-tests optimised_build

# Further checks; each gets the optimised native tree in VELNOR_NATIVE_BUILD.
export VELNOR_NATIVE_BUILD="$PWD/build/release"
for check in scripts/checks/*.sh; do
  [ -e "$check" ] || continue
  step "check-$(basename "$check" .sh)" bash "$check"
done

summary
[ $failed -eq 0 ]
