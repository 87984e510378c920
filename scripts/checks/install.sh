#!/usr/bin/env bash
# `cmake --install` of the optimised native tree into a temporary prefix: exactly the
# expected files land there, the libraries carry both host entry points, the manual
# page renders the program's --help text, and the installed velnor filters a
# generated clip in the README's pipeline with its audio kept. With
# VELNOR_VAPOURSYNTH_PIP the VapourSynth copy goes into the plugins folder of the
# VapourSynth package Python imports (a stand-in here) instead.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require core packaging
build=${VELNOR_NATIVE_BUILD:?the optimised native tree (scripts/test.sh sets it)}
fail() { echo "install: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --build "$build" --target velnor velnor_hosts velnor_man_page -j 2 >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null

expected="bin/velnor
lib/avisynth/libvelnor.so
lib/vapoursynth/libvelnor.so
share/doc/velnor/LICENSE
share/man/man1/velnor.1"
got=$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$got" = "$expected" ] || fail "installed files:
$got
expected:
$expected"
[ -x "$prefix/bin/velnor" ] || fail "bin/velnor is not executable"

for lib in "$prefix"/lib/*/libvelnor.so; do
  exported=$(nm -D --defined-only "$lib" | awk '{print $NF}' | LC_ALL=C sort | xargs)
  [ "$exported" = "$(bash scripts/plugin-entries.sh)" ] ||
    fail "$lib exports '$exported'"
done

velnor=$prefix/bin/velnor
version=$(bash scripts/version.sh)
case "$("$velnor" --version)" in
  "velnor $version "*) ;;
  *) fail "velnor --version says '$("$velnor" --version)', expected version $version" ;;
esac

# Every line of --help appears in the rendered page (escaping loses nothing).
page=$(LC_ALL=C MANWIDTH=200 man -l "$prefix/share/man/man1/velnor.1" 2>&1) ||
  fail "man cannot render velnor.1: $page"
while IFS= read -r line; do
  line=$(sed 's/^ *//' <<<"$line")
  [ -z "$line" ] || grep -qF -- "$line" <<<"$page" || fail "velnor.1 lacks the --help line '$line'"
done < <("$velnor" --help)

# The installed program filters: output differs from the noisy input, matches the
# build tree's program byte for byte, and keeps the stream's size.
ffmpeg -nostdin -loglevel error -f lavfi \
  -i "testsrc2=size=176x144:rate=10,noise=alls=20:allf=t,format=yuv420p" -frames:v 10 \
  -f yuv4mpegpipe - >"$work/in.y4m"
"$velnor" -q "$work/in.y4m" -o "$work/installed.y4m"
"$build/cli/velnor" -q "$work/in.y4m" -o "$work/built.y4m"
cmp -s "$work/installed.y4m" "$work/built.y4m" || fail "installed and built velnor differ"
! cmp -s "$work/in.y4m" "$work/installed.y4m" || fail "the installed velnor changed nothing"
[ "$(stat -c %s "$work/in.y4m")" = "$(stat -c %s "$work/installed.y4m")" ] ||
  fail "the output's size differs from the input's"

# The README's pipeline, as written there, with the installed velnor on PATH.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=176x144:rate=10,noise=alls=20:allf=t" \
  -f lavfi -i "sine=frequency=440" -t 2 -c:v ffv1 -c:a flac "$work/in.mkv"
(cd "$work" && export PATH="$prefix/bin:$PATH" &&
  ffmpeg -nostdin -loglevel error -i in.mkv -map 0:v -pix_fmt yuv420p -f yuv4mpegpipe - |
  velnor |
  ffmpeg -loglevel error -i - -i in.mkv -map 0:v -map 1:a -c:a copy out.mkv) ||
  fail "the README's pipeline failed"
streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$work/out.mkv" | xargs)
[ "$streams" = "video audio" ] || fail "the pipeline's output has streams '$streams', expected video and audio"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
  -of csv=p=0 "$work/out.mkv")
[ "$frames" = 20 ] || fail "the pipeline's output has $frames frames, expected 20"
# Into a pip-installed VapourSynth: a stand-in package that answers
# get_plugin_dir() as VapourSynth R74 and later do. Only the install rules change,
# so nothing is rebuilt; the tree is configured back as it was.
site=$work/site
mkdir -p "$site/vapoursynth"
printf '%s\n' 'from pathlib import PurePath' 'def get_plugin_dir():' \
  '    return str(PurePath(__file__).with_name("plugins"))' >"$site/vapoursynth/__init__.py"
trap 'cmake -DVELNOR_VAPOURSYNTH_PIP=OFF "$build" >/dev/null; rm -rf "$work"' EXIT
PYTHONPATH=$site cmake -DVELNOR_VAPOURSYNTH_PIP=ON -DVELNOR_PYTHON="$(command -v python3)" \
  "$build" >/dev/null || fail "configuring with VELNOR_VAPOURSYNTH_PIP failed"
cmake --install "$build" --prefix "$work/prefix-pip" >/dev/null
[ -f "$site/vapoursynth/plugins/velnor/libvelnor.so" ] ||
  fail "VELNOR_VAPOURSYNTH_PIP did not install vapoursynth/plugins/velnor/libvelnor.so"
[ -f "$work/prefix-pip/lib/avisynth/libvelnor.so" ] || fail "VELNOR_VAPOURSYNTH_PIP lost lib/avisynth"
[ ! -e "$work/prefix-pip/lib/vapoursynth" ] || fail "VELNOR_VAPOURSYNTH_PIP still installs lib/vapoursynth"
echo "install: $(wc -l <<<"$expected") files installed and checked; the README pipeline keeps the audio;" \
  "VELNOR_VAPOURSYNTH_PIP installs into the VapourSynth package's plugins folder"
