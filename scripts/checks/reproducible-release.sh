#!/usr/bin/env bash
# The release archives are reproducible: the current commit, built in two folders of
# different names and path lengths, gives byte-identical archives from
# scripts/release.sh in each. Checks the commit, not uncommitted changes: when the
# work tree is clean it is the first folder (its trees, built by the earlier checks,
# are reused, so one of the two builds is mostly incremental), else a second fresh
# checkout is.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require mingw aarch64 packaging
root=$PWD
fail() { echo "reproducible-release: $*" >&2; exit 1; }

commit=$(git rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The other checks' variables name this tree's builds: the releases make their own.
unset VELNOR_NATIVE_BUILD
if [ -z "$(git status --porcelain --untracked-files=no)" ]; then
  folders=("$root" "$work/second-checkout")
else
  echo "reproducible-release: the work tree has changes; building the commit in two fresh checkouts"
  folders=("$work/one" "$work/second-checkout")
fi
for dir in "${folders[@]}"; do
  if [ "$dir" != "$root" ]; then
    git init -q "$dir"
    git -C "$dir" fetch -q "$root" HEAD
    git -C "$dir" checkout -q FETCH_HEAD
  fi
  [ "$(git -C "$dir" rev-parse HEAD)" = "$commit" ] || fail "$dir is not at $commit"
  start=$SECONDS
  bash "$dir/scripts/release.sh" >"$work/release-$(basename "$dir").log" 2>&1 ||
    { cat "$work/release-$(basename "$dir").log" >&2; fail "scripts/release.sh failed in $dir"; }
  echo "reproducible-release: built in $dir in $((SECONDS - start)) s"
done

first=${folders[0]}/release second=${folders[1]}/release
names=$(cd "$first" && ls)
[ "$names" = "$(cd "$second" && ls)" ] || fail "the two releases hold different files"
for name in $names; do
  cmp -s "$first/$name" "$second/$name" || fail "$name differs between the two builds"
  echo "reproducible-release: $name identical ($(stat -c %s "$first/$name") bytes)"
done
echo "reproducible-release: two builds of ${commit:0:12} are byte-identical"
sed 's/^/  /' "$first/SHA256SUMS"
