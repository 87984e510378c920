#!/usr/bin/env bash
# The shipped libraries: builds all three with scripts/build-dist.sh, which fails
# unless the Linux .so and the Windows x64 DLL export exactly the AviSynth+ and
# VapourSynth entry points, neither depends on libavisynth / AviSynth.dll, and the
# DLL imports only system DLLs.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require mingw
paths=$(bash scripts/build-dist.sh)
echo "host-libraries: built and checked"
echo "$paths"
