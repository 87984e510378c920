#!/usr/bin/env bash
# Prints the release version from the top-level CMakeLists.txt's project() line, the
# one place it is set, for scripts that need it without configuring a build.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(velnor VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "version.sh: no version in CMakeLists.txt's project() line" >&2; exit 1; }
echo "$version"
