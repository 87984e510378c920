#!/usr/bin/env python3
"""Writes the VapourSynth wheel of one built plug-in library.

    python3 scripts/make_wheel.py LIBRARY PLATFORM OUTDIR

LIBRARY is the 64-bit host library (libvelnor.so or velnor.dll); PLATFORM is
linux_x86_64, linux_aarch64 or win_amd64. For Linux the wheel carries the oldest
manylinux tag the library allows: it must need nothing but glibc, and the newest
glibc symbol version it refers to names the tag. Prints the wheel's path.

The wheel installs the library as vapoursynth/plugins/velnor/<file>, where
VapourSynth R74 and later autoload it. It is written with zipfile alone and
depends only on its inputs: every entry is stamped with SOURCE_DATE_EPOCH (or the
commit's time), entries are sorted, modes fixed.
"""

import base64
import hashlib
import os
import re
import struct
import subprocess
import sys
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

DISTRIBUTION = "vapoursynth-velnor"
SUMMARY = "Velnor, a spatial denoiser for planar YUV video, as a VapourSynth plug-in"
PLUGIN_FOLDER = "vapoursynth/plugins/velnor"
# Plug-ins in wheels are found by VapourSynth R74 and later only.
REQUIRES = "vapoursynth>=74"

# The libraries a Linux wheel's library may need: glibc's own.
GLIBC_LIBRARIES = {
    "libc.so.6", "libm.so.6", "libdl.so.2", "libpthread.so.0", "librt.so.1",
    "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1",
}
ELF_MACHINES = {"x86_64": 62, "aarch64": 183}
PE_MACHINES = {"win_amd64": 0x8664}


def fail(message):
    sys.exit(f"make_wheel: {message}")


def elf_dependencies(data):
    """The NEEDED libraries and the GLIBC_x.y versions a 64-bit little-endian ELF
    shared object refers to, and its machine."""
    if data[:6] != b"\x7fELF\x02\x01":
        fail("not a 64-bit little-endian ELF file")
    machine = struct.unpack_from("<H", data, 18)[0]
    shoff, = struct.unpack_from("<Q", data, 40)
    shentsize, shnum = struct.unpack_from("<HH", data, 58)
    sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + i * shentsize) for i in range(shnum)]

    def string(section, offset):
        start = sections[section][4] + offset
        return data[start:data.index(b"\0", start)].decode()

    needed, versions = set(), set()
    for _, kind, _, _, offset, size, link, info, _, entsize in sections:
        if kind == 6:  # SHT_DYNAMIC
            for pos in range(offset, offset + size, entsize):
                tag, value = struct.unpack_from("<qQ", data, pos)
                if tag == 1:  # DT_NEEDED
                    needed.add(string(link, value))
        elif kind == 0x6FFFFFFE:  # SHT_GNU_verneed: files, each with its versions
            pos = offset
            for _ in range(info):
                _, count, _, aux, next_file = struct.unpack_from("<HHIII", data, pos)
                apos = pos + aux
                for _ in range(count):
                    _, _, _, name, next_aux = struct.unpack_from("<IHHII", data, apos)
                    versions.add(string(link, name))
                    apos += next_aux
                pos += next_file
    return machine, needed, versions


def manylinux_tag(data, arch):
    machine, needed, versions = elf_dependencies(data)
    if machine != ELF_MACHINES[arch]:
        fail(f"the library is not built for {arch} (ELF machine {machine})")
    foreign = sorted(needed - GLIBC_LIBRARIES)
    if foreign:
        fail(f"the library needs {', '.join(foreign)}; only glibc may be needed")
    glibc = [tuple(map(int, m.groups())) for v in versions
             if (m := re.fullmatch(r"GLIBC_(\d+)\.(\d+)(?:\.\d+)?", v))]
    if not glibc:
        fail("the library refers to no glibc symbol version")
    major, minor = max(glibc)
    return f"manylinux_{major}_{minor}_{arch}"


def pe_machine(data):
    if data[:2] != b"MZ":
        fail("not a PE file")
    header, = struct.unpack_from("<I", data, 0x3C)
    if data[header:header + 4] != b"PE\0\0":
        fail("not a PE file")
    return struct.unpack_from("<H", data, header + 4)[0]


def platform_tag(data, platform):
    if platform.startswith("linux_"):
        arch = platform[len("linux_"):]
        if arch not in ELF_MACHINES:
            fail(f"unknown Linux platform {platform}")
        return manylinux_tag(data, arch)
    if platform in PE_MACHINES:
        if pe_machine(data) != PE_MACHINES[platform]:
            fail(f"the library is not built for {platform}")
        return platform
    fail(f"unknown platform {platform}")


def record_line(name, content):
    digest = base64.urlsafe_b64encode(hashlib.sha256(content).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(content)}\n"


def source_date():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        epoch = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"],
                               capture_output=True, text=True).stdout.strip()
    if not epoch:
        fail("not a git checkout; set SOURCE_DATE_EPOCH")
    # Zip time stamps start in 1980.
    return max(time.gmtime(int(epoch))[:6], (1980, 1, 1, 0, 0, 0))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    library, platform, outdir = sys.argv[1:]
    with open(library, "rb") as f:
        binary = f.read()
    tag = "py3-none-" + platform_tag(binary, platform)
    version = subprocess.run(["bash", os.path.join(ROOT, "scripts/version.sh")],
                             capture_output=True, text=True, check=True).stdout.strip()
    with open(os.path.join(ROOT, "LICENSE"), "rb") as f:
        license_text = f.read()
    with open(os.path.join(ROOT, "packaging/README-wheel.md"), encoding="utf-8") as f:
        description = f.read().replace("@VERSION@", version)
    if re.search(r"@[A-Z0-9]+@", description):
        fail("unfilled placeholder in packaging/README-wheel.md")

    name = DISTRIBUTION.replace("-", "_")
    dist_info = f"{name}-{version}.dist-info"
    metadata = (
        "Metadata-Version: 2.1\n"
        f"Name: {DISTRIBUTION}\n"
        f"Version: {version}\n"
        f"Summary: {SUMMARY}\n"
        "License: MIT\n"
        "Classifier: License :: OSI Approved :: MIT License\n"
        "Classifier: Topic :: Multimedia :: Video\n"
        f"Requires-Dist: {REQUIRES}\n"
        "Description-Content-Type: text/markdown\n"
        "\n" + description)
    wheel = ("Wheel-Version: 1.0\n"
             "Generator: velnor scripts/make_wheel.py\n"
             "Root-Is-Purelib: false\n"
             f"Tag: {tag}\n")
    # (path, content, executable)
    entries = [
        (f"{PLUGIN_FOLDER}/{os.path.basename(library)}", binary, True),
        (f"{dist_info}/LICENSE", license_text, False),
        (f"{dist_info}/METADATA", metadata.encode(), False),
        (f"{dist_info}/WHEEL", wheel.encode(), False),
    ]
    record_name = f"{dist_info}/RECORD"
    record = "".join(record_line(path, content) for path, content, _ in sorted(entries))
    record += f"{record_name},,\n"
    entries.append((record_name, record.encode(), False))

    stamp = source_date()
    os.makedirs(outdir, exist_ok=True)
    path = os.path.join(outdir, f"{name}-{version}-{tag}.whl")
    with zipfile.ZipFile(path, "w") as archive:
        for entry, content, executable in sorted(entries):
            info = zipfile.ZipInfo(entry, date_time=stamp)
            info.create_system = 3  # Unix: the mode below is read
            info.external_attr = (0o100755 if executable else 0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, content, compresslevel=9)
    print(path)


if __name__ == "__main__":
    main()
