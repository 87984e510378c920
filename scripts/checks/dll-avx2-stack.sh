#!/usr/bin/env bash
# The 32-bit plug-in's AVX2 pass meets a stack that the host keeps aligned to 4
# bytes only, while its spill slots are 32 bytes wide. That is safe because every
# vector instruction of the pass is VEX-encoded, and VEX forms fault on a
# misaligned memory operand only in the explicitly aligned moves, of which the
# pass has none on the stack (GCC also realigns its frames). This check builds the
# plug-in (scripts/build-dll.sh) and verifies on the AVX2 object that it holds
# 256-bit code, no legacy SSE encoding, and no aligned or non-temporal move to or
# from the stack; and that the DLL carries 256-bit code. The wine runs of
# windows-dll.sh then run it with the stack at every 4-byte offset.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require mingw
dll=$(bash scripts/build-dll.sh)
obj=build/win32/core/CMakeFiles/velnor_core.dir/x86/pass_avx2.cpp.obj
objdump=i686-w64-mingw32-objdump
fail() { echo "dll-avx2-stack: $*" >&2; exit 1; }
[ -f "$obj" ] || fail "$obj missing: the 32-bit build has no AVX2 pass"

code=$("$objdump" -d --no-show-raw-insn "$obj" | awk -F'\t' 'NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {print $2}')
wide=$(grep -c '%ymm' <<<"$code" || true)
[ "$wide" -gt 0 ] || fail "no 256-bit instruction in $obj"

legacy=$(grep -E '%[xy]mm' <<<"$code" | grep -vE '^v' || true)
[ -z "$legacy" ] || fail "legacy SSE encodings (alignment-checked memory operands) in $obj:
$(sort <<<"$legacy" | uniq -c | head)"

aligned=$(grep -E '^v?mov(dqa|dqa32|dqa64|aps|apd|nt[a-z]*) ' <<<"$code" |
  grep -E '\((%esp|%ebp)' || true)
[ -z "$aligned" ] || fail "aligned moves on the stack in $obj:
$(head <<<"$aligned")"

in_dll=$("$objdump" -d --no-show-raw-insn "$dll" | grep -c '%ymm' || true)
[ "$in_dll" -gt 0 ] || fail "velnor.dll holds no 256-bit instruction"
echo "dll-avx2-stack: $wide 256-bit instructions, all VEX, no aligned stack moves; $in_dll in the DLL"
