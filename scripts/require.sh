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

require() {
  bash scripts/install-deps.sh "$@" >&2 && return 0
  local missing
  missing=$(bash scripts/install-deps.sh --missing "$@" | paste -sd ';' | sed 's/;/; /g')
  skip "Debian packages missing: ${missing:-groups $*}"
}
