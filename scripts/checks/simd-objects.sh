#!/usr/bin/env bash
# The per-instruction-set objects of the core (core/x86/pass_<isa>.cpp) must share
# no weak or COMDAT definition (an inline function or template instance) with each
# other or with the core's baseline objects: the linker keeps one copy of such a
# definition, and the one compiled for AVX2 could end up running on a CPU without
# it. Checks the native tree's objects (nm), and the 32-bit plug-in's objects
# (COMDAT sections) when build/win32 exists.
# Uses VELNOR_NATIVE_BUILD (a native build tree) when set, else build/release.
set -euo pipefail
cd "$(dirname "$0")/../.."
native=${VELNOR_NATIVE_BUILD:-$PWD/build/release}
if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$native" --target velnor_core -j 2 >/dev/null

fail=0
# check TREE LISTER: LISTER prints the weak/COMDAT symbols an object defines.
check() {
  local dir=$1/core/CMakeFiles/velnor_core.dir lister=$2 isa_objects=() all=()
  mapfile -t isa_objects < <(find "$dir/x86" -name 'pass_*.o*' | sort)
  mapfile -t all < <(find "$dir" -name '*.o*' -name '*.cpp.o*' | sort)
  if [ ${#isa_objects[@]} -lt 2 ]; then
    echo "simd-objects: fewer than two per-ISA objects in $dir" >&2
    fail=1
    return
  fi
  local shared
  shared=$(for obj in "${all[@]}"; do "$lister" "$obj" | sort -u | sed "s|\$| $(basename "$obj")|"; done |
    awk '{n[$1]++; where[$1] = where[$1] " " $2} END {for (s in n) if (n[s] > 1) print s ":" where[s]}' |
    grep -E 'pass_[a-z0-9]+\.cpp' || true)
  if [ -n "$shared" ]; then
    echo "simd-objects: definitions shared by per-ISA objects and others in $dir:" >&2
    echo "$shared" | head -20 >&2
    echo "simd-objects: give them internal linkage (the vector headers' anonymous namespace)" >&2
    fail=1
  else
    echo "simd-objects: ${#isa_objects[@]} per-ISA objects in $dir share no weak or COMDAT definition"
  fi
}
elf_weak() { nm --defined-only "$1" | awk '$2 ~ /^[WVu]$/ {print $3}'; }
# GCC for Windows puts each inline definition in a COMDAT section named after its
# (mangled) symbol, .text$_Z...
coff_comdat() {
  i686-w64-mingw32-objdump -h "$1" | awk '$2 ~ /\$_Z/ {sub(/^[^$]*\$/, "", $2); print $2}'
}

check "$native" elf_weak
if [ -d build/win32/core ]; then check build/win32 coff_comdat; fi
exit $fail
