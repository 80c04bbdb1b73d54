"""Makes the wheel tolvane-VERSION-py3-none-TAG.whl: the binding with a built
library beside its module, which it loads before any other copy.

    make_wheel.py LIBRARY OUT_DIR --version VERSION [--strip STRIP]

LIBRARY is the built libTolvaneWAVTimeStretch.so.1 or TolvaneWAVTimeStretch.dll;
STRIP the binutils (or llvm) strip for its machine, which strips the copy that
goes into the wheel. Prints the wheel's path.

The tag comes from the library itself, not from what the caller says it is:
- a PE file's machine gives win_amd64, win32 or win_arm64;
- an ELF file's machine gives the architecture, and the highest GLIBC_x.y
  version that its undefined dynamic symbols ask for (`readelf --dyn-syms`)
  gives manylinux_x_y: the oldest C library that has every function it calls.

The wheel is built by the PEP 517 hooks of setuptools and wheel, offline; run
this with an interpreter that has both (Debian: /usr/bin/python3 with
python3-setuptools and python3-wheel). The package stays pure Python (ctypes
loads the library by path), so it is py3-none: one wheel for every Python 3.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# No Python is made for 32-bit ARM Windows: no tag for its DLL.
PE_MACHINES = {0x8664: "win_amd64", 0x14C: "win32", 0xAA64: "win_arm64"}
ELF_MACHINES = {62: "x86_64", 183: "aarch64", 40: "armv7l", 22: "s390x", 3: "i686"}
# What any manylinux system has; anything else the library needs, a user may not.
C_RUNTIME = {"libc.so.6", "libm.so.6"}


def pe_tag(data):
    (offset,) = struct.unpack_from("<I", data, 0x3C)
    if data[offset:offset + 4] != b"PE\0\0":
        sys.exit("an MZ file without a PE header")
    (machine,) = struct.unpack_from("<H", data, offset + 4)
    if machine not in PE_MACHINES:
        sys.exit("unknown PE machine 0x%X" % machine)
    return PE_MACHINES[machine]


def readelf(*args):
    return subprocess.run(["readelf", "-W", *args], check=True, capture_output=True, text=True).stdout


def elf_tag(path, header):
    order = "<" if header[5] == 1 else ">"
    (machine,) = struct.unpack_from(order + "H", header, 18)
    if machine not in ELF_MACHINES:
        sys.exit("unknown ELF machine %d" % machine)
    needs = set()
    for line in readelf("--dyn-syms", path).splitlines():
        fields = line.split()
        if len(fields) >= 8 and fields[6] == "UND":
            found = re.search(r"@GLIBC_(\d+)\.(\d+)", fields[7])
            if found:
                needs.add((int(found.group(1)), int(found.group(2))))
    if not needs:
        sys.exit("%s asks for no GLIBC_ symbol version: not built against glibc?" % path)
    others = sorted(set(re.findall(r"\(NEEDED\)\s+Shared library: \[(.*?)\]", readelf("-d", path))) - C_RUNTIME)
    if others:
        print("warning: the library also needs %s, which a manylinux system need not have" % ", ".join(others),
              file=sys.stderr)
    major, minor = max(needs)
    return "manylinux_%d_%d_%s" % (major, minor, ELF_MACHINES[machine])


def tag_and_name(path):
    with open(path, "rb") as f:
        header = f.read(64)
        if header[:2] == b"MZ":
            f.seek(0)
            return pe_tag(f.read()), "TolvaneWAVTimeStretch.dll"
    if header[:4] == b"\x7fELF":
        return elf_tag(path, header), "libTolvaneWAVTimeStretch.so.1"
    sys.exit("%s: neither an ELF nor a PE file" % path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("library")
    parser.add_argument("out_dir")
    parser.add_argument("--version", required=True)
    parser.add_argument("--strip")
    args = parser.parse_args()
    tag, name = tag_and_name(args.library)
    os.makedirs(args.out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as stage:
        for file in ("pyproject.toml", "README.md"):
            shutil.copy(os.path.join(HERE, file), stage)
        package = os.path.join(stage, "tolvane")
        shutil.copytree(os.path.join(HERE, "tolvane"), package,
                        ignore=shutil.ignore_patterns("__pycache__", "_version.py", "*.so*", "*.dll"))
        with open(os.path.join(package, "_version.py"), "w") as f:
            f.write('__version__ = "%s"\n' % args.version)
        library = os.path.join(package, name)
        if args.strip:
            subprocess.run([args.strip, "-o", library, args.library], check=True)
        else:
            shutil.copy(args.library, library)
        # A pure package with a platform: py3-none-TAG (bdist_wheel keeps
        # "py3-none" for a package without extension modules).
        with open(os.path.join(stage, "setup.cfg"), "w") as f:
            f.write("[bdist_wheel]\nplat_name = %s\n" % tag)
        build = subprocess.run(
            [sys.executable, "-c", "import sys; from setuptools import build_meta as b; print(b.build_wheel(sys.argv[1]))",
             os.path.abspath(args.out_dir)],
            cwd=stage, capture_output=True, text=True)
        if build.returncode != 0:
            sys.stderr.write(build.stdout + build.stderr)
            sys.exit("the wheel could not be built (setuptools and wheel for %s: Debian's python3-setuptools "
                     "python3-wheel with /usr/bin/python3)" % sys.executable)
        wheel = build.stdout.strip().splitlines()[-1]
    expected = "tolvane-%s-py3-none-%s.whl" % (args.version, tag)
    if wheel != expected:
        sys.exit("setuptools made %s, not %s" % (wheel, expected))
    print(os.path.join(os.path.abspath(args.out_dir), wheel))


if __name__ == "__main__":
    main()
