#!/usr/bin/env bash
# The 32-bit Windows plug-in in a host with Microsoft's ABI: builds velnor.dll with
# mingw-w64 (scripts/build-dll.sh: PE32 for i386, the one decorated entry point,
# system DLLs only), checks that every source compiled into it is compiled into the
# native tree whose suites test it (the passes, and the binding under the native
# stand-in host), builds the conformance host with clang and lld-link
# (tests/msvc_host/build.sh) and the test clips with the native core, then runs the
# host headless under wine32 (tests/msvc_host/wine-runs.sh): once per SIMD level,
# each checked against the level the DLL reports it ran at, then 200 load/unload
# cycles that must keep less than 1 KiB each. Fails on any mismatch.
# Where this kernel runs no i386 program (built without 32-bit support; a tiny static
# i386 program tells), the same runs are made in one boot of a virtual machine under
# Debian's kernel (scripts/run-in-vm.sh); VELNOR_WINE_IN_VM=1 makes them there
# anyway. The win32 prefix is made once, in build/windows-dll/wine-prefix, and every
# run starts from it unchanged. Without wine32 (which a stale i386 package index
# keeps out), or without qemu-system-x86, busybox-static or Debian's kernel package
# where the machine is needed, everything but the wine runs is done and the check
# ends as skipped, naming why; a failure inside the machine is a failure.
# Uses VELNOR_NATIVE_BUILD (a native build tree) when set, else build/release.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require mingw clang
root=$PWD
work=$root/build/windows-dll
mkdir -p "$work"

native=${VELNOR_NATIVE_BUILD:-$root/build/release}
if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$native" --target msvc_host_make_cases -j 2 >/dev/null
"$native/tests/msvc_host/msvc_host_make_cases" "$work/cases.bin"

dll=$(bash scripts/build-dll.sh)
cp "$dll" "$work/velnor.dll"

# Nothing in the DLL is built from a source the native suites do not compile.
compiled_sources() {  # TREE: the project's files compiled under core/ and plugin/
  python3 - "$1/compile_commands.json" "$root" <<'PY'
import json, os, sys
root = sys.argv[2]
for entry in json.load(open(sys.argv[1])):
    path = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
    if path.startswith(("core/", "plugin/")):
        print(path)
PY
}
untested=$(comm -23 <(compiled_sources build/win32 | sort -u) <(compiled_sources "$native" | sort -u))
if [ -n "$untested" ]; then
  echo "windows-dll: compiled into the 32-bit DLL but not into the native tree:" $untested >&2
  exit 1
fi
echo "windows-dll: the DLL's $(compiled_sources build/win32 | sort -u | wc -l) sources are all" \
  "compiled and tested in the native tree"
bash tests/msvc_host/build.sh "$work" >/dev/null
echo "windows-dll: the Microsoft-ABI host is built"

# The runs need the 32-bit wine loader.
require --for "running the DLL in the Microsoft-ABI host (everything else was checked)" wine32

# Whether this kernel runs i386 programs at all (some are built without 32-bit
# support): a static i386 program that only exits with status 42.
runs_32_bit() {
  printf 'void _start(void) { __asm__ volatile("int $0x80" : : "a"(1), "b"(42)); }\n' \
    >"$work/i386-probe.c"
  clang --target=i386-linux-gnu -nostdlib -static -fuse-ld=lld -O1 \
    -o "$work/i386-probe" "$work/i386-probe.c" || return 1
  local status=0
  "$work/i386-probe" 2>/dev/null || status=$?
  [ $status -eq 42 ]
}

# The same runs (tests/msvc_host/wine-runs.sh) here or, where this kernel cannot run
# them or VELNOR_WINE_IN_VM=1 asks for it, under Debian's kernel in a virtual machine.
prefix=$work/wine-prefix
if [ "${VELNOR_WINE_IN_VM:-0}" != 1 ] && runs_32_bit; then
  echo "windows-dll: this kernel runs 32-bit programs; the runs are made here"
  bash tests/msvc_host/wine-runs.sh "$work" "$prefix"
else
  if [ "${VELNOR_WINE_IN_VM:-0}" = 1 ]; then
    echo "windows-dll: VELNOR_WINE_IN_VM=1: the runs are made in a virtual machine"
  else
    echo "windows-dll: this kernel runs no 32-bit program; the runs are made in a virtual machine"
  fi
  require --for "running the 32-bit host under a kernel that runs it (everything else was checked)" vm
  bash scripts/run-in-vm.sh --share "$work" --timeout 1500 -- \
    bash tests/msvc_host/wine-runs.sh "$work" "$prefix"
fi
