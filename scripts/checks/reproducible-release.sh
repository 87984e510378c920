#!/usr/bin/env bash
# The release archives are reproducible: the current commit, checked out into two
# folders of different names and path lengths, gives byte-identical archives from
# scripts/release.sh in each. Checks the commit, not uncommitted changes.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require mingw aarch64 packaging
root=$PWD
fail() { echo "reproducible-release: $*" >&2; exit 1; }

commit=$(git rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folders=("$work/one" "$work/second-checkout")
for dir in "${folders[@]}"; do
  git init -q "$dir"
  git -C "$dir" fetch -q "$root" HEAD
  git -C "$dir" checkout -q FETCH_HEAD
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
