#!/usr/bin/env bash
# Prints the entry points the 64-bit plug-in library exports, sorted and on one
# line, as plugin/velnor_hosts.def (Windows) and plugin/velnor_hosts.map (ELF) list
# them; the two lists must agree. The checks compare a built library's exports
# with this line.
set -euo pipefail
cd "$(dirname "$0")/.."
def=$(awk 'NR > 1 && NF {print $1}' plugin/velnor_hosts.def | LC_ALL=C sort | xargs)
map=$(sed -n 's/^ *\([A-Za-z_][A-Za-z_0-9]*\);$/\1/p' plugin/velnor_hosts.map | LC_ALL=C sort | xargs)
if [ "$def" != "$map" ]; then
  echo "plugin-entries: velnor_hosts.def lists '$def', velnor_hosts.map '$map'" >&2
  exit 1
fi
echo "$def"
