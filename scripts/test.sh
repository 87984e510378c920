#!/usr/bin/env bash
# The one command that runs every test on a fresh Debian machine:
#   installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer
#   and runs the suite, builds an optimised tree and runs the suite there too, then
#   runs each further check in scripts/checks/ (Windows DLL under wine, fuzzing, ...).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
step() { printf '\n== %s\n' "$*"; }

step "installing dependencies"
bash scripts/install-deps.sh

step "sanitized build (ASan + UBSan)"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELNOR_SANITIZE=ON \
  -DVELNOR_WERROR=ON -DVELNOR_BUILD_BENCH=OFF >/dev/null
cmake --build build/sanitize -j "$jobs"
ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

step "optimised build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

# Further checks; each gets the optimised native tree in VELNOR_NATIVE_BUILD.
export VELNOR_NATIVE_BUILD="$PWD/build/release"
for check in scripts/checks/*.sh; do
  [ -e "$check" ] || continue
  step "check: $(basename "$check" .sh)"
  bash "$check"
done
step "all tests passed"
