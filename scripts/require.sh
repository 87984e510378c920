# Sourced by the checks in scripts/checks/: `require GROUP...` installs the package
# groups of scripts/install-deps.sh that the check needs; when one cannot be had the
# check is skipped: it prints "SKIPPED: <what is missing>: <apt's reason>" and exits
# with status 77, which scripts/test.sh counts as skipped, never as passed.
readonly skip_status=77

# skip REASON: ends the check as skipped.
skip() {
  echo "SKIPPED: $*"
  exit $skip_status
}

# require [--for WHAT] GROUP...: WHAT names what the groups are needed for.
require() {
  local what="Debian packages missing"
  if [ "${1:-}" = --for ]; then what="$2 needs Debian packages that are missing"; shift 2; fi
  bash scripts/install-deps.sh "$@" >&2 && return 0
  local missing
  missing=$(bash scripts/install-deps.sh --missing "$@" | paste -sd ';' | sed 's/;/; /g')
  skip "$what: ${missing:-groups $*}"
}
