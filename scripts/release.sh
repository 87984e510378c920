#!/usr/bin/env bash
# Builds the three shipped targets (scripts/build-dist.sh) and writes the release
# archives under release/:
#   velnor-<version>-linux-x86_64.tar.gz  libvelnor.so, velnor, velnor.1
#   velnor-<version>-linux-aarch64.tar.gz the same for Linux on AArch64 (cross-built)
#   velnor-<version>-win64.zip            velnor.dll (AviSynth+ and VapourSynth, x64), velnor.exe
#   velnor-<version>-win32.zip            velnor.dll (AviSynth 2.5, 32-bit)
# each with LICENSE and the host's README.txt (from packaging/), the VapourSynth
# wheels of the 64-bit libraries (scripts/make_wheel.py):
#   vapoursynth_velnor-<version>-py3-none-manylinux_2_<N>_x86_64.whl
#   vapoursynth_velnor-<version>-py3-none-win_amd64.whl
# and SHA256SUMS.
# The archives depend only on the commit: every time stamp is the commit's
# (SOURCE_DATE_EPOCH), entries are sorted, owners and modes fixed, and the
# binaries hold no build path or link time, so two builds of one commit are
# byte-identical in any folder. Prints the paths it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
fail() { echo "release: $*" >&2; exit 1; }

version=$(bash scripts/version.sh)
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    fail "not a git checkout; set SOURCE_DATE_EPOCH"
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "release: the work tree has uncommitted changes; the archives will not match the commit" >&2
fi
command -v zip >/dev/null || bash scripts/install-deps.sh packaging >&2

# The three targets, built and checked.
paths=$(bash scripts/build-dist.sh)
dll64=$(grep '/win64/velnor.dll$' <<<"$paths")
dll32=$(grep '/win32/' <<<"$paths")
linux=build/linux-x86_64
cmake --build "$linux" -j 2 >&2
stage=$root/build/release-stage
rm -rf "$stage"
cmake --install "$linux" --prefix "$stage/install" --strip >/dev/null

# The parameter defaults for the README.txt files, from the filter's own header.
default() {
  local value
  value=$(sed -n "s/.*constexpr int32_t $1 = \([0-9-]*\);.*/\1/p" core/filter_settings.h)
  [ -n "$value" ] || fail "no $1 in core/filter_settings.h"
  echo "$value"
}
strength=$(default kDefaultStrength)
threshold1=$(default kDefaultThreshold1)
threshold2=$(default kDefaultThreshold2)

# stage NAME README FILE...: a folder of the archive's contents, modes fixed.
stage_folder() {
  local dir=$stage/$1 readme=$2
  shift 2
  mkdir -p "$dir"
  cp "$@" LICENSE "$dir/"
  sed -e "s/@VERSION@/$version/g" -e "s/@STRENGTH@/$strength/g" \
      -e "s/@THRESHOLD1@/$threshold1/g" -e "s/@THRESHOLD2@/$threshold2/g" \
      "packaging/$readme" >"$dir/README.txt"
  grep -q '@[A-Z0-9]*@' "$dir/README.txt" && fail "unfilled placeholder in $readme"
  find "$dir" -type d -exec chmod 755 {} +
  find "$dir" -type f -exec chmod 644 {} +
  find "$dir" -type f -name velnor -exec chmod 755 {} +
  find "$dir" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# tar_gz NAME: the staged folder NAME as release/NAME.tar.gz, entries sorted,
# owners and times fixed.
tar_gz() {
  tar --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
    --mtime="@$SOURCE_DATE_EPOCH" -C "$stage" -cf - "$1" |
    gzip -9n >"$out/$1.tar.gz"
}

out=$root/release
rm -rf "$out"
mkdir -p "$out"
base=velnor-$version

linux_name=$base-linux-x86_64
stage_folder "$linux_name" README-linux-x86_64.txt \
  "$stage/install/bin/velnor" "$stage/install/lib/vapoursynth/libvelnor.so" \
  "$stage/install/share/man/man1/velnor.1"
tar_gz "$linux_name"

# Linux AArch64, cross-built (cmake/toolchain-aarch64-linux-gnu.cmake); its manual
# page comes from the program's own --help, run under qemu-user.
arm_tree=build/linux-aarch64
if ! command -v aarch64-linux-gnu-g++ >/dev/null || ! command -v qemu-aarch64 >/dev/null; then
  bash scripts/install-deps.sh aarch64 >&2
fi
cmake -S . -B "$arm_tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-aarch64-linux-gnu.cmake" \
  -DVELNOR_BUILD_TESTS=OFF -DVELNOR_BUILD_BENCH=OFF -DVELNOR_BUILD_CLI=ON >/dev/null
cmake --build "$arm_tree" -j 2 >&2
cmake --install "$arm_tree" --prefix "$stage/install-aarch64" --strip >/dev/null
arm_so=$stage/install-aarch64/lib/vapoursynth/libvelnor.so
arm_exports=$(aarch64-linux-gnu-nm -D --defined-only "$arm_so" | awk '{print $NF}' | LC_ALL=C sort | xargs)
[ "$arm_exports" = "$(bash scripts/plugin-entries.sh)" ] ||
  fail "$arm_so exports '$arm_exports'"
arm_name=$base-linux-aarch64
stage_folder "$arm_name" README-linux-aarch64.txt \
  "$stage/install-aarch64/bin/velnor" "$arm_so" \
  "$stage/install-aarch64/share/man/man1/velnor.1"
tar_gz "$arm_name"

# The Windows x64 command-line filter goes into the win64 archive beside the DLL.
win64_cli=("$(grep '/win64/velnor.exe$' <<<"$paths")")
[ -f "${win64_cli[0]}" ] || fail "build-dist.sh built no velnor.exe"

# zip keeps local time: TZ=UTC makes it the same everywhere; -X leaves out the
# owner and extra time fields.
for target in win64 win32; do
  name=$base-$target
  if [ $target = win64 ]; then
    stage_folder "$name" README-windows-x64.txt "$dll64" "${win64_cli[@]}"
  else
    stage_folder "$name" README-windows-x86.txt "$dll32"
  fi
  (cd "$stage" && find "$name" -type f | LC_ALL=C sort |
    TZ=UTC zip -X -9 -q "$out/$name.zip" -@)
done

# The VapourSynth wheels: each 64-bit library installed into the folder VapourSynth
# R74 and later autoload from, the Linux one tagged with the oldest manylinux its
# glibc symbol versions allow.
wheel() { python3 scripts/make_wheel.py "$1" "$2" "$out" >/dev/null; }
wheel "$stage/install/lib/vapoursynth/libvelnor.so" linux_x86_64
wheel "$arm_so" linux_aarch64
wheel "$dll64" win_amd64

(cd "$out" && sha256sum -- *.tar.gz *.zip *.whl >SHA256SUMS)
for f in "$out"/*; do echo "$f"; done
