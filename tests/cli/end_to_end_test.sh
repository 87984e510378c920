#!/usr/bin/env bash
# The built velnor program end to end:
#   - ffmpeg | velnor | ffmpeg pipes: the output must equal the expected stream byte
#     for byte (headers and chroma unchanged, luma from the reference pass);
#   - malformed and unsupported inputs: one-line message, exit status, and an output
#     that holds only the complete frames before the problem;
#   - --suggest and --auto;
#   - progress display, --help, --version and command-line errors.
# Usage: end_to_end_test.sh VELNOR EXPECTED_Y4M
set -uo pipefail

velnor=$1
expected_y4m=$2
work=$(mktemp -d)
trap '[ "$BASHPID" = "$$" ] && rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

ffmpeg_source() {  # WIDTH HEIGHT FRAMES [extra output options...]
    local size="$1x$2" frames=$3
    shift 3
    # Scaling after the source allows odd sizes; the noise filter gives the denoiser work.
    ffmpeg -nostdin -loglevel error -f lavfi \
        -i "testsrc2=size=176x144:rate=25,scale=$size,noise=alls=24:allf=t,format=yuv420p" \
        -frames:v "$frames" -pix_fmt yuv420p "$@" -f yuv4mpegpipe -
}

# --- ffmpeg round trips -------------------------------------------------------
# width height frames jobs strength threshold1 threshold2 extra-ffmpeg-options
round_trips=(
    "176 144 8 1 20 40 10"
    "176 144 8 2 20 40 10 -chroma_sample_location left"
    "176 144 5 3 20 40 10 -chroma_sample_location topleft"
    "175 143 7 2 20 40 10"
    "320 240 6 4 12 25 30"
    "64 48 4 2 -7 -5 -100"
)
for case in "${round_trips[@]}"; do
    read -r w h n jobs s t1 t2 extra <<<"$case"
    name="${w}x${h} -j $jobs --strength $s --threshold1 $t1 --threshold2 $t2 $extra"
    # shellcheck disable=SC2086
    ffmpeg_source "$w" "$h" "$n" $extra >"$work/in.y4m" || { fail "$name: ffmpeg source"; continue; }
    "$expected_y4m" "$w" "$h" "$s" "$t1" "$t2" <"$work/in.y4m" >"$work/want.y4m"
    # shellcheck disable=SC2086
    ffmpeg_source "$w" "$h" "$n" $extra |
        "$velnor" -j "$jobs" --strength "$s" --threshold1 "$t1" --threshold2 "$t2" 2>"$work/err" |
        tee "$work/got.y4m" |
        ffmpeg -nostdin -loglevel error -f yuv4mpegpipe -i - -f rawvideo -pix_fmt yuv420p - \
            >"$work/got.yuv"
    statuses=("${PIPESTATUS[@]}")
    [ "${statuses[*]}" = "0 0 0 0" ] || fail "$name: pipe exit statuses ${statuses[*]}"
    [ -s "$work/err" ] && fail "$name: unexpected messages: $(cat "$work/err")"
    cmp -s "$work/got.y4m" "$work/want.y4m" || fail "$name: output differs from the reference"
    cmp -s "$work/got.y4m" "$work/in.y4m" && fail "$name: output equals the noisy input"
    [ "$(head -n1 "$work/got.y4m")" = "$(head -n1 "$work/in.y4m")" ] || fail "$name: stream header changed"
    ffmpeg -nostdin -loglevel error -f yuv4mpegpipe -i "$work/want.y4m" -f rawvideo -pix_fmt yuv420p - \
        >"$work/want.yuv"
    cmp -s "$work/got.yuv" "$work/want.yuv" || fail "$name: ffmpeg decodes a different picture"
    frames=$(( $(stat -c %s "$work/got.yuv") / (w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2)) ))
    [ "$frames" = "$n" ] || fail "$name: ffmpeg decoded $frames frames, not $n"
done

# Named input and output files give the same bytes as the pipe.
ffmpeg_source 176 144 3 >"$work/in.y4m"
"$expected_y4m" 176 144 20 40 10 <"$work/in.y4m" >"$work/want.y4m"
"$velnor" "$work/in.y4m" -o "$work/file-out.y4m" || fail "file to file: exit status $?"
cmp -s "$work/file-out.y4m" "$work/want.y4m" || fail "file to file: output differs"

# --- malformed and unsupported input ------------------------------------------
good_header='YUV4MPEG2 W8 H6 F25:1 C420jpeg'
frame() { printf 'FRAME\n'; head -c 72 /dev/zero | tr '\0' "${1:-x}"; }  # 48 + 2 * 12 bytes
two_frames() { printf '%s\n' "$good_header"; frame a; frame b; }

# name @ input-producing command @ message on stderr @ complete frames expected on stdout
malformed=(
    "empty input @ true @ velnor: input is empty (no YUV4MPEG2 stream header) @ -"
    "no magic @ printf 'RIFF\0\0\0\0WAVEfmt \n' @ velnor: stream header: not a YUV4MPEG2 stream (it does not start with \"YUV4MPEG2\") @ -"
    "no width @ printf 'YUV4MPEG2 H6\n' @ velnor: stream header: no width (W tag) @ -"
    "no height @ printf 'YUV4MPEG2 W8 C420\n' @ velnor: stream header: no height (H tag) @ -"
    "zero width @ printf 'YUV4MPEG2 W0 H6\n' @ velnor: stream header: width is zero @ -"
    "absurd size @ printf 'YUV4MPEG2 W16384 H16384\n' @ velnor: stream header: frame size 16384x16384 exceeds the limit of 67108864 luma samples @ -"
    "overflowing width @ printf 'YUV4MPEG2 W4294967304 H6\n' @ velnor: stream header: width \"4294967304\" exceeds the limit of 16384 @ -"
    "4:2:2 @ printf 'YUV4MPEG2 W8 H6 C422\n' @ velnor: stream header: colourspace \"C422\" (4:2:2) is not supported; velnor filters 8-bit 4:2:0 only @ -"
    "4:4:4 @ printf 'YUV4MPEG2 W8 H6 C444\n' @ velnor: stream header: colourspace \"C444\" (4:4:4) is not supported; velnor filters 8-bit 4:2:0 only @ -"
    "mono @ printf 'YUV4MPEG2 W8 H6 Cmono\n' @ velnor: stream header: colourspace \"Cmono\" (monochrome) is not supported; velnor filters 8-bit 4:2:0 only @ -"
    "10 bits @ printf 'YUV4MPEG2 W8 H6 C420p10 XYSCSS=420P10\n' @ velnor: stream header: colourspace \"C420p10\" (4:2:0 with more than 8 bits) is not supported; velnor filters 8-bit 4:2:0 only @ -"
    "bad tag @ printf 'YUV4MPEG2 W8 H6 F25\n' @ velnor: stream header: malformed tag \"F25\" (expected Fn:d) @ -"
    "empty tag @ printf 'YUV4MPEG2 W8  H6\n' @ velnor: stream header: empty tag (two spaces in a row or a trailing space) @ -"
    "header cut short @ printf 'YUV4MPEG2 W8 H' @ velnor: stream header: input ends before the end of the header line @ -"
    "no frames @ printf '%s\n' \"\$good_header\" @  @ 0"
    "truncated first frame @ printf '%s\n' \"\$good_header\"; frame | head -c 50 @ velnor: frame 0: input ends inside the frame data (44 of 72 bytes) @ 0"
    "truncated third frame @ two_frames; frame c | head -c 20 @ velnor: frame 2: input ends inside the frame data (14 of 72 bytes) @ 2"
    "bad frame header @ two_frames; printf 'FRAMEZ\n'; frame @ velnor: frame 2: expected a frame header \"FRAME\", found \"FRAMEZ\" @ 2"
    "garbage after frames @ two_frames; printf 'garbage' @ velnor: frame 2: expected a frame header \"FRAME\", found \"garbage\" @ 2"
    "frame header cut short @ two_frames; printf 'FRA' @ velnor: frame 2: input ends inside the frame header @ 2"
    "bad frame tag @ two_frames; printf 'FRAME Ip  \n' @ velnor: frame 2: empty tag (two spaces in a row or a trailing space) @ 2"
)
for case in "${malformed[@]}"; do
    IFS='@' read -r name producer message complete <<<"$case"
    name=${name% } producer=${producer# } message=${message# } message=${message% } complete=${complete# }
    eval "$producer" >"$work/bad.y4m"
    # --auto with every value named filters as the defaults do, after reading the
    # first frames twice.
    for run in "-j 1" "-j 3" "-j 2 --quiet --auto --strength 20 --threshold1 40 --threshold2 10"; do
        # shellcheck disable=SC2086
        "$velnor" $run <"$work/bad.y4m" >"$work/out.y4m" 2>"$work/err"
        status=$?
        if [ -z "$message" ]; then
            [ "$status" = 0 ] || fail "$name ($run): exit status $status, expected 0"
            [ -s "$work/err" ] && fail "$name: unexpected message $(cat "$work/err")"
        else
            [ "$status" = 1 ] || fail "$name ($run): exit status $status, expected 1"
            [ "$(cat "$work/err")" = "$message" ] || fail "$name ($run): message \"$(cat "$work/err")\", expected \"$message\""
        fi
        if [ "$complete" = "-" ]; then
            [ -s "$work/out.y4m" ] && fail "$name: wrote output for a rejected stream header"
        else
            # Exactly the complete frames, filtered, and nothing else.
            { printf '%s\n' "$good_header"; for c in a b c; do frame $c; done; } |
                head -c $(( ${#good_header} + 1 + complete * 78 )) |
                "$expected_y4m" 8 6 20 40 10 >"$work/want.y4m"
            cmp -s "$work/out.y4m" "$work/want.y4m" || fail "$name ($run): output is not the $complete complete frames"
        fi
    done
    # --suggest: the same message (its own for a stream without frames), nothing on stdout.
    want=${message:-velnor: no frames to estimate the noise from}
    "$velnor" --suggest <"$work/bad.y4m" >"$work/out.txt" 2>"$work/err"
    status=$?
    [ "$status" = 1 ] || fail "--suggest, $name: exit status $status, expected 1"
    [ "$(cat "$work/err")" = "$want" ] || fail "--suggest, $name: message \"$(cat "$work/err")\", expected \"$want\""
    [ -s "$work/out.txt" ] && fail "--suggest, $name: printed \"$(cat "$work/out.txt")\""
done

# --- suggested settings -------------------------------------------------------
# One line of options on stdout and the estimate on stderr; --auto filters as those
# options do (the sampled frames too, from a pipe as from a file), and values named
# on the command line win.
ffmpeg_source 320 240 6 >"$work/noisy.y4m"
"$velnor" --suggest "$work/noisy.y4m" >"$work/suggested" 2>"$work/err" || fail "--suggest: exit status $?"
[ "$(wc -l <"$work/suggested")" = 1 ] &&
    grep -Eqx -- '--strength [0-9]+ --threshold1 [0-9]+ --threshold2 [0-9]+' "$work/suggested" ||
    fail "--suggest printed \"$(cat "$work/suggested")\""
grep -Eqx 'velnor: luma noise sigma [0-9]+\.[0-9]{2}, estimated from 6 frames of 320x240 .*' "$work/err" ||
    fail "--suggest: estimate \"$(cat "$work/err")\""
read -r _ s _ t1 _ t2 <"$work/suggested"
# arguments (input on stdin unless named) @ strength threshold1 threshold2 that must apply
auto_cases=(
    "--auto @ $s $t1 $t2"
    "--auto -j 3 $work/noisy.y4m @ $s $t1 $t2"
    "--auto --threshold2 3 @ $s $t1 3"
    "--strength 7 --threshold1=9 --auto @ 7 9 $t2"
)
for case in "${auto_cases[@]}"; do
    IFS='@' read -r args want <<<"$case"
    read -r ws wt1 wt2 <<<"$want"
    "$expected_y4m" 320 240 "$ws" "$wt1" "$wt2" <"$work/noisy.y4m" >"$work/want.y4m"
    # shellcheck disable=SC2086
    "$velnor" $args <"$work/noisy.y4m" >"$work/got.y4m" 2>"$work/err" || fail "$args: exit status $?"
    cmp -s "$work/got.y4m" "$work/want.y4m" || fail "$args: output differs from --strength $ws --threshold1 $wt1 --threshold2 $wt2"
    grep -q "filtering with --strength $ws --threshold1 $wt1 --threshold2 $wt2\$" "$work/err" ||
        fail "$args: message \"$(cat "$work/err")\""
done

# --- command line, progress and terminals --------------------------------------
expect_status() {  # STATUS MESSAGE-PATTERN COMMAND...
    local want=$1 pattern=$2
    shift 2
    "$@" >"$work/out" 2>"$work/err" </dev/null
    local got=$?
    [ "$got" = "$want" ] || fail "$*: exit status $got, expected $want"
    grep -q -- "$pattern" "$work/err" "$work/out" || fail "$*: no \"$pattern\" in the output"
}
expect_status 0 '^Usage: velnor' "$velnor" --help
expect_status 0 '^velnor 0\.1 (pass: ' "$velnor" --version
expect_status 2 '^velnor: --strength: "x" is not a whole number$' "$velnor" --strength x
expect_status 2 '^velnor: --threshold1: "2147483648" is outside the 32-bit range' "$velnor" --threshold1 2147483648
expect_status 2 '^velnor: unknown option "--bogus" (see --help)$' "$velnor" --bogus
expect_status 2 '^velnor: -j: the number of threads must be 1 to 256$' "$velnor" -j 0
expect_status 2 '^velnor: --suggest writes no video; it takes no -o$' "$velnor" --suggest -o x.y4m
expect_status 1 '^velnor: cannot open input "/nonexistent.y4m": No such file or directory$' \
    "$velnor" /nonexistent.y4m -o "$work/never.y4m"
[ -e "$work/never.y4m" ] && fail "an output file was created for a missing input"
cp "$work/in.y4m" "$work/same.y4m"
expect_status 2 '^velnor: input and output are the same file' "$velnor" "$work/same.y4m" -o "$work/same.y4m"
cmp -s "$work/same.y4m" "$work/in.y4m" || fail "same-file refusal changed the file"

# A reader that goes away: a write error with a message, not a silent kill.
ffmpeg_source 176 144 40 >"$work/long.y4m"
"$velnor" -j 2 "$work/long.y4m" 2>"$work/err" | head -c 100 >/dev/null
status=${PIPESTATUS[0]}
[ "$status" = 1 ] || fail "closed pipe: exit status $status, expected 1"
grep -q '^velnor: write error: Broken pipe$' "$work/err" || fail "closed pipe: message \"$(cat "$work/err")\""

# Progress goes to a terminal only, and not with --quiet. script(1) provides the terminal.
if command -v script >/dev/null; then
    on_tty() { script -qec "$1" /dev/null | tr '\r' '\n'; }
    on_tty "'$velnor' '$work/in.y4m' -o '$work/tty-out.y4m'" >"$work/tty"
    grep -Eq '^velnor: 3 frames, [0-9.]+ fps' "$work/tty" || fail "no progress on a terminal: $(cat "$work/tty")"
    on_tty "'$velnor' --quiet '$work/in.y4m' -o '$work/tty-out.y4m'" >"$work/tty"
    [ -s "$work/tty" ] && fail "--quiet still shows progress: $(cat "$work/tty")"
    on_tty "'$velnor' '$work/in.y4m'; echo status=\$?" >"$work/tty"
    grep -q 'standard output is a terminal' "$work/tty" && grep -q 'status=2' "$work/tty" ||
        fail "writing video to a terminal was not refused: $(cat "$work/tty")"
else
    fail "script(1) is missing; cannot test the progress display"
fi
"$velnor" "$work/in.y4m" -o "$work/out.y4m" 2>"$work/err"
[ -s "$work/err" ] && fail "progress shown although standard error is not a terminal"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "all end-to-end checks passed"
