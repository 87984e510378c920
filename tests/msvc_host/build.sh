#!/usr/bin/env bash
# Builds the Microsoft-ABI conformance host with Debian's clang and lld-link, without
# any Microsoft headers or libraries: import libraries for msvcrt.dll and
# kernel32.dll come from the .def files here.
# Usage: tests/msvc_host/build.sh OUTPUT_DIR   (writes OUTPUT_DIR/msvc_host.exe)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
out="${1:?usage: build.sh OUTPUT_DIR}"
mkdir -p "$out/obj"

llvm-dlltool -m i386 -k -d "$here/msvcrt.def" -l "$out/msvcrt.lib"
llvm-dlltool -m i386 -k -d "$here/kernel32.def" -l "$out/kernel32.lib"

# -mno-stack-arg-probe: no __chkstk (it lives in Microsoft's static runtime).
# -Wno-ignored-attributes: the interface writes __stdcall on its variadic methods, as
# hosts' headers do; the compiler makes them __cdecl, which is what hosts get.
flags=(--target=i686-pc-windows-msvc -std=c++20 -O2 -msse2 -fno-omit-frame-pointer
       -mno-stack-arg-probe -fexceptions -fcxx-exceptions -Wall -Wextra -Werror
       -Wno-ignored-attributes -I "$root")
objects=()
for source in "$here"/*.cpp; do
  name="$(basename "$source" .cpp)"
  [ "$name" = make_cases ] && continue   # the native generator
  clang++ "${flags[@]}" -c "$source" -o "$out/obj/$name.obj"
  objects+=("$out/obj/$name.obj")
done
lld-link /nologo /nodefaultlib /entry:mainCRTStartup /subsystem:console \
  /out:"$out/msvc_host.exe" "${objects[@]}" "$out/msvcrt.lib" "$out/kernel32.lib"
echo "built $out/msvc_host.exe"
