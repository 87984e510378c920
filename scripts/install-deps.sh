#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Safe to run repeatedly; does nothing that is already done.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev googletest
  clang clang-format lld llvm libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix
  wine wine32 wine64
  ffmpeg hyperfine
  python3 python3-numpy python3-skimage python3-pil
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# wine32 comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  missing+=(wine32)
fi
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
