#!/usr/bin/env bash
# Builds the three shipped libraries and the Windows command-line filter into dist/
# and prints their paths:
#   dist/linux-x86_64/libvelnor.so  AviSynth+ (C interface) and VapourSynth, Linux x86-64
#   dist/win64/velnor.dll           the same for 64-bit Windows (mingw-w64 cross-build)
#   dist/win64/velnor.exe           the command-line filter for 64-bit Windows
#   dist/win32/velnor.dll           the AviSynth 2.5 plug-in (scripts/build-dll.sh)
# Each 64-bit library is checked: it exports exactly the two entry points, does not
# depend on libavisynth / AviSynth.dll, and the DLL imports only system DLLs and
# holds no aligned vector move to or from the stack; velnor.exe imports only system
# DLLs and holds no such move either.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "build-dist: $*" >&2; exit 1; }
if ! command -v x86_64-w64-mingw32-g++-win32 >/dev/null ||
   ! command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
   ! command -v i686-w64-mingw32-g++-win32 >/dev/null ||
   ! command -v ninja >/dev/null; then
  bash scripts/install-deps.sh core mingw >&2
fi

entries=$(bash scripts/plugin-entries.sh)

# Linux x86-64. The tree also holds the command-line filter, which scripts/release.sh
# builds and installs from it.
cmake -S . -B build/linux-x86_64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON \
  -DVELNOR_BUILD_TESTS=OFF -DVELNOR_BUILD_BENCH=OFF -DVELNOR_BUILD_CLI=ON >/dev/null
cmake --build build/linux-x86_64 --target velnor_hosts -j 2 >&2
so=dist/linux-x86_64/libvelnor.so
mkdir -p "$(dirname "$so")"
cp build/linux-x86_64/plugin/libvelnor.so "$so"

exported=$(nm -D --defined-only "$so" | awk '{print $NF}' | LC_ALL=C sort | xargs)
[ "$exported" = "$entries" ] || fail "$so exports '$exported', expected '$entries'"
needed=$(readelf -d "$so" | awk '/\(NEEDED\)/ {print $NF}' | tr -d '[]')
! grep -qi avisynth <<<"$needed" || fail "$so depends on libavisynth: $needed"
! nm -D --undefined-only "$so" | grep -q ' avs_' || fail "$so refers to avs_* symbols at load time"

# Windows x64. The command-line filter needs another thread model: its own tree below.
cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-x86_64-w64-mingw32.cmake" \
  -DVELNOR_WERROR=ON -DVELNOR_BUILD_CLI=OFF >/dev/null
cmake --build build/win64 --target velnor_hosts -j 2 >&2
dll64=dist/win64/velnor.dll
mkdir -p "$(dirname "$dll64")"
cp build/win64/plugin/velnor.dll "$dll64"

objdump=x86_64-w64-mingw32-objdump
# check_windows_module FILE ALLOWED-DLL...: imports only the named system DLLs, and
# no aligned vector move to or from the stack.
check_windows_module() {
  local file=$1 name
  shift
  for name in $("$objdump" -p "$file" | awk '/DLL Name:/ {print $3}' | sort -u); do
    [[ " ${*,,} " == *" ${name,,} "* ]] || fail "$file imports $name; only $* are allowed"
  done
  local aligned
  aligned=$("$objdump" -d --no-show-raw-insn "$file" |
    grep -E '\bv?mov(dqa|dqa32|dqa64|aps|apd|nt[a-z]*) ' | grep -E '\((%rsp|%rbp)' || true)
  [ -z "$aligned" ] || fail "aligned vector moves on the stack in $file:
$(head <<<"$aligned")"
}
dump=$("$objdump" -p "$dll64")
exported=$(awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /^[ \t]*\[/ {print $NF; next} t {exit}' \
  <<<"$dump" | LC_ALL=C sort | xargs)
[ "$exported" = "$entries" ] || fail "$dll64 exports '$exported', expected '$entries'"
check_windows_module "$dll64" KERNEL32.dll msvcrt.dll

# velnor.exe: the posix thread model's std::thread and std::mutex, with libgcc,
# libstdc++ and winpthread linked in, so that it needs only system DLLs.
cmake -S . -B build/win64-cli -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-x86_64-w64-mingw32-posix.cmake" \
  -DVELNOR_WERROR=ON -DVELNOR_BUILD_TESTS=OFF -DVELNOR_BUILD_BENCH=OFF >/dev/null
cmake --build build/win64-cli --target velnor -j 2 >&2
exe64=dist/win64/velnor.exe
cp build/win64-cli/cli/velnor.exe "$exe64"
check_windows_module "$exe64" KERNEL32.dll msvcrt.dll SHELL32.dll

# 32-bit Windows: the AviSynth 2.5 plug-in, built and checked by its own script.
dll32=dist/win32/velnor.dll
mkdir -p "$(dirname "$dll32")"
cp "$(bash scripts/build-dll.sh)" "$dll32"

for f in "$so" "$dll64" "$exe64" "$dll32"; do echo "$PWD/$f"; done
