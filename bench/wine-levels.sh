#!/usr/bin/env bash
# Times the 32-bit Windows build of the core per level under wine: cross-builds
# bench/frame_timing.cpp with the plug-in's compiler and flags against the
# velnor_core of the plug-in's build tree (scripts/build-dll.sh), then runs it.
#   bench/wine-levels.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build-dll.sh >/dev/null
build=build/win32
# The flags of cmake/toolchain-i686-w64-mingw32.cmake and a release build.
i686-w64-mingw32-g++-win32 -std=c++20 -O3 -DNDEBUG -I. -msse2 -mfpmath=sse \
  -mincoming-stack-boundary=2 -mpreferred-stack-boundary=2 -ffp-contract=off \
  bench/frame_timing.cpp "$build/core/libvelnor_core.a" -static -o "$build/frame_timing.exe"

export WINEPREFIX=$PWD/build/windows-dll/wine-prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY VELNOR_SIMD
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
fi
wine "$build/frame_timing.exe" "$@"
wineserver -k 2>/dev/null || true
