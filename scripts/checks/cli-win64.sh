#!/usr/bin/env bash
# velnor.exe, the Windows x64 command-line filter (scripts/build-dist.sh), under
# wine64 beside the Linux build of the same commit: every YUV4MPEG2 layout and
# depth piped and by file, byte for byte the Linux output; non-ASCII, long and \\?\
# file names, and paths in messages as typed; a truncated stream, outputs that
# cannot be written, refusals, --suggest, --auto and --version with the Linux
# messages and exit statuses; and
# Ctrl+C, Ctrl+Break, the console closing and shutdown, each ending on whole frames;
# progress on a console, and no video written to one.
# wine delivers no console control event to a program without a console window, so
# those come from the program's test hook (VELNOR_TEST_CONSOLE_EVENT, see
# cli/platform_windows.cpp), which calls the same handler on a thread of its own,
# as Windows does. Uses VELNOR_NATIVE_BUILD (a native build tree) when set, else
# build/release.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require core mingw wine64
root=$PWD
work=$root/build/cli-win64
fail() { echo "cli-win64: $*" >&2; exit 1; }

wine64=/usr/lib/wine/wine64
paths=$(bash scripts/build-dist.sh)
exe=$(grep '/win64/velnor.exe$' <<<"$paths")
native=${VELNOR_NATIVE_BUILD:-$root/build/release}
if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$native" --target velnor -j 2 >/dev/null
linux=$native/cli/velnor

export WINEPREFIX=$work/wine-prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$work"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "cli-win64: creating the wine prefix"
  "$wine64" wineboot -i >/dev/null 2>&1 || true
fi
wineserver -w  # the one wineboot started ends first
wineserver -p  # one server for every run; ended on exit
run=$work/run
rm -rf "$run"
mkdir -p "$run"
trap 'wineserver -k 2>/dev/null || true' EXIT
cp "$exe" "$run/velnor.exe"
cd "$run"
win() { "$wine64" velnor.exe "$@"; }

failures=0
checks=0
check() {  # NAME CONDITION...: counts a check, reports it when the condition fails
  local name=$1
  shift
  checks=$((checks + 1))
  if ! "$@"; then
    echo "FAIL: $name" >&2
    failures=$((failures + 1))
  fi
}
same() { cmp -s "$1" "$2"; }
equal() { [ "$1" = "$2" ]; }

# --- every layout and depth, piped and by file --------------------------------
# pix_fmt [velnor options]; 8-bit 4:2:0 also with the paldv and mpeg2 chroma sites.
layouts=(
  "yuv420p" "yuv420p -chroma_sample_location topleft" "yuv420p -chroma_sample_location left"
  "yuv422p --chroma" "yuv444p" "yuv411p --chroma" "gray" "yuva444p --chroma"
  "yuv420p9le" "yuv422p10le --chroma" "yuv444p12le" "yuv420p14le --chroma" "yuv444p16le"
  "gray10le" "gray12le" "gray16le"
)
for case in "${layouts[@]}"; do
  read -r pix_fmt rest <<<"$case"
  site=() options=()
  [[ $rest == -chroma_sample_location* ]] && read -ra site <<<"$rest"
  [[ $rest == --chroma ]] && options=(--chroma)
  ffmpeg -nostdin -loglevel error -f lavfi \
    -i "testsrc2=size=64x48:rate=25,noise=alls=24:allf=t,format=$pix_fmt" -frames:v 3 \
    -strict -1 "${site[@]}" -f yuv4mpegpipe in.y4m -y
  "$linux" -j 2 "${options[@]}" in.y4m -o want.y4m
  cat in.y4m | win -j 2 "${options[@]}" 2>err | cat >piped.y4m
  check "$case: piped output differs from Linux" same piped.y4m want.y4m
  check "$case: messages $(cat err)" equal "$(cat err)" ""
  win "${options[@]}" in.y4m -o file.y4m
  check "$case: output by file differs from Linux" same file.y4m want.y4m
done
# The streams hold every byte value, CR, LF and Ctrl-Z among them.
[ "$(tr -dc '\r\032' <in.y4m | wc -c)" -gt 0 ] || fail "the test stream holds no CR or Ctrl-Z byte"
check "the reference pass gives the same bytes" \
  eval 'VELNOR_SIMD=reference win -j 3 in.y4m | cmp -s - want.y4m'
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=176x144:rate=25,noise=alls=24:allf=t" \
  -frames:v 5 -pix_fmt yuv420p -f yuv4mpegpipe in.y4m -y
"$linux" in.y4m -o want.y4m

# --- the Linux outcome: status, message, output -------------------------------
# name @ shell command with VELNOR for the program (standard output: out.y4m,
# standard error: err) @ status, message and output are compared with Linux's
outcomes=(
  "truncated stream @ head -c 50000 in.y4m | VELNOR -j 2 >out.y4m"
  "truncated header @ printf 'YUV4MPEG2 W8 H' | VELNOR >out.y4m"
  "not a stream @ printf 'RIFF....WAVEfmt \n' | VELNOR >out.y4m"
  "unsupported layout @ printf 'YUV4MPEG2 W8 H6 C440\n' | VELNOR >out.y4m"
  "full disk @ VELNOR in.y4m >/dev/full"
  "no such input @ VELNOR 'vidéo absente.y4m' -o out.y4m"
  "no such output folder @ VELNOR in.y4m -o 'no such folder/out.y4m'"
  "output onto the input @ cp in.y4m same.y4m; VELNOR same.y4m -o same.y4m; cmp -s same.y4m in.y4m"
  "standard output appended to the input @ cp in.y4m same.y4m; VELNOR <same.y4m >>same.y4m; cmp -s same.y4m in.y4m"
  "bad option @ VELNOR --strength x"
  "--suggest piped @ cat in.y4m | VELNOR --suggest >out.y4m"
  "--suggest by file @ VELNOR --suggest in.y4m >out.y4m"
  "--auto piped @ cat in.y4m | VELNOR --auto >out.y4m"
  "--auto by file @ VELNOR --auto -j 3 in.y4m -o out.y4m"
  "--help @ VELNOR --help >out.y4m"
)
for case in "${outcomes[@]}"; do
  IFS='@' read -r name command <<<"$case"
  name=${name% }
  for build in linux windows; do
    rm -f out.y4m same.y4m
    if [ $build = linux ]; then program="'$linux'"; else program="'$wine64' velnor.exe"; fi
    status=0
    bash -c "${command//VELNOR/$program}" 2>err || status=$?
    [ -f out.y4m ] || : >out.y4m
    mv out.y4m "out-$build.y4m"
    mv err "err-$build"
    echo "$status" >"status-$build"
  done
  check "$name: status $(cat status-windows), Linux $(cat status-linux)" same status-windows status-linux
  check "$name: message \"$(cat err-windows)\", Linux \"$(cat err-linux)\"" same err-windows err-linux
  check "$name: output differs from Linux" same out-windows.y4m out-linux.y4m
done

# A closed pipe is a write error naming the frame, never success.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=176x144:rate=25" -frames:v 60 \
  -pix_fmt yuv420p -f yuv4mpegpipe long.y4m -y
{ win -j 2 long.y4m 2>err && echo 0 >status || echo $? >status; } | head -c 100 >/dev/null
check "closed pipe: message \"$(cat err)\"" \
  grep -Eqx 'velnor: frame [0-9]+: write error: Broken pipe' err
check "closed pipe: status $(cat status)" equal "$(cat status)" 1

# --- file names as the shell gives them ----------------------------------------
mkdir -p "vidéo 日本"
cp in.y4m "vidéo 日本/entrée.y4m"
win 'vidéo 日本\entrée.y4m' -o 'vidéo 日本\sortie ß.y4m'
check "non-ASCII names" same "vidéo 日本/sortie ß.y4m" want.y4m
# Past MAX_PATH (260 characters), relative and absolute, and in the \\?\ form.
long=$(printf 'dossier-très-long-%02d/' $(seq 1 12))
mkdir -p "$long"
cp in.y4m "${long}entrée.y4m"
check "long path is over 260 characters" equal "$(( ${#run} + ${#long} > 260 ))" 1
win "${long//\//\\}entrée.y4m" -o "${long//\//\\}sortie.y4m"
check "long relative path" same "${long}sortie.y4m" want.y4m
drive="Z:${run//\//\\}\\"
win "$drive${long//\//\\}entrée.y4m" -o "\\\\?\\$drive${long//\//\\}verbatim.y4m"
check "long absolute and \\\\?\\ paths" same "${long}verbatim.y4m" want.y4m
# Messages quote a path as typed, backslashes and all.
status=0
win 'C:\no such folder\clip.y4m' -o out.y4m 2>err || status=$?
check "path as typed: \"$(cat err)\"" grep -Fqa 'velnor: cannot open input "C:\no such folder\clip.y4m": ' err
check "path as typed: status $status" equal "$status" 1

# --- stop requests: whole frames, the documented line and status ---------------
header_bytes=$(head -n1 in.y4m | wc -c)
frame_bytes=$((176 * 144 * 3 / 2 + 6))
head -c $((header_bytes + 2 * frame_bytes)) in.y4m | "$linux" >two.y4m
# event @ bytes sent before it (the producer then waits) @ status @ frames @ output
stops=(
  "ctrl-c @ $((header_bytes + 2 * frame_bytes + 5000)) @ 130 @ Ctrl+C @ 2"
  "ctrl-break @ $((header_bytes + 2 * frame_bytes)) @ 149 @ Ctrl+Break @ 2"
  "close @ $((header_bytes + 2 * frame_bytes + 100)) @ 129 @ console close @ 2"
  "shutdown @ $((header_bytes + 2 * frame_bytes + 100)) @ 143 @ logoff or shutdown @ 2"
  "ctrl-c @ 0 @ 130 @ Ctrl+C @ 0"
)
for case in "${stops[@]}"; do
  IFS='@' read -r event sent want name frames <<<"$case"
  event=${event// /} sent=${sent// /} want=${want// /} name=${name# } name=${name% }
  frames=${frames// /}
  rm -f trigger out.y4m status fifo events
  mkfifo fifo
  (head -c "$sent" in.y4m; exec sleep 300) >fifo &
  producer=$!
  (VELNOR_TEST_CONSOLE_EVENT="$event:trigger" VELNOR_TEST_EVENTS=events \
    exec "$wine64" velnor.exe -j 2 -o out.y4m <fifo 2>err) &
  filter=$!
  # The event comes once velnor has read every byte sent and waits for more
  # (docs/development.md); 60 s at most.
  for _ in $(seq 1200); do grep -qx "input-wait $sent" events 2>/dev/null && break; sleep 0.05; done
  check "$event after $sent bytes: velnor waits for input" grep -qx "input-wait $sent" events
  touch trigger
  status=0
  wait "$filter" || status=$?
  echo "$status" >status
  kill "$producer" 2>/dev/null || true
  wait "$producer" 2>/dev/null || true
  check "$event after $sent bytes: status $(cat status 2>/dev/null)" equal "$(cat status 2>/dev/null)" "$want"
  check "$event after $sent bytes: message \"$(cat err)\"" \
    equal "$(cat err)" "velnor: stopped by $name after $frames frames"
  if [ "$frames" = 0 ]; then
    check "$event after $sent bytes: wrote output" eval '[ ! -s out.y4m ]'
  else
    check "$event after $sent bytes: output is not the first $frames frames" same out.y4m two.y4m
  fi
done

# --- a console: progress shows there, video is refused ---------------------------
# script(1) gives wine a terminal, which it turns into a console; its drawing is
# taken back to text.
on_console() {
  script -qec "$1" /dev/null | tr '\r' '\n' | sed -e 's/\x1b\[1C/ /g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g'
}
on_console "'$wine64' velnor.exe in.y4m -o console-out.y4m" >console
check "progress on a console: $(cat console)" eval \
  'grep -Eqa "^velnor: 1/5 frames \(20%\), [0-9.]+ fps, [0-9]+:[0-9]{2} left" console &&
   grep -Eqa "^velnor: filtered 5 frames in [0-9.]+ s \([0-9.]+ fps\)" console'
check "progress on a console: output differs" same console-out.y4m want.y4m
on_console "'$wine64' velnor.exe in.y4m; echo status=\$?" >console
check "video to a console: $(head -c 200 console)" eval \
  'grep -qa "^velnor: standard output is a terminal; write the video to a file or a pipe" console &&
   grep -qa "^status=2" console && ! grep -qa FRAME console'

# --- --version names the pass --------------------------------------------------
check "--version" eval 'win --version | grep -Eqx "velnor [0-9.]+ \(pass: (reference|sse2|sse4\.1|avx2|avx512)\)"'
check "--version under VELNOR_SIMD=sse2" eval 'VELNOR_SIMD=sse2 win --version | grep -q "(pass: sse2)$"'

echo "cli-win64: $((checks - failures)) of $checks checks passed"
[ "$failures" -eq 0 ]
