#!/usr/bin/env bash
# Every tracked C++ file must be formatted by .clang-format (Debian's clang-format 14).
# Lists the files that are not, with the command that formats them.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require format
format=$(command -v clang-format-14 || command -v clang-format || true)
unformatted=()
while IFS= read -r file; do
  "$format" --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done < <(git ls-files '*.cpp' '*.h')
if [ ${#unformatted[@]} -ne 0 ]; then
  echo "format: ${#unformatted[@]} file(s) differ from .clang-format:" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  echo "format: fix with: clang-format -i ${unformatted[*]}" >&2
  exit 1
fi
echo "format: every tracked C++ file is formatted"
