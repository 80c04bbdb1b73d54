"""Checks wheels as the zips they are: the tag of the name is the tag in WHEEL,
the library inside is built for the machine that tag promises, and RECORD
lists every file with its size and SHA-256 (what pip verifies on install).

    check_wheel.py WHEEL...

Prints a PASS: or FAIL: line a wheel; exits 1 if any failed.
"""

import base64
import hashlib
import re
import struct
import sys
import zipfile

# The machine each platform tag stands for: PE machine, or ELF e_machine.
PE = {"win_amd64": 0x8664, "win32": 0x14C, "win_arm64": 0xAA64}
ELF = {"x86_64": 62, "aarch64": 183, "armv7l": 40, "s390x": 22}


def machine(data):
    if data[:2] == b"MZ":
        (offset,) = struct.unpack_from("<I", data, 0x3C)
        return "PE", hex(struct.unpack_from("<H", data, offset + 4)[0])
    if data[:4] == b"\x7fELF":
        return "ELF", hex(struct.unpack_from("<H" if data[5] == 1 else ">H", data, 18)[0])
    return "neither ELF nor PE", None


def problems(path):
    name = re.fullmatch(r"tolvane-([^-]+)-py3-none-([a-z0-9_]+)\.whl", path.rsplit("/", 1)[-1])
    if not name:
        yield "not named tolvane-VERSION-py3-none-TAG.whl"
        return
    tag = name.group(2)
    info = "tolvane-%s.dist-info/" % name.group(1)
    with zipfile.ZipFile(path) as wheel:
        files = {entry: wheel.read(entry) for entry in wheel.namelist()}
    if "Tag: py3-none-%s" % tag not in files.get(info + "WHEEL", b"").decode().splitlines():
        yield "WHEEL does not give the tag py3-none-%s" % tag

    linux = re.fullmatch(r"manylinux_\d+_\d+_(\w+)", tag)
    if tag in PE:
        library, expected = "tolvane/TolvaneWAVTimeStretch.dll", ("PE", hex(PE[tag]))
    elif linux and linux.group(1) in ELF:
        library, expected = "tolvane/libTolvaneWAVTimeStretch.so.1", ("ELF", hex(ELF[linux.group(1)]))
    else:
        yield "unknown platform tag %s" % tag
        return
    if library not in files:
        yield "no %s" % library
    elif machine(files[library]) != expected:
        yield "%s is %s machine %s, not %s" % (library, *machine(files[library]), expected[1])

    listed = set()
    for row in files.get(info + "RECORD", b"").decode().splitlines():
        entry, digest, size = row.rsplit(",", 2)
        listed.add(entry)
        if entry == info + "RECORD":
            continue
        data = files.get(entry)
        actual = "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data or b"").digest()).rstrip(b"=").decode()
        if data is None or digest != actual or size != str(len(data)):
            yield "RECORD does not match %s" % entry
    if listed != set(files):
        yield "RECORD lists %s, the zip holds %s" % (sorted(listed), sorted(files))


def main():
    failed = False
    for path in sys.argv[1:]:
        found = list(problems(path))
        failed = failed or bool(found)
        print("FAIL: wheel %s: %s" % (path, "; ".join(found)) if found
              else "PASS: wheel %s: tag, library machine and RECORD" % path)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
