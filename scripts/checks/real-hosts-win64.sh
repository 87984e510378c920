#!/usr/bin/env bash
# The real-host tier for 64-bit Windows under wine64: loads dist/win64/velnor.dll into
# Windows x64 builds of AviSynth+ (with AviSynth.dll linked through its import library,
# and loaded with LoadLibrary) and VapourSynth, with the harness in tests/real_hosts
# cross-built for Windows, and compares the project's host declarations with the
# installs' headers under the Windows ABI. Hosts are found through
#   VELNOR_WIN64_AVISYNTHPLUS_DIR  an AviSynth+ install: AviSynth.dll, its import
#                                  library and include/avisynth below it
#   VELNOR_WIN64_VAPOURSYNTH_DIR   a VapourSynth install: libvapoursynth.dll and
#                                  include/vapoursynth below it
# Without wine64 or without any host it is skipped (exit status 77).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

wine64=${VELNOR_WINE64:-/usr/lib/wine/wine64}
avisynth_dir=${VELNOR_WIN64_AVISYNTHPLUS_DIR:-}
vapoursynth_dir=${VELNOR_WIN64_VAPOURSYNTH_DIR:-}

source scripts/require.sh
if [ -z "$avisynth_dir" ] && [ -z "$vapoursynth_dir" ]; then
  skip "no Windows host named (set VELNOR_WIN64_AVISYNTHPLUS_DIR" \
    "/ VELNOR_WIN64_VAPOURSYNTH_DIR to install directories)"
fi
# The harness is built with the posix thread-model compiler (std::thread, std::mutex).
require mingw wine64
[ -n "$avisynth_dir" ] ||
  echo "real-hosts-win64: AviSynth+ checks SKIPPED (VELNOR_WIN64_AVISYNTHPLUS_DIR unset)"
[ -n "$vapoursynth_dir" ] ||
  echo "real-hosts-win64: VapourSynth checks SKIPPED (VELNOR_WIN64_VAPOURSYNTH_DIR unset)"

fail() { echo "real-hosts-win64: $*" >&2; exit 1; }
# The first file below a directory with this name, in any letter case.
file_in() {
  local found
  found=$(find "$1" -iname "$2" -type f -print -quit)
  [ -n "$found" ] || fail "no $2 in $1"
  echo "$found"
}
[ -z "$avisynth_dir" ] || avisynth_dll=$(file_in "$avisynth_dir" AviSynth.dll)
[ -z "$vapoursynth_dir" ] || vapoursynth_dll=$(file_in "$vapoursynth_dir" libvapoursynth.dll)

# The shipped DLL and velnor.exe (auto's checks compare with its --suggest), rebuilt
# when a source is newer.
plugin=$root/dist/win64/velnor.dll
cli=$root/dist/win64/velnor.exe
if [ ! -e "$plugin" ] || [ -n "$(find core plugin -newer "$plugin" -print -quit)" ] ||
   [ ! -e "$cli" ] || [ -n "$(find core cli -newer "$cli" -print -quit)" ]; then
  bash scripts/build-dist.sh >/dev/null
fi

build=$root/build/real_hosts_win64
cmake -S tests/real_hosts -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32-posix.cmake" \
  -DVELNOR_AVISYNTHPLUS_PREFIXES="$avisynth_dir" \
  -DVELNOR_VAPOURSYNTH_PREFIXES="$vapoursynth_dir" >/dev/null
cmake --build "$build" -j 2

# A private 64-bit prefix; no display, no Mono or Gecko installers, no debug noise.
export WINEPREFIX=$build/wine-prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY WINEPATH
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "real-hosts-win64: creating the wine prefix"
  "$wine64" wineboot -i >/dev/null 2>&1 || true
fi
trap 'wineserver -k 2>/dev/null || true' EXIT
windows_path() { "$wine64" winepath -w "$1" 2>/dev/null; }
plugin_w=$(windows_path "$plugin")
# The harness runs it through cmd.exe, so by its Windows path (a VELNOR_CLI set for
# the Linux tier names a program these runs cannot start).
VELNOR_CLI=$(windows_path "$cli")
export VELNOR_CLI

failed=0
run() {
  echo "-- $*"
  timeout 900 "$wine64" "$@" || failed=$((failed + 1))
}

if [ -n "$avisynth_dir" ]; then
  avisynth_dll_w=$(windows_path "$avisynth_dll")
  avisynth_path=$(windows_path "$(dirname "$avisynth_dll")")
  echo "== AviSynth+ declarations, $avisynth_dir"
  run "$build/declarations_avisynth_1.exe"
fi
if [ -n "$vapoursynth_dir" ]; then
  vapoursynth_dll_w=$(windows_path "$vapoursynth_dll")
  echo "== VapourSynth declarations, $vapoursynth_dir"
  run "$build/declarations_vapoursynth_1.exe"
fi
# The frame checks once for each pass level the DLL may pick, and once as it chooses.
for level in reference sse2 sse4.1 avx2 avx512 default; do
  if [ "$level" = default ]; then unset VELNOR_SIMD; else export VELNOR_SIMD=$level; fi
  if [ -n "$avisynth_dir" ]; then
    echo "== AviSynth+, VELNOR_SIMD=$level"
    # The linked harness finds AviSynth.dll, and AviSynth.dll its runtime DLLs, on
    # the search path; the private load is given the full path.
    WINEPATH=$avisynth_path run "$build/real_hosts_avisynth_linked_1.exe" avisynth-linked "$plugin_w"
    WINEPATH=$avisynth_path run "$build/real_hosts.exe" avisynth-private "$avisynth_dll_w" "$plugin_w"
  fi
  if [ -n "$vapoursynth_dir" ]; then
    echo "== VapourSynth, VELNOR_SIMD=$level"
    run "$build/real_hosts.exe" vapoursynth "$vapoursynth_dll_w" "$plugin_w"
  fi
done
unset VELNOR_SIMD
if [ -n "$avisynth_dir" ]; then
  # A copy under another name: the plug-in cannot find AviSynth.dll by its usual name
  # and must search the loaded modules for the interface.
  echo "== AviSynth+ opened under another file name"
  mkdir -p "$build/renamed"
  cp "$avisynth_dll" "$build/renamed/avsplus-renamed.dll"
  WINEPATH=$avisynth_path run "$build/real_hosts.exe" avisynth-private \
    "$(windows_path "$build/renamed/avsplus-renamed.dll")" "$plugin_w"
fi
# What each host keeps per load of the plug-in (tests/real_hosts/unload_cycles.cpp).
if [ -n "$avisynth_dir" ]; then
  echo "== AviSynth+, load/unload cycles"
  WINEPATH=$avisynth_path run "$build/unload_cycles.exe" avisynth "$avisynth_dll_w" "$plugin_w"
fi
if [ -n "$vapoursynth_dir" ]; then
  echo "== VapourSynth, load/unload cycles"
  run "$build/unload_cycles.exe" vapoursynth "$vapoursynth_dll_w" "$plugin_w"
fi

if [ "$failed" -ne 0 ]; then
  echo "real-hosts-win64: $failed run(s) failed"
  exit 1
fi
echo "real-hosts-win64: all runs passed"
