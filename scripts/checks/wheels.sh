#!/usr/bin/env bash
# The VapourSynth wheels: scripts/make_wheel.py wraps each shipped 64-bit library
# (scripts/build-dist.sh; every dist/linux-<arch>/libvelnor.so and the Windows x64
# DLL), and each wheel must keep its tag's promise and install with pip:
#   - a Linux library needs only glibc (libstdc++ and libgcc are linked in) and no
#     glibc symbol version newer than its manylinux tag; the DLL imports only system
#     DLLs (checked with objdump);
#   - RECORD lists every other entry with its hash and size;
#   - Debian's pip installs each wheel offline (`--target`, the Windows one with
#     `--platform win_amd64`), and the library lands, unchanged, in
#     vapoursynth/plugins/velnor/, where VapourSynth R74 and later autoload it.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/require.sh
require mingw packaging
fail() { echo "wheels: $*" >&2; exit 1; }

# Debian's pip (python3-pip), not one another Python on PATH brings.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

bash scripts/build-dist.sh >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folder=vapoursynth/plugins/velnor

# check_record WHEEL: every entry but RECORD is listed with its sha256 and size.
check_record() {
  "$python" - "$1" <<'EOF' || fail "$1: RECORD does not match the entries"
import base64, hashlib, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as wheel:
    names = wheel.namelist()
    record_name = next(n for n in names if n.endswith(".dist-info/RECORD"))
    listed = {}
    for line in wheel.read(record_name).decode().splitlines():
        path, digest, size = line.rsplit(",", 2)
        listed[path] = (digest, size)
    assert set(listed) == set(names), sorted(set(listed) ^ set(names))
    for name in names:
        if name == record_name:
            continue
        data = wheel.read(name)
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        assert listed[name] == (f"sha256={digest}", str(len(data))), name
EOF
}

# wheel_tag WHEEL: the platform tag in the file name, which WHEEL must repeat.
wheel_tag() {
  local base tag
  base=$(basename "$1" .whl)
  tag=${base#*-*-py3-none-}
  unzip -p "$1" '*.dist-info/WHEEL' | grep -qx "Tag: py3-none-$tag" ||
    fail "$1: WHEEL does not carry the file name's tag $tag"
  echo "$tag"
}

count=0
for lib in dist/linux-*/libvelnor.so; do
  arch=${lib#dist/linux-}
  arch=${arch%/libvelnor.so}
  wheel=$("$python" scripts/make_wheel.py "$lib" "linux_$arch" "$work/wheels")
  tag=$(wheel_tag "$wheel")
  [[ $tag =~ ^manylinux_2_([0-9]+)_${arch}$ ]] || fail "$wheel: tag $tag is not manylinux for $arch"
  tag_minor=${BASH_REMATCH[1]}

  # What the library needs, read by objdump: glibc's libraries only, and no symbol
  # version past the tag's glibc.
  dump=$(objdump -p "$lib")
  for needed in $(awk '$1 == "NEEDED" {print $2}' <<<"$dump"); do
    case $needed in
      libc.so.6 | libm.so.6 | libdl.so.2 | libpthread.so.0 | librt.so.1 | ld-linux-*.so.*) ;;
      *) fail "$lib needs $needed; a manylinux library may need only glibc" ;;
    esac
  done
  versions=$(sed -n '/^Version References:/,$p' <<<"$dump" | awk 'NF == 4 {print $4}' | sort -u)
  newest=0
  for version in $versions; do
    [[ $version =~ ^GLIBC_2\.([0-9]+)(\.[0-9]+)?$ ]] ||
      fail "$lib refers to symbol version $version (not glibc's)"
    ((BASH_REMATCH[1] > newest)) && newest=${BASH_REMATCH[1]}
  done
  ((newest <= tag_minor)) || fail "$lib needs GLIBC_2.$newest, newer than its tag $tag"
  ((newest == tag_minor)) || fail "$wheel: tag $tag is newer than the library needs (GLIBC_2.$newest)"

  grep -q "py3-none-$tag.whl" README.md || fail "README.md does not name the wheel tagged $tag"
  check_record "$wheel"
  target=$work/target-$arch
  # A wheel for another CPU is installed as for a machine with its tag.
  foreign=()
  [ "$arch" = "$(uname -m)" ] || foreign=(--platform "$tag" --only-binary=:all:)
  "$python" -m pip install --quiet --no-index --no-deps --no-compile --disable-pip-version-check \
    --root-user-action=ignore "${foreign[@]}" --target "$target" "$wheel" || fail "pip refused $wheel"
  cmp -s "$target/$folder/libvelnor.so" "$lib" || fail "$wheel did not install $folder/libvelnor.so"
  echo "wheels: $(basename "$wheel"): needs GLIBC_2.$newest at most, only glibc; pip installed it"
  count=$((count + 1))
done

dll=dist/win64/velnor.dll
wheel=$("$python" scripts/make_wheel.py "$dll" win_amd64 "$work/wheels")
[ "$(wheel_tag "$wheel")" = win_amd64 ] || fail "$wheel is not tagged win_amd64"
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
grep -q 'file format pei-x86-64' <<<"$dump" || fail "$dll is not a Windows x64 library"
for name in $(awk '/DLL Name:/ {print $3}' <<<"$dump" | sort -u); do
  case "${name,,}" in
    kernel32.dll | msvcrt.dll) ;;
    *) fail "$dll imports $name; only KERNEL32.dll and msvcrt.dll are allowed" ;;
  esac
done
check_record "$wheel"
target=$work/target-win64
"$python" -m pip install --quiet --no-index --no-deps --no-compile --disable-pip-version-check \
  --root-user-action=ignore --platform win_amd64 --only-binary=:all: --target "$target" "$wheel" ||
  fail "pip refused $wheel"
cmp -s "$target/$folder/velnor.dll" "$dll" || fail "$wheel did not install $folder/velnor.dll"
echo "wheels: $(basename "$wheel"): imports only system DLLs; pip installed it"
echo "wheels: $((count + 1)) wheels checked"
