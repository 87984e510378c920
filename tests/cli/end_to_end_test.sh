#!/usr/bin/env bash
# The built velnor program end to end:
#   - ffmpeg | velnor | ffmpeg pipes: the output must equal the expected stream byte
#     for byte (headers and chroma unchanged, luma from the reference pass), for
#     8-bit 4:2:0 and for the other layouts and depths ffmpeg writes;
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

# Checks that must catch velnor at a point (waiting for input, say) wait for the
# line it writes there under VELNOR_TEST_EVENTS (cli/test_events.h), never for a
# time: a slow or loaded machine only makes them take longer.
events=$work/events
wait_event() {  # LINE: until velnor has written LINE to $events; false after 60 s
    local _
    for _ in $(seq 1200); do
        grep -qx -- "$1" "$events" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
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

# Every other layout and depth, as ffmpeg writes and reads it back; with --chroma Cb
# and Cr are filtered at their own size. ffmpeg 5.1 writes chroma rows of odd-width
# streams above 8 bits one byte short (neither it nor velnor reads those back), so
# the deep rows have even widths.
# pix_fmt width height bits chroma-width chroma-height planes [chroma]
layouts=(
    "yuv422p10le 176 144 10 88 144 3"
    "yuv422p10le 176 143 10 88 143 3 chroma"
    "yuv420p12le 64 47 12 32 24 3 chroma"
    "yuv444p16le 64 48 16 64 48 3"
    "gray10le 63 47 10 63 47 1"
    "yuv411p 175 143 8 44 143 3 chroma"
    "yuva444p 63 47 8 63 47 4 chroma"
)
for case in "${layouts[@]}"; do
    read -r pix_fmt w h bits cw ch planes chroma <<<"$case"
    name="$pix_fmt ${w}x${h}${chroma:+ --chroma}"
    ffmpeg -nostdin -loglevel error -f lavfi \
        -i "testsrc2=size=176x144:rate=25,scale=${w}x$h,noise=alls=24:allf=t,format=$pix_fmt" \
        -frames:v 4 -strict -1 -f yuv4mpegpipe - >"$work/in.y4m" || { fail "$name: ffmpeg source"; continue; }
    "$expected_y4m" "$w" "$h" 20 40 10 "$bits" "$cw" "$ch" "$planes" $chroma <"$work/in.y4m" >"$work/want.y4m"
    "$velnor" -j 2 ${chroma:+--chroma} <"$work/in.y4m" 2>"$work/err" | tee "$work/got.y4m" |
        ffmpeg -nostdin -loglevel error -f yuv4mpegpipe -i - -f rawvideo -pix_fmt "$pix_fmt" - >"$work/got.raw"
    statuses=("${PIPESTATUS[@]}")
    [ "${statuses[*]}" = "0 0 0" ] || fail "$name: pipe exit statuses ${statuses[*]} ($(cat "$work/err"))"
    cmp -s "$work/got.y4m" "$work/want.y4m" || fail "$name: output differs from the reference"
    cmp -s "$work/got.y4m" "$work/in.y4m" && fail "$name: output equals the noisy input"
    sample_bytes=$(( bits > 8 ? 2 : 1 ))
    frame_size=$(( (w * h * (planes == 4 ? 2 : 1) + (planes > 1 ? 2 * cw * ch : 0)) * sample_bytes ))
    [ "$(stat -c %s "$work/got.raw")" = $((4 * frame_size)) ] || fail "$name: ffmpeg decoded $(stat -c %s "$work/got.raw") bytes, not 4 frames"
done

# ffmpeg 5.1's odd-width deep streams (chroma rows one byte short): where velnor
# finds them malformed, the message says how to get a stream it reads.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=176x144:rate=25,scale=175x143,format=yuv422p10le" \
    -frames:v 3 -strict -1 -f yuv4mpegpipe - 2>/dev/null | "$velnor" >/dev/null 2>"$work/err"
status=$?
[ "$status" = 0 ] || grep -q '^velnor: frame 0: .* (ffmpeg 5.1 writes odd widths above 8 bits with chroma rows one byte short; give it an even width)$' "$work/err" ||
    fail "odd-width 10-bit stream from ffmpeg: exit status $status, message $(cat "$work/err")"

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
    "4:4:0 @ printf 'YUV4MPEG2 W8 H6 C440\n' @ velnor: stream header: colourspace \"C440\" (4:4:0) is not supported; convert with ffmpeg -pix_fmt yuv444p @ -"
    "4:1:1 at 10 bits @ printf 'YUV4MPEG2 W8 H6 C411p10\n' @ velnor: stream header: colourspace \"C411p10\" (4:1:1, 10 bits) is not supported; convert with ffmpeg -pix_fmt yuv422p10le -strict -1 @ -"
    "11 bits @ printf 'YUV4MPEG2 W8 H6 C420p11 XYSCSS=420P11\n' @ velnor: stream header: colourspace \"C420p11\" (11-bit samples) is not supported; velnor reads 8 bits (no suffix) and 9, 10, 12, 14 and 16: convert with ffmpeg -pix_fmt yuv420p16le -strict -1 @ -"
    "8 bits named @ printf 'YUV4MPEG2 W8 H6 C411p8\n' @ velnor: stream header: colourspace \"C411p8\" (8-bit samples) is not supported; 8-bit streams name no depth (\"C411\"): convert with ffmpeg -pix_fmt yuv411p @ -"
    "7 bits @ printf 'YUV4MPEG2 W8 H6 Cmono7\n' @ velnor: stream header: colourspace \"Cmono7\" (7-bit samples) is not supported; velnor reads 8 bits (no suffix) and 9, 10, 12, 14 and 16: convert with ffmpeg -pix_fmt gray @ -"
    "999 bits @ printf 'YUV4MPEG2 W8 H6 C420p999\n' @ velnor: stream header: unknown colourspace \"C420p999\" (velnor reads C420jpeg, C420paldv, C420mpeg2, C420, C422, C444, C411, Cmono, C444alpha, and C420pN, C422pN, C444pN, CmonoN for N = 9, 10, 12, 14 and 16) @ -"
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
# Odd sides: the estimate names the stream's own size.
ffmpeg_source 319 239 6 >"$work/noisy.y4m"
"$velnor" --suggest "$work/noisy.y4m" >"$work/suggested" 2>"$work/err" || fail "--suggest: exit status $?"
[ "$(wc -l <"$work/suggested")" = 1 ] &&
    grep -Eqx -- '--strength [0-9]+ --threshold1 [0-9]+ --threshold2 [0-9]+' "$work/suggested" ||
    fail "--suggest printed \"$(cat "$work/suggested")\""
grep -Eqx 'velnor: luma noise sigma [0-9]+\.[0-9]{2}, detail [0-9]+\.[0-9]{2}, estimated from 6 frames of 319x239 .*' "$work/err" ||
    fail "--suggest: estimate \"$(cat "$work/err")\""
read -r _ s _ t1 _ t2 <"$work/suggested"
# arguments (input on stdin unless named) @ strength threshold1 threshold2 that must apply
auto_cases=(
    "--auto @ $s $t1 $t2"
    "--auto -j 3 $work/noisy.y4m @ $s $t1 $t2"
    "--auto --threshold2 3 @ $s $t1 3"
    "--strength 7 --threshold1=9 --auto @ 7 9 $t2"
)
# The same frames at 10 bits (ffmpeg shifts each sample left) and 4:2:2: the
# estimate is in 8-bit steps, so the suggestion is the same, and --auto applies it.
# Even sides: ffmpeg 5.1 writes odd widths above 8 bits with short chroma rows.
ffmpeg_source 320 240 6 >"$work/noisy8.y4m"
"$velnor" --suggest "$work/noisy8.y4m" >"$work/suggested8" 2>"$work/err8" || fail "--suggest at 8 bits: exit status $?"
ffmpeg -nostdin -loglevel error -f yuv4mpegpipe -i "$work/noisy8.y4m" -pix_fmt yuv422p10le -strict -1 \
    -f yuv4mpegpipe - >"$work/noisy10.y4m"
"$velnor" --suggest "$work/noisy10.y4m" >"$work/suggested10" 2>"$work/err10" || fail "--suggest at 10 bits: exit status $?"
cmp -s "$work/suggested8" "$work/suggested10" || fail "--suggest at 10 bits printed \"$(cat "$work/suggested10")\", at 8 bits \"$(cat "$work/suggested8")\""
cmp -s "$work/err8" "$work/err10" || fail "--suggest at 10 bits: estimate \"$(cat "$work/err10")\", at 8 bits \"$(cat "$work/err8")\""
read -r _ s10 _ t110 _ t210 <"$work/suggested10"
"$expected_y4m" 320 240 "$s10" "$t110" "$t210" 10 160 240 3 <"$work/noisy10.y4m" >"$work/want.y4m"
"$velnor" --auto --quiet <"$work/noisy10.y4m" | cmp -s - "$work/want.y4m" || fail "--auto at 10 bits: output differs"
for case in "${auto_cases[@]}"; do
    IFS='@' read -r args want <<<"$case"
    read -r ws wt1 wt2 <<<"$want"
    "$expected_y4m" 319 239 "$ws" "$wt1" "$wt2" <"$work/noisy.y4m" >"$work/want.y4m"
    # From a file (read again) and from a pipe (replayed from a copy).
    for via in file pipe; do
        [ $via = pipe ] && [[ $args == *"$work"* ]] && continue
        # shellcheck disable=SC2086
        if [ $via = file ]; then "$velnor" $args <"$work/noisy.y4m"; else cat "$work/noisy.y4m" | "$velnor" $args; fi \
            >"$work/got.y4m" 2>"$work/err" || fail "$args ($via): exit status $?"
        cmp -s "$work/got.y4m" "$work/want.y4m" || fail "$args ($via): output differs from --strength $ws --threshold1 $wt1 --threshold2 $wt2"
        grep -q "filtering with --strength $ws --threshold1 $wt1 --threshold2 $wt2\$" "$work/err" ||
            fail "$args ($via): message \"$(cat "$work/err")\""
    done
done
# No measurable noise (flat grey): --suggest says so and names a setting that leaves
# the picture as it is, which --auto then does.
{ printf 'YUV4MPEG2 W64 H48\n'; for _ in 1 2; do printf 'FRAME\n'; head -c 4608 /dev/zero | tr '\0' '\200'; done; } >"$work/flat.y4m"
"$velnor" --suggest "$work/flat.y4m" >"$work/suggested" 2>"$work/err" || fail "--suggest, flat: exit status $?"
grep -Eqx -- '--strength 0 --threshold1 -?[0-9]+ --threshold2 -?[0-9]+' "$work/suggested" ||
    fail "--suggest, flat: printed \"$(cat "$work/suggested")\""
grep -q '^velnor: no noise measurable: luma noise sigma 0\.00, detail [0-9.]*, below the lightest level' "$work/err" ||
    fail "--suggest, flat: message \"$(cat "$work/err")\""
"$velnor" --auto "$work/flat.y4m" 2>"$work/err" | cmp -s - "$work/flat.y4m" || fail "--auto, flat: the picture changed"
grep -q '^velnor: no noise measurable: .*; filtering with --strength 0 ' "$work/err" ||
    fail "--auto, flat: message \"$(cat "$work/err")\""

# Each chroma plane measured on its own: --suggest --chroma prints the luma's line
# as without --chroma, then --chroma --cb S,T1,T2 --cr S,T1,T2, and --auto --chroma
# filters each plane with those values; values named for every plane and --cb/--cr
# win as --help says. Cb and Cr carry noise of very different strength, so any
# settings table gives them different values.
ffmpeg -nostdin -loglevel error -f lavfi \
    -i "testsrc2=size=176x144:rate=25,scale=320x240,noise=c0s=24:c0f=t:c1s=10:c1f=t:c2s=40:c2f=t,format=yuv420p" \
    -frames:v 6 -pix_fmt yuv420p -f yuv4mpegpipe - >"$work/chroma.y4m"
"$velnor" --suggest "$work/chroma.y4m" >"$work/suggested" 2>/dev/null || fail "--suggest, chroma noise: exit status $?"
"$velnor" --suggest --chroma "$work/chroma.y4m" >"$work/suggested_chroma" 2>"$work/err" || fail "--suggest --chroma: exit status $?"
grep -Eqx -- "$(cat "$work/suggested") --chroma --cb -?[0-9]+,-?[0-9]+,-?[0-9]+ --cr -?[0-9]+,-?[0-9]+,-?[0-9]+" "$work/suggested_chroma" ||
    fail "--suggest --chroma printed \"$(cat "$work/suggested_chroma")\", without --chroma \"$(cat "$work/suggested")\""
grep -Eqx 'velnor: luma noise sigma [0-9.]+, detail [0-9.]+; (no noise measurable: )?Cb noise sigma [0-9.]+, detail [0-9.]+(, below [^;]*)?; (no noise measurable: )?Cr noise sigma [0-9.]+, detail [0-9.]+(, below [^;]*)?, estimated from 6 frames of 320x240 .* of [0-9]+, [0-9]+ and [0-9]+ blocks\)' "$work/err" ||
    fail "--suggest --chroma: estimate \"$(cat "$work/err")\""
read -r _ s _ t1 _ t2 _ _ cb _ cr <"$work/suggested_chroma"
[ "$cb" != "$cr" ] || fail "--suggest --chroma: Cb and Cr got the same values $cb from different noise"
IFS=, read -r cbs cbt1 cbt2 <<<"$cb"
# arguments @ luma values @ Cb values @ Cr values that must apply
chroma_cases=(
    "--auto --chroma @ $s $t1 $t2 @ $cb @ $cr"
    "--auto --chroma --threshold2 3 @ $s $t1 3 @ $cbs,$cbt1,3 @ ${cr%,*},3"
    "--chroma --cr 1,2,3 --auto --strength 7 @ 7 $t1 $t2 @ 7,$cbt1,$cbt2 @ 1,2,3"
    "--chroma --cb=5,6,7 @ 20 40 10 @ 5,6,7 @ 20,40,10"
    "$(cat "$work/suggested_chroma") @ $s $t1 $t2 @ $cb @ $cr"
)
for case in "${chroma_cases[@]}"; do
    IFS='@' read -r args luma want_cb want_cr <<<"$case"
    read -r ws wt1 wt2 <<<"$luma"
    # shellcheck disable=SC2086
    "$expected_y4m" 320 240 $ws $wt1 $wt2 8 160 120 3 chroma $want_cb $want_cr <"$work/chroma.y4m" >"$work/want.y4m"
    # shellcheck disable=SC2086
    "$velnor" $args <"$work/chroma.y4m" >"$work/got.y4m" 2>"$work/err" || fail "$args: exit status $?"
    cmp -s "$work/got.y4m" "$work/want.y4m" || fail "$args: output differs from luma $luma, Cb $want_cb, Cr $want_cr"
    [[ $args == *--auto* ]] || continue
    grep -q -- "filtering with --strength $ws --threshold1 $wt1 --threshold2 $wt2 --chroma --cb ${want_cb// /} --cr ${want_cr// /}\$" "$work/err" ||
        fail "$args: message \"$(cat "$work/err")\""
done
# A monochrome stream has no chroma to measure: a note, then the luma's line alone.
ffmpeg -nostdin -loglevel error -f yuv4mpegpipe -i "$work/chroma.y4m" -pix_fmt gray -f yuv4mpegpipe - >"$work/gray.y4m"
"$velnor" --suggest "$work/gray.y4m" >"$work/suggested" 2>/dev/null || fail "--suggest, monochrome: exit status $?"
"$velnor" --suggest --chroma "$work/gray.y4m" >"$work/suggested_gray" 2>"$work/err" || fail "--suggest --chroma, monochrome: exit status $?"
cmp -s "$work/suggested_gray" "$work/suggested" || fail "--suggest --chroma, monochrome: printed \"$(cat "$work/suggested_gray")\", without --chroma \"$(cat "$work/suggested")\""
grep -q '^velnor: --chroma: the stream is monochrome; only its luma is measured$' "$work/err" ||
    fail "--suggest --chroma, monochrome: message \"$(cat "$work/err")\""

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
expect_status 0 "^velnor ${VELNOR_EXPECTED_VERSION:?} (pass: " "$velnor" --version
expect_status 2 '^velnor: --strength: "x" is not a whole number$' "$velnor" --strength x
expect_status 2 '^velnor: --threshold1: "2147483648" is outside the 32-bit range' "$velnor" --threshold1 2147483648
expect_status 2 '^velnor: unknown option "--bogus" (see --help)$' "$velnor" --bogus
expect_status 2 '^velnor: -j: the number of threads must be 1 to 256$' "$velnor" -j 0
expect_status 2 '^velnor: --suggest writes no video; it takes no -o$' "$velnor" --suggest -o x.y4m
for options in "--strength 5" "--threshold1=9" "--threshold2 3" "--auto" "--chroma --cb 1,2,3" "-j 2"; do
    # shellcheck disable=SC2086
    expect_status 2 '^velnor: --suggest only measures the noise; it takes no --auto, --strength' "$velnor" --suggest $options
done
# An unknown VELNOR_SIMD value is named in one line with the names accepted, and
# velnor goes on at the best level; each name that line lists is taken silently.
best=$(env -u VELNOR_SIMD "$velnor" --version)
best_level=${best##*pass: } best_level=${best_level%)}
accepted=
for value in sse41 SSE2 bogus; do
    VELNOR_SIMD=$value "$velnor" --version >"$work/out" 2>"$work/err"
    [ "$(cat "$work/out")" = "$best" ] || fail "VELNOR_SIMD=$value: \"$(cat "$work/out")\", not \"$best\""
    grep -Eqx "velnor: VELNOR_SIMD \"$value\" names no level \(([a-z0-9.]+, )+[a-z0-9.]+\); using $best_level" \
        "$work/err" || fail "VELNOR_SIMD=$value: message \"$(cat "$work/err")\""
    accepted=$(sed -E 's/.*\((.*)\);.*/\1/; s/,//g' "$work/err")
done
for name in $accepted; do
    VELNOR_SIMD=$name "$velnor" --version >/dev/null 2>"$work/err"
    [ -s "$work/err" ] && fail "VELNOR_SIMD=$name: $(cat "$work/err")"
done
[ -n "$accepted" ] || fail "no accepted VELNOR_SIMD names listed"
expect_status 1 '^velnor: cannot open input "/nonexistent.y4m": No such file or directory$' \
    "$velnor" /nonexistent.y4m -o "$work/never.y4m"
[ -e "$work/never.y4m" ] && fail "an output file was created for a missing input"


# Progress goes to a terminal only, and not with --quiet. script(1) provides the terminal.
if command -v script >/dev/null; then
    on_tty() { script -qec "$1" /dev/null | tr '\r' '\n'; }
    # The first frame shows at once; a named file of fixed-size frames has a total,
    # a pipe shows the time elapsed. The closing line says what was done, and when.
    ffmpeg_source 64 48 40 >"$work/forty.y4m"
    # command (VELNOR: the program) @ first line drawn
    total="velnor: 1/40 frames \\(3%\\), [0-9.]+ fps, [0-9]+:[0-5][0-9] left"
    elapsed="velnor: 1 frame, [0-9.]+ fps, 0:[0-5][0-9] elapsed"
    closing="velnor: filtered 40 frames in [0-9.]+ s \\([0-9.]+ fps\\)"
    progress_cases=(
        "VELNOR '$work/forty.y4m' @ $total"
        "VELNOR <'$work/forty.y4m' @ $total"
        "cat '$work/forty.y4m' | VELNOR @ $elapsed"
    )
    for case in "${progress_cases[@]}"; do
        IFS='@' read -r command first <<<"$case"
        command=${command% } first=${first# }
        on_tty "${command//VELNOR/\'$velnor\'} -o '$work/tty-out.y4m'" >"$work/tty"
        grep -Eqx "$first" "$work/tty" && grep -Eqx "$closing" "$work/tty" ||
            fail "progress on a terminal ($command): $(cat "$work/tty")"
    done
    on_tty "'$velnor' --quiet '$work/in.y4m' -o '$work/tty-out.y4m'" >"$work/tty"
    [ -s "$work/tty" ] && fail "--quiet still shows progress: $(cat "$work/tty")"
    # Video never goes to a terminal, however the output is given.
    for output in "" "-o /dev/tty" "-o -"; do
        on_tty "'$velnor' '$work/in.y4m' $output; echo status=\$?" >"$work/tty"
        grep -q 'is a terminal; write the video to a file or a pipe' "$work/tty" && grep -q 'status=2' "$work/tty" ||
            fail "writing video to a terminal ($output) was not refused: $(head -c 100 "$work/tty" | cat -v)"
        grep -q 'FRAME' "$work/tty" && fail "video reached the terminal ($output)"
    done
else
    fail "script(1) is missing; cannot test the progress display"
fi
"$velnor" "$work/in.y4m" -o "$work/out.y4m" 2>"$work/err"
[ -s "$work/err" ] && fail "progress shown although standard error is not a terminal"

# --- hostile conditions ----------------------------------------------------------
# One table per kind of trouble. Rows of run_cases: name @ command (with $velnor and
# $work; its standard error is checked) @ exit status @ message pattern (empty: no
# message) @ expected output in $work/out.y4m: N for the first N frames of in.y4m
# (176x144, 3 frames) filtered, "-" for none, or a file in $work.
frame_bytes=$((176 * 144 * 3 / 2 + 6))
header_bytes=$(($(head -n1 "$work/in.y4m" | wc -c)))
check_run() {  # NAME STATUS WANT-STATUS MESSAGE-PATTERN EXPECTED
    local name=$1 got=$2 want=$3 pattern=$4 expected=$5
    [ "$got" = "$want" ] || fail "$name: exit status $got, expected $want ($(head -c 300 "$work/err"))"
    if [ -z "$pattern" ]; then
        [ -s "$work/err" ] && fail "$name: unexpected message $(cat "$work/err")"
    else
        grep -Eq -- "$pattern" "$work/err" || fail "$name: message \"$(cat "$work/err")\", expected /$pattern/"
        [ "$(wc -l <"$work/err")" = 1 ] || fail "$name: not one line: $(cat "$work/err")"
    fi
    case $expected in
        -) [ -e "$work/out.y4m" ] && fail "$name: wrote output" ;;
        [0-9]*) head -c $((header_bytes + expected * frame_bytes)) "$work/in.y4m" |
            "$expected_y4m" 176 144 20 40 10 | cmp -s - "$work/out.y4m" ||
            fail "$name: output is not the $expected complete frames" ;;
        *) cmp -s "$work/$expected" "$work/out.y4m" || fail "$name: output differs from $expected" ;;
    esac
}
run_cases() {  # ROW...
    local case name command want pattern expected
    for case in "$@"; do
        IFS='@' read -r name command want pattern expected <<<"$case"
        pattern=${pattern# } pattern=${pattern% }
        rm -f "$work/out.y4m"
        eval "$command" 2>"$work/err"
        check_run "${name% }" $? "${want// /}" "$pattern" "${expected// /}"
    done
}
head -c $((header_bytes + 2 * frame_bytes + 1000)) "$work/in.y4m" >"$work/cut.y4m"  # 2 frames and a bit

# Memory and threads running out part-way. Address-space limits only work without
# sanitizers (their shadow memory alone exceeds them). The reference pass keeps the
# first frames busy while more buffers are requested. Frame buffers that do not fit
# mean fewer frames in flight: every -j writes what -j 1 writes.
if (ulimit -v 200000; "$velnor" --version >/dev/null 2>&1; status=$?; exit $status) 2>/dev/null; then
    head -c $((8192 * 2048 * 3 / 2)) /dev/urandom >"$work/big-frame"
    big_stream() {  # N frames of 8192x2048
        printf 'YUV4MPEG2 W8192 H2048\n'
        for _ in $(seq "$1"); do printf 'FRAME\n'; cat "$work/big-frame"; done
    }
    huge_bytes=$((16384 * 4096 * 3 / 2))
    huge_stream() {  # N flat frames of 16384x4096
        printf 'YUV4MPEG2 W16384 H4096\n'
        for _ in $(seq "$1"); do printf 'FRAME\n'; head -c "$huge_bytes" /dev/zero | tr '\0' '\200'; done
    }
    big_stream 4 | "$velnor" >"$work/big-four.y4m"
    printf 'YUV4MPEG2 W16384 H4096\n' >"$work/huge-header.y4m"
    # shellcheck disable=SC2016
    run_cases \
        "thread stacks beyond the limit @ (ulimit -s 65536 -v 200000; \"\$velnor\" -j 8 \"\$work/in.y4m\" >\"\$work/out.y4m\") @ 0 @ @ 3" \
        "third frame buffer beyond the limit @ big_stream 4 | (ulimit -v 84000; VELNOR_SIMD=reference \"\$velnor\" -j 2 >\"\$work/out.y4m\") @ 0 @ @ big-four.y4m" \
        "-j 1 at the limit @ big_stream 4 | (ulimit -v 84000; \"\$velnor\" -j 1 >\"\$work/out.y4m\") @ 0 @ @ big-four.y4m" \
        "-j 16 at the limit of -j 1 @ big_stream 4 | (ulimit -v 84000; \"\$velnor\" -j 16 >\"\$work/out.y4m\") @ 0 @ @ big-four.y4m" \
        "-j 64 at the limit of -j 1 @ big_stream 4 | (ulimit -v 84000; \"\$velnor\" -j 64 >\"\$work/out.y4m\") @ 0 @ @ big-four.y4m" \
        "no room for one frame @ huge_stream 1 | (ulimit -v 84000; \"\$velnor\" -j 4 >\"\$work/out.y4m\") @ 1 @ ^velnor: frame 0: out of memory for the frame buffer \($huge_bytes bytes\)$ @ huge-header.y4m" \
        "--suggest: no room for one frame @ huge_stream 1 | (ulimit -v 84000; \"\$velnor\" --suggest) @ 1 @ ^velnor: frame 0: out of memory for the frame buffer \($huge_bytes bytes\)$ @ -" \
        "--auto: no room for the measured copy @ huge_stream 1 | (ulimit -v 150000; \"\$velnor\" --auto -o \"\$work/out.y4m\") @ 1 @ ^velnor: frame 0: out of memory for the copy of the measured frames$ @ -"
    # From below the address space velnor needs to start (measured: it depends on the
    # build) upwards, every limit ends in the whole stream, in one out-of-memory line
    # or, below what the loader needs, in the loader's message; never in an abort.
    # At some limit the reader's buffer is what fails.
    load_kb=3000
    until (ulimit -v $load_kb; "$velnor" --version) >/dev/null 2>&1 || [ $load_kb -gt 60000 ]; do
        load_kb=$((load_kb + 50))
    done
    input_buffer_refused=no
    for kb in $(seq $((load_kb - 150)) 10 $((load_kb + 600))); do
        for run in "--version" "-q -j 64 $work/in.y4m -o $work/out.y4m"; do
            # shellcheck disable=SC2086
            (ulimit -v "$kb"; "$velnor" $run >/dev/null) 2>"$work/err" && status=0 || status=$?
            case $status in
                0) ;;
                1) grep -Eqx 'velnor: (frame [0-9]+: )?out of memory.*' "$work/err" ||
                    fail "$run at $kb KiB: \"$(cat "$work/err")\""
                   grep -qx 'velnor: out of memory for the input buffer (65536 bytes)' "$work/err" &&
                    input_buffer_refused=yes ;;
                127) grep -Eq 'error while loading shared libraries|cannot allocate TLS' "$work/err" ||
                    fail "$run at $kb KiB: exit status 127, \"$(cat "$work/err")\"" ;;
                *) fail "$run at $kb KiB: exit status $status, \"$(cat "$work/err")\"" ;;
            esac
        done
    done
    [ $input_buffer_refused = yes ] || fail "no limit above $load_kb KiB refused the input buffer"

    # Many threads on wide deep frames: each worker's scratch is set aside before the
    # frames it takes, so wherever -j 1 writes the whole stream, -j 8 writes the same.
    wide_bytes=$((16384 * 8 * 2 * 3 / 2))
    { printf 'YUV4MPEG2 W16384 H8 C420p16\n'
      for _ in 1 2 3 4 5 6; do printf 'FRAME\n'; head -c "$wide_bytes" /dev/urandom; done
    } >"$work/wide.y4m"
    "$velnor" -q -j 1 "$work/wide.y4m" -o "$work/wide-want.y4m"
    for kb in $(seq $((load_kb + 1000)) 200 $((load_kb + 5000))); do
        (ulimit -v "$kb"; "$velnor" -q -j 1 "$work/wide.y4m" -o "$work/out.y4m") 2>/dev/null || continue
        (ulimit -v "$kb"; "$velnor" -q -j 8 "$work/wide.y4m" -o "$work/out.y4m") 2>"$work/err" ||
            fail "-j 8 at $kb KiB, where -j 1 writes the stream: \"$(cat "$work/err")\""
        cmp -s "$work/out.y4m" "$work/wide-want.y4m" || fail "-j 8 at $kb KiB: output differs"
    done
    rm -f "$work/wide.y4m" "$work/wide-want.y4m"
    rm -f "$work/big-frame" "$work/big-four.y4m" "$work/out.y4m"

    # --auto from a pipe releases the measured frames as it replays them: its peak
    # memory is that of naming the same settings (here 100 MB frames, -j 1). How
    # many frames -j 1 has in flight at its peak (one or two) depends on timing, so
    # the bound is the larger of the named run's peak and the two frames -j 1 may
    # hold.
    peak_kb() {  # COMMAND...: the largest resident size of the command, in KiB
        python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=False)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@"
    }
    # One frame above the measured amount (16384x4096), and 3840x2160 4:4:4 16-bit,
    # just below it: the copy never holds a second frame that takes it past.
    uhd_stream() {
        printf 'YUV4MPEG2 W3840 H2160 C444p16\n'
        for _ in 1 2; do printf 'FRAME\n'; head -c $((3840 * 2160 * 6)) /dev/zero | tr '\0' '\100'; done
    }
    for stream in huge_stream uhd_stream; do
        if [ $stream = huge_stream ]; then huge_stream 2; else uhd_stream; fi >"$work/huge.y4m"
        two_frames_kb=$(($(stat -c %s "$work/huge.y4m") / 1024))
        auto_kb=$(peak_kb sh -c '"$0" -q -j 1 --auto <"$1" >/dev/null' "$velnor" "$work/huge.y4m")
        named_kb=$(peak_kb sh -c 'cat "$1" | "$0" -q -j 1 $("$0" --suggest "$1" 2>/dev/null) >/dev/null' "$velnor" "$work/huge.y4m")
        auto_pipe_kb=$(peak_kb sh -c 'cat "$1" | "$0" -q -j 1 --auto >/dev/null' "$velnor" "$work/huge.y4m")
        bound_kb=$((named_kb > two_frames_kb ? named_kb : two_frames_kb))
        for got in "$auto_kb" "$auto_pipe_kb"; do
            [ "$got" -le $((bound_kb * 105 / 100)) ] ||
                fail "$stream: --auto peak memory $got KiB, settings named $named_kb KiB, two frames $two_frames_kb KiB"
        done
    done
    rm -f "$work/huge.y4m"
else
    echo "note: address-space limits skipped (sanitizer build)"
fi

# Closed standard descriptors: no file takes their number, so no message enters the video.
run_cases \
    "stderr closed @ \"\$velnor\" -o \"\$work/out.y4m\" <\"\$work/cut.y4m\" 2>&- @ 1 @ @ 2" \
    "stdout and stderr closed @ \"\$velnor\" -o \"\$work/out.y4m\" <\"\$work/cut.y4m\" >&- 2>&- @ 1 @ @ 2" \
    "stdin closed @ \"\$velnor\" \"\$work/cut.y4m\" -o \"\$work/out.y4m\" <&- 2>&- @ 1 @ @ 2" \
    "video to a closed stdout @ \"\$velnor\" \"\$work/in.y4m\" >&- @ 1 @ ^velnor: write error: Bad file descriptor$ @ -"

# Never write into the input, however the output is given: refused, input untouched.
# name @ command
same_file=(
    "-o the input @ \"\$velnor\" \"\$work/same.y4m\" -o \"\$work/same.y4m\""
    "-o a hard link to the input @ \"\$velnor\" \"\$work/same.y4m\" -o \"\$work/link.y4m\""
    "appending to the input @ \"\$velnor\" \"\$work/same.y4m\" >>\"\$work/same.y4m\""
    "stdin appended to @ \"\$velnor\" <\"\$work/same.y4m\" >>\"\$work/same.y4m\""
    "read-write redirection @ \"\$velnor\" <\"\$work/same.y4m\" 1<>\"\$work/same.y4m\""
    "-o the input given as stdin @ \"\$velnor\" -o \"\$work/same.y4m\" <\"\$work/same.y4m\""
    "--auto, -o the input @ \"\$velnor\" --auto \"\$work/same.y4m\" -o \"\$work/same.y4m\""
)
for case in "${same_file[@]}"; do
    IFS='@' read -r name command <<<"$case"
    cp "$work/in.y4m" "$work/same.y4m"
    ln -f "$work/same.y4m" "$work/link.y4m"
    eval "$command" 2>"$work/err"
    status=$?
    [ "$status" = 2 ] || fail "${name% }: exit status $status, expected 2"
    grep -q '^velnor: input and output are the same file' "$work/err" && [ "$(wc -l <"$work/err")" = 1 ] ||
        fail "${name% }: message $(cat "$work/err")"
    cmp -s "$work/same.y4m" "$work/in.y4m" || fail "${name% }: the input changed"
done

# Non-blocking pipes (as some parents hand them over): wait, do not fail.
nonblocking() {  # FD COMMAND...: runs COMMAND with descriptor FD set non-blocking
    local fd=$1
    shift
    python3 -c 'import fcntl, os, sys
fd = int(sys.argv[1])
fcntl.fcntl(fd, fcntl.F_SETFL, fcntl.fcntl(fd, fcntl.F_GETFL) | os.O_NONBLOCK)
os.execvp(sys.argv[2], sys.argv[2:])' "$fd" "$@"
}
# The rest of the input comes only once velnor waits for it; the consumer reads only
# once velnor waits for room in the full pipe (the stream is larger than a pipe holds).
slow_input() {
    head -c 1000 "$work/in.y4m"
    wait_event "input-wait 1000" || echo "velnor never waited for input" >&2
    tail -c +1001 "$work/in.y4m"
}
slow_reader() {
    wait_event output-wait || echo "velnor never waited for the consumer" >&2
    cat
}
rm -f "$events"
export VELNOR_TEST_EVENTS=$events
run_cases \
    "slow producer @ slow_input | nonblocking 0 \"\$velnor\" -o \"\$work/out.y4m\" @ 0 @ @ 3" \
    "slow consumer @ rm -f \"\$events\"; nonblocking 1 \"\$velnor\" \"\$work/in.y4m\" | slow_reader >\"\$work/out.y4m\" @ 0 @ @ 3"
unset VELNOR_TEST_EVENTS

# Write errors name the frame being written.
ffmpeg_source 176 144 40 >"$work/long.y4m"
run_cases \
    "closed pipe @ \"\$velnor\" -j 2 \"\$work/long.y4m\" | head -c 100 >/dev/null @ 1 @ ^velnor: frame [0-9]+: write error: Broken pipe$ @ -" \
    "full device @ \"\$velnor\" \"\$work/in.y4m\" -o /dev/full @ 1 @ ^velnor: write error: No space left on device$ @ -"

# One line per message, whatever the names and arguments hold (<NL> is a newline).
# name @ arguments @ message
one_line=(
    "input name @ \"\$work/no<NL>such.y4m\" @ ^velnor: cannot open input \".*/no\\\\x0asuch.y4m\": No such file"
    "output name @ \"\$work/in.y4m\" -o \"\$work/no/such<NL>dir/out.y4m\" @ ^velnor: cannot open output \".*/no/such\\\\x0adir/out.y4m\": No such file"
    "unknown option @ \"--bo<NL>gus\" @ ^velnor: unknown option \"--bo\\\\x0agus\" \(see --help\)$"
    "number @ --strength \"1<NL>2\" @ ^velnor: --strength: \"1\\\\x0a2\" is not a whole number$"
)
for case in "${one_line[@]}"; do
    IFS='@' read -r name arguments pattern <<<"$case"
    eval "\"\$velnor\" ${arguments//<NL>/$'\n'}" </dev/null >/dev/null 2>"$work/err"
    status=$?
    [ "$status" = 1 ] || [ "$status" = 2 ] || fail "${name% }: exit status $status"
    pattern=${pattern# }
    [ "$(wc -l <"$work/err")" = 1 ] || fail "${name% }: message on more than one line: $(cat "$work/err")"
    grep -Eq -- "$pattern" "$work/err" || fail "${name% }: message $(cat "$work/err"), expected /$pattern/"
done

# Header tags pass through byte for byte; only what breaks the format is refused.
# name @ stream header @ frame header @ message (empty: accepted)
tags=(
    "UTF-8 title @ YUV4MPEG2 W8 H6 XTITLE=caf\xc3\xa9 @ FRAME @ "
    "control bytes in a frame tag @ YUV4MPEG2 W8 H6 @ FRAME Xa\tb\x01 @ "
    "NUL in a tag @ YUV4MPEG2 W8 H6 Xa\0b @ FRAME @ ^velnor: stream header: tag \"Xa\\\\x00b\" contains a NUL byte$"
)
for case in "${tags[@]}"; do
    IFS='@' read -r name stream_header frame_header pattern <<<"$case"
    stream_header=${stream_header# } stream_header=${stream_header% }
    frame_header=${frame_header# } frame_header=${frame_header% } pattern=${pattern# }
    # shellcheck disable=SC2059
    { printf "$stream_header\n$frame_header\n"; head -c 72 /dev/zero | tr '\0' a; } >"$work/tags.y4m"
    "$velnor" "$work/tags.y4m" >"$work/out.y4m" 2>"$work/err"
    status=$?
    if [ -z "$pattern" ]; then
        [ "$status" = 0 ] || fail "${name% }: exit status $status ($(cat "$work/err"))"
        "$expected_y4m" 8 6 20 40 10 <"$work/tags.y4m" | cmp -s - "$work/out.y4m" || fail "${name% }: output differs"
    else
        [ "$status" = 1 ] || fail "${name% }: exit status $status"
        grep -Eq -- "$pattern" "$work/err" || fail "${name% }: message $(cat "$work/err")"
    fi
done

# --help and --version fail when their text cannot be written.
run_cases \
    "--help to a full device @ \"\$velnor\" --help >/dev/full @ 1 @ ^velnor: write error: No space left on device$ @ -" \
    "--version to a closed stdout @ \"\$velnor\" --version >&- @ 1 @ ^velnor: write error: Bad file descriptor$ @ -" \
    "--version @ \"\$velnor\" --version >/dev/null @ 0 @ @ -"

# Output that stops part-way ends on a whole frame: a file size limit cuts the
# partial frame off again (after existing content, for >>), and SIGINT or SIGTERM
# stop reading, write what was read and exit 130 or 143.
printf 'existing content\n' >"$work/prefix"
{ cat "$work/prefix"; head -c $((header_bytes + 2 * frame_bytes)) "$work/in.y4m" |
    "$expected_y4m" 176 144 20 40 10; } >"$work/prefix-two.y4m"
run_cases \
    "file size limit @ (ulimit -f 100; \"\$velnor\" \"\$work/in.y4m\" -o \"\$work/out.y4m\") @ 1 @ ^velnor: frame 2: write error: File too large$ @ 2" \
    "file size limit, appending @ cp \"\$work/prefix\" \"\$work/out.y4m\"; (ulimit -f 100; \"\$velnor\" \"\$work/in.y4m\" >>\"\$work/out.y4m\") @ 1 @ ^velnor: frame 2: write error: File too large$ @ prefix-two.y4m"
# SIGINT, SIGTERM and SIGHUP end every stage with the same line and status: the
# header, an empty pipe that stays silent, --suggest's and --auto's measurement
# (nothing is printed or written then), filtering.
# name @ signal @ bytes sent before the signal (the producer then waits) @ velnor's
# arguments @ status @ frames the message names @ expected output ("empty": none on
# standard output)
header_and_frame=$((header_bytes + frame_bytes))
signals=(
    "SIGINT inside the header @ INT @ 10 @ -j 2 -o \"\$work/out.y4m\" @ 130 @ 0 @ -"
    "SIGTERM on a silent empty pipe @ TERM @ 0 @ -j 2 -o \"\$work/out.y4m\" @ 143 @ 0 @ -"
    "SIGINT while --suggest measures @ INT @ $header_and_frame @ --suggest >\"\$work/out.y4m\" @ 130 @ 1 @ empty"
    "SIGTERM while --auto measures @ TERM @ $header_and_frame @ --auto -o \"\$work/out.y4m\" @ 143 @ 0 @ -"
    "SIGTERM between frames @ TERM @ $((header_bytes + 2 * frame_bytes)) @ -j 2 -o \"\$work/out.y4m\" @ 143 @ 2 @ 2"
    "SIGINT inside a frame @ INT @ $((header_bytes + 2 * frame_bytes + 5000)) @ -j 2 -o \"\$work/out.y4m\" @ 130 @ 2 @ 2"
    "SIGHUP inside a frame @ HUP @ $((header_bytes + 2 * frame_bytes + 5000)) @ -j 2 -o \"\$work/out.y4m\" @ 129 @ 2 @ 2"
    "SIGHUP while --auto measures @ HUP @ $header_and_frame @ --auto -o \"\$work/out.y4m\" @ 129 @ 0 @ -"
)
for case in "${signals[@]}"; do
    IFS='@' read -r name signal sent arguments want frames expected <<<"$case"
    name=${name% } signal=${signal// /} sent=${sent// /} want=${want// /} frames=${frames// /}
    expected=${expected// /}
    rm -f "$work/out.y4m" "$work/fifo" "$events"
    mkfifo "$work/fifo"
    (head -c "$sent" "$work/in.y4m"; exec sleep 300) >"$work/fifo" &
    producer=$!
    # A shell leaves SIGINT ignored in background jobs; velnor keeps an ignored signal ignored.
    eval "VELNOR_TEST_EVENTS=\"\$events\" exec env --default-signal=INT \"\$velnor\" $arguments" \
        <"$work/fifo" 2>"$work/err" &
    filter=$!
    # The signal comes once velnor has read every byte sent and waits for more.
    wait_event "input-wait $sent" || fail "$name: velnor never waited for input after $sent bytes"
    kill -"$signal" "$filter"
    wait "$filter"
    status=$?
    kill "$producer" 2>/dev/null
    wait "$producer" 2>/dev/null
    if [ "$expected" = empty ]; then
        [ -s "$work/out.y4m" ] && fail "$name: printed $(cat "$work/out.y4m")"
        rm -f "$work/out.y4m"
        expected=-
    fi
    check_run "$name" $status "$want" "^velnor: stopped by SIG$signal after $frames frames$" "$expected"
done

# A live source that sends one frame and pauses gets that frame written while it
# pauses, at -j 1 and at the default -j: the output is waited for (60 s at most)
# while the source still holds the pipe open, then the source ends.
for jobs in "-j 1" ""; do
    name="live source, ${jobs:-default -j}"
    rm -f "$work/out.y4m" "$work/fifo"
    mkfifo "$work/fifo"
    (head -c "$header_and_frame" "$work/in.y4m"; exec sleep 300) >"$work/fifo" &
    producer=$!
    # shellcheck disable=SC2086
    "$velnor" $jobs -o "$work/out.y4m" <"$work/fifo" 2>"$work/err" &
    filter=$!
    written=no
    for _ in $(seq 1200); do
        [ "$(stat -c %s "$work/out.y4m" 2>/dev/null || echo 0)" -ge "$header_and_frame" ] &&
            { written=yes; break; }
        sleep 0.05
    done
    [ $written = yes ] || fail "$name: the frame was not written while the source paused"
    kill "$producer"
    wait "$producer" 2>/dev/null
    wait "$filter"
    check_run "$name" $? 0 "" 1
done

# Named FIFOs that nobody opens from the other end yet: the wait ends on a stop request.
# name @ signal @ velnor's arguments @ the event that shows it waits (timeout ends
# a velnor that does not stop; --foreground, so that it passes the signal to velnor
# alone, without the SIGCONT and second signal to its process group that can catch
# a sanitized velnor in its leak check at exit and leave it hanging there)
fifo_waits=(
    "SIGTERM, input FIFO without a writer @ TERM @ \"\$work/fifo\" -o \"\$work/out.y4m\" @ input-wait 0"
    "SIGINT, output FIFO without a reader @ INT @ \"\$work/in.y4m\" -o \"\$work/fifo\" @ output-wait"
)
for case in "${fifo_waits[@]}"; do
    IFS='@' read -r name signal arguments event <<<"$case"
    name=${name% } signal=${signal// /} event=${event# }
    rm -f "$work/out.y4m" "$work/fifo" "$events"
    mkfifo "$work/fifo"
    eval "VELNOR_TEST_EVENTS=\"\$events\" exec timeout --foreground -s KILL 300 env --default-signal=INT \"\$velnor\" $arguments" 2>"$work/err" &
    filter=$!
    wait_event "$event" || fail "$name: no \"$event\""
    kill -"$signal" "$filter"
    wait "$filter"
    check_run "$name" $? $((128 + $(kill -l "$signal"))) "^velnor: stopped by SIG$signal after 0 frames$" -
done

# The default -j follows the CPUs the process may use: on one CPU (taskset) velnor
# filters as many frames at a time as with -j 1, on two as many as with -j 2
# (unless a cgroup quota allows fewer). velnor names the number it uses in its
# "jobs N" event.
jobs_used() {  # CPU-LIST [VELNOR OPTION...]: how many frames the filter runs at a time
    local cpus=$1
    shift
    rm -f "$events"
    VELNOR_TEST_EVENTS=$events taskset -c "$cpus" "$velnor" "$@" "$work/in.y4m" -o "$work/out.y4m" 2>/dev/null
    sed -n 's/^jobs //p' "$events" 2>/dev/null
}
# Any cpu.max from the process's cgroup up to the root limits the CPUs it may use.
cgroup_quota() {
    local path
    path=$(sed -n 's/^0:://p' /proc/self/cgroup)
    while :; do
        grep -qs '^[0-9]' "/sys/fs/cgroup${path%/}/cpu.max" && return 0
        [ -z "$path" ] || [ "$path" = / ] && return 1
        path=${path%/*}
    done
}
allowed=$(python3 -c 'import os; print(" ".join(map(str, sorted(os.sched_getaffinity(0))[:2])))')
read -r first second <<<"$allowed"
one_default=$(jobs_used "$first")
one_forced=$(jobs_used "$first" -j 1)
[ "$one_default" = 1 ] && [ "$one_forced" = 1 ] ||
    fail "default -j on one CPU: $one_default at a time, with -j 1: $one_forced"
if [ -n "${second:-}" ] && ! cgroup_quota; then
    two_default=$(jobs_used "$first,$second")
    two_forced=$(jobs_used "$first,$second" -j 2)
    [ "$two_default" = 2 ] && [ "$two_forced" = 2 ] ||
        fail "default -j on two CPUs: $two_default at a time, with -j 2: $two_forced"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "all end-to-end checks passed"
