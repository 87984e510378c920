#!/usr/bin/env bash
# Builds the AviSynth plug-in velnor.dll (32-bit Windows) with mingw-w64 and checks
# what it exports and imports. Prints the DLL's path.
#   bash scripts/build-dll.sh            -> build/win32/plugin/avisynth25/velnor.dll
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/win32
dll=$build/plugin/avisynth25/velnor.dll
objdump=i686-w64-mingw32-objdump

if ! command -v i686-w64-mingw32-g++-win32 >/dev/null; then
  bash scripts/install-deps.sh mingw >&2 ||
    { echo "build-dll: i686-w64-mingw32-g++-win32 missing (Debian package g++-mingw-w64-i686)" >&2; exit 1; }
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-i686-w64-mingw32.cmake" \
  -DVELNOR_WERROR=ON >/dev/null
cmake --build "$build" --target velnor -j 2 >&2

fail() { echo "build-dll: $*" >&2; exit 1; }
dump=$("$objdump" -p "$dll")

# A PE32 image for i386, as 32-bit hosts load.
format=$("$objdump" -f "$dll" | awk '/file format/ {print $NF}')
[ "$format" = pei-i386 ] || fail "$dll is $format, expected pei-i386 (PE32, i386)"
grep -q 'Magic[[:space:]]*010b' <<<"$dump" || fail "$dll has no PE32 optional header (magic 010b)"

# Exactly one export, under the name hosts look up.
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /^[ \t]*\[/ {print $NF; next} t {exit}' <<<"$dump")
[ "$exports" = "_AvisynthPluginInit2@4" ] || fail "exports are '$exports', expected _AvisynthPluginInit2@4"

# Only system DLLs: the C runtime and KERNEL32.
imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump" | sort -u)
for name in $imports; do
  case "${name,,}" in
    kernel32.dll | msvcrt.dll) ;;
    *) fail "imports $name; only KERNEL32.dll and msvcrt.dll are allowed" ;;
  esac
done

echo "$PWD/$dll"
