#!/usr/bin/env bash
# Installs the Debian packages the project needs, in groups, so that a package that
# cannot be had costs only the checks that need it:
#   bash scripts/install-deps.sh            every group; fails only when "core" fails
#   bash scripts/install-deps.sh GROUP...   those groups; fails when any of them fails
#   bash scripts/install-deps.sh --demo     the same as "demo"
#   bash scripts/install-deps.sh --list     the groups and their packages
#   bash scripts/install-deps.sh --missing GROUP...
#                                           their packages not installed, one a line,
#                                           each with the reason apt gave, if any
# Safe to run repeatedly; does nothing that is already done. A package index that
# fails to download is retried a few times, then the lists apt has are used. What
# could not be installed is printed with the first line of apt's reason and kept in
# build/install-deps/unavailable.tsv (package, reason), where the checks read why
# they were skipped.
set -uo pipefail
cd "$(dirname "$0")/.."

declare -A group_packages=(
  # Both builds and both test suites (ffmpeg and python3 serve the CLI's tests).
  [core]="build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
          libbenchmark-dev googletest python3 ffmpeg"
  # scripts/demo.sh: the picture and PSNR script's Python packages.
  [demo]="build-essential cmake ninja-build python3 python3-numpy python3-skimage python3-pil"
  [format]="clang-format"
  # Fuzzing, ThreadSanitizer and the Microsoft-ABI test host.
  [clang]="clang lld llvm libclang-rt-14-dev"
  [mingw]="g++-mingw-w64-i686 g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix"
  [wine64]="wine wine64"
  # The 32-bit loader, from the i386 architecture: its packages must match the amd64
  # ones exactly, so a stale index of either breaks it. "wine" brings the commands
  # (wine, wineboot, wineserver) that start it.
  [wine32]="wine wine32"
  # A virtual machine for programs this machine's kernel cannot run (scripts/run-in-vm.sh;
  # the kernel it boots is Debian's, downloaded by that script).
  [vm]="qemu-system-x86 busybox-static"
  [aarch64]="g++-aarch64-linux-gnu qemu-user"
  # scripts/release.sh, the install check and the wheels.
  [packaging]="git zip man-db python3-pip"
  # The libc++ and macOS compile check (npm brings zig; see below).
  [macos]="libc++-dev libc++abi-dev"
  # The AVX-512 level's tests on a CPU without AVX-512 (headers only).
  [simde]="libsimde-dev"
  [bench]="hyperfine"
)
all_groups=(core demo format clang mingw wine64 wine32 vm aarch64 packaging macos simde bench)

state=build/install-deps
unavailable=$state/unavailable.tsv
mkdir -p "$state"
touch "$unavailable"

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing_of() {  # GROUP: its packages not installed yet
  local p
  for p in ${group_packages[$1]}; do installed "$p" || echo "$p"; done
  # npm fetches zig for the macOS check; it usually comes with Node.js, whose own
  # packaging conflicts with Debian's npm.
  if [ "$1" = macos ] && ! command -v npm >/dev/null; then echo npm; fi
}

usage() { echo "usage: install-deps.sh [--demo | --list | GROUP...]; groups: ${all_groups[*]}" >&2; exit 2; }
explicit=1
case "${1:-}" in
  "") groups=("${all_groups[@]}"); explicit=0 ;;
  --demo) groups=(demo) ;;
  --list)
    for g in "${all_groups[@]}"; do echo "$g: $(xargs <<<"${group_packages[$g]}")"; done
    exit 0 ;;
  --missing)
    shift
    [ $# -gt 0 ] || usage
    for g in "$@"; do
      [ -n "${group_packages[$g]:-}" ] || usage
      for p in $(missing_of "$g"); do
        why=$(awk -F'\t' -v p="$p" '$1 == p {print $2}' "$unavailable")
        echo "$p: ${why:-not installed}"
      done
    done
    exit 0 ;;
  -*) usage ;;
  *) groups=("$@") ;;
esac
for g in "${groups[@]}"; do [ -n "${group_packages[$g]:-}" ] || usage; done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
# A fresh machine may be installing its own updates: wait for the package lock (up
# to ten minutes) instead of failing at once.
apt=("${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600)

# Records PACKAGE as unavailable with REASON (one line), replacing an older record.
record() {
  { grep -v -P "^\Q$1\E\t" "$unavailable" || true; printf '%s\t%s\n' "$1" "$2"; } >"$unavailable.new"
  mv "$unavailable.new" "$unavailable"
}
forget() { { grep -v -P "^\Q$1\E\t" "$unavailable" || true; } >"$unavailable.new"; mv "$unavailable.new" "$unavailable"; }

updated=0
# apt-get update, up to three times with pauses; then the lists apt has are used.
update_lists() {
  [ $updated -eq 0 ] || return 0
  updated=1
  # Once in two hours is enough: the checks call this script for their own groups.
  local stamp=$state/lists-updated
  if [ -n "$(find "$stamp" -newermt '-120 minutes' 2>/dev/null)" ]; then return 0; fi
  touch "$stamp"
  local try log=$state/update.log
  for try in 1 2 3; do
    if "${apt[@]}" update -qq >"$log" 2>&1; then return 0; fi
    echo "install-deps: apt-get update failed (try $try of 3): $(grep -m1 '^E:' "$log" || tail -n1 "$log")"
    [ $try -eq 3 ] || sleep $((try * 10))
  done
  echo "install-deps: going on with the package lists apt has; packages whose index failed may not install"
}

# The first line of apt's reason for a failed install: the first unmet dependency,
# else its first error.
reason_of() {
  local line
  line=$(grep -m1 -A1 'unmet dependencies' "$1" | tail -n1 | sed 's/^ *//')
  [ -n "$line" ] || line=$(grep -m1 '^E:' "$1")
  [ -n "$line" ] || line=$(tail -n1 "$1")
  echo "$line"
}

# Installs one group; returns 1 when any of its packages is still missing. A group
# that fails as a whole is tried package by package, so the others still install.
install_group() {
  local group=$1 missing p log=$state/install-$1.log
  mapfile -t missing < <(missing_of "$group")
  [ ${#missing[@]} -gt 0 ] || return 0
  if [ "$group" = wine32 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
    rm -f "$state/lists-updated"
    updated=0
  fi
  update_lists
  echo "install-deps: $group: installing ${missing[*]}"
  # -q, not -qq: apt then names the unmet dependencies.
  if "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
    for p in "${missing[@]}"; do forget "$p"; done
    return 0
  fi
  if [ ${#missing[@]} -eq 1 ]; then
    record "${missing[0]}" "$(reason_of "$log")"
    echo "install-deps: $group: cannot install ${missing[0]}: $(reason_of "$log")"
    return 1
  fi
  local failed=0
  for p in "${missing[@]}"; do
    if "${apt[@]}" install -y -q --no-install-recommends "$p" >"$log.$p" 2>&1; then
      forget "$p"
    else
      record "$p" "$(reason_of "$log.$p")"
      echo "install-deps: $group: cannot install $p: $(reason_of "$log.$p")"
      failed=1
    fi
  done
  return $failed
}

failed_groups=()
for g in "${groups[@]}"; do
  install_group "$g" || failed_groups+=("$g")
done

if [ ${#failed_groups[@]} -eq 0 ]; then
  echo "install-deps: ${groups[*]}: everything is installed"
  exit 0
fi
echo "install-deps: NOT installed: groups ${failed_groups[*]}; the checks that need them will be skipped"
if [ $explicit -eq 1 ] || [[ " ${failed_groups[*]} " == *" core "* ]]; then exit 1; fi
exit 0
