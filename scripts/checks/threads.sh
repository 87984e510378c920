#!/usr/bin/env bash
# Runs the command-line filter's threaded parts under ThreadSanitizer: the frame
# pipeline and in-memory filter tests, then velnor -j 4 on an ffmpeg stream.
# A clang tree of its own, build/tsan.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require core clang

build=build/tsan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
  -DVELNOR_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target cli_tests velnor -j 2

export TSAN_OPTIONS="halt_on_error=1 exitcode=66"
"$build/tests/cli/cli_tests" --gtest_filter='FramePipeline.*:FilterStream.*' --gtest_brief=1
ffmpeg -nostdin -loglevel error -f lavfi \
  -i "testsrc2=size=320x240:rate=25,noise=alls=20:allf=t,format=yuv420p" -frames:v 40 \
  -f yuv4mpegpipe - | "$build/cli/velnor" -j 4 >/dev/null
echo "threads: no data races found"
