#!/usr/bin/env bash
# Fuzzes the YUV4MPEG2 reader with libFuzzer for a bounded time (VELNOR_FUZZ_SECONDS,
# default 60) in a clang tree of its own, build/fuzz, with ASan and UBSan. The seed
# corpus is generated here: small ffmpeg streams plus hand-written edge cases.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require core clang

seconds=${VELNOR_FUZZ_SECONDS:-60}
build=build/fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DVELNOR_FUZZ=ON -DVELNOR_SANITIZE=ON \
  -DVELNOR_BUILD_TESTS=OFF -DVELNOR_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target y4m_reader_fuzz -j 2

seeds="$build/seeds"
corpus="$build/corpus"
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus"
# Each seed starts with the byte that sets the read size (0: whole input at once).
seed() {  # NAME CHUNK-BYTE-OCTAL, then the stream on stdin
  { printf "\\$2"; cat; } >"$seeds/$1"
}
for size in 16x16 17x9 5x5 1x1; do
  ffmpeg -nostdin -loglevel error -f lavfi \
    -i "testsrc2=size=32x32:rate=25,scale=$size,noise=alls=30:allf=t,format=yuv420p" \
    -frames:v 2 -pix_fmt yuv420p -f yuv4mpegpipe - | seed "ffmpeg-$size" 000
done
# Every other layout ffmpeg writes (deep ones need -strict -1), at odd sizes where
# ffmpeg writes them whole (8 bits) and even widths above 8 bits.
for format in yuv422p:9x5 yuv444p:5x3 yuv411p:9x3 gray:3x3 yuva444p:4x2 yuv420p9le:6x5 \
  yuv420p10le:16x16 yuv422p12le:4x3 yuv422p10le:8x8 yuv444p14le:3x3 yuv444p16le:4x4 \
  gray10le:5x5 gray12le:3x2 gray16le:7x3 yuv420p16le:2x2; do
  ffmpeg -nostdin -loglevel error -f lavfi \
    -i "testsrc2=size=32x32:rate=25,scale=${format#*:},noise=alls=30:allf=t,format=${format%%:*}" \
    -frames:v 2 -strict -1 -f yuv4mpegpipe - | seed "ffmpeg-${format%%:*}" 005
done
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=16x16:rate=25" -frames:v 1 \
  -pix_fmt yuv420p -chroma_sample_location left -f yuv4mpegpipe - | seed ffmpeg-mpeg2 007
printf 'YUV4MPEG2 W4 H2 Im XA=1\nFRAME Ib XB\nabcdefgh1234FRAME\nabcdefgh1234' | seed frame-tags 003
printf 'YUV4MPEG2 W3 H3 C420paldv\nFRAME\n012345678abcdefgh' | seed odd 001
printf 'YUV4MPEG2 W8 H8 C422\n' | seed unsupported 000
printf 'YUV4MPEG2 W2 H2\nFRAME\n012345FRA' | seed truncated 002
printf 'YUV4MPEG2 W2 H1 Cmono14\nFRAME\n\377\077\000\100FRAME\n\001\002\003' | seed mono14 000
printf 'YUV4MPEG2 W2 H2 C422p10\nFRAME\n\001\002\003\003\000\000\000\000\377\003\000\004\000\000\000\000' | seed range 001

echo "fuzz: running for $seconds seconds"
mkdir -p "$build/artifacts"
log="$build/fuzz.log"
status=0
"$build/fuzz/y4m_reader_fuzz" -max_total_time="$seconds" -dict=fuzz/y4m.dict -max_len=8192 \
  -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/" \
  "$corpus" "$seeds" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "fuzz: FAILED (exit status $status); the input is in $build/artifacts/" >&2
  exit 1
fi
grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|peak_rss_mb)' "$log"
echo "fuzz: no failures"
