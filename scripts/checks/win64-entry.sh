#!/usr/bin/env bash
# The Windows x64 library's AviSynth+ entry point under wine64: it must find the
# host's functions in an AviSynth.dll the program loaded with LoadLibrary, also
# under another file name (by walking the loaded modules), and fail with a clear
# text, not a crash, when there is none. The host is a stand-in DLL
# (tests/plugin_avisynth_c/private_host_module.cpp), the program a small probe
# (tests/win64_entry/entry_probe.cpp), both cross-built with mingw-w64.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require mingw wine64
root=$PWD
work=$root/build/win64-entry
mkdir -p "$work"
fail() { echo "win64-entry: $*" >&2; exit 1; }

cxx=x86_64-w64-mingw32-g++-win32
wine64=/usr/lib/wine/wine64

paths=$(bash scripts/build-dist.sh)
cp "$(grep '/win64/velnor.dll$' <<<"$paths")" "$work/velnor.dll"
flags=(-std=c++20 -O2 -Wall -Wextra -Werror -Wno-attributes -static-libgcc -static-libstdc++)
"$cxx" "${flags[@]}" -shared -o "$work/AviSynth.dll" tests/plugin_avisynth_c/private_host_module.cpp
cp "$work/AviSynth.dll" "$work/avs_renamed.dll"
"$cxx" "${flags[@]}" -I. -o "$work/entry_probe.exe" tests/win64_entry/entry_probe.cpp

export WINEPREFIX=$work/wine-prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "win64-entry: creating the wine prefix"
  "$wine64" wineboot -i >/dev/null 2>&1 || true
fi

# The AviSynth+ entry's text: its fixed prefix followed by the release version.
prefix=$(sed -n 's/.*kAvsPlusVersionText\[\] = "\(.*\)" VELNOR_VERSION_TEXT;/\1/p' plugin/script_function.h)
version="$prefix$(bash scripts/version.sh)"
missing=$(sed -n '/kNoInterface\[\] =/,/;/p' plugin/avisynth_c/velnor_avs_c.h |
  sed -n 's/.*"\(.*\)".*/\1/p')
failed=0
run() {  # name, expected output, probe arguments...
  local name=$1 expected=$2 got
  shift 2
  got=$(cd "$work" && timeout 300 "$wine64" entry_probe.exe "$@" 2>&1 | tr -d '\r') || true
  if [ "$got" = "$expected" ]; then
    echo "win64-entry: $name: ok"
  else
    echo "win64-entry: $name: expected '$expected', got '$got'"
    failed=$((failed + 1))
  fi
}
run "no AviSynth in the process" "$missing|0|1" velnor.dll
# Two registrations: Velnor and VelnorEstimate.
run "AviSynth.dll loaded privately" "$version|2|1" velnor.dll AviSynth.dll
run "the interface under another file name" "$version|2|1" velnor.dll avs_renamed.dll
WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
[ $failed -eq 0 ] || fail "$failed of 3 runs failed"
echo "win64-entry: all 3 runs passed"
