#!/usr/bin/python3
"""Checks a built TolvaneWAVTimeStretch.dll as a binary: its machine, its
export table, its version resource and the DLLs it imports. Hosts bind to the
exports by name or by ordinal and read the version resource, so each is
checked as a host would see it; every DLL, whatever its machine and linker,
must have the same.

usage: check_dll.py DLL[:MACHINE]...   (MACHINE: x64, x86, arm64 or armv7)

Prints one line per check, "PASS: ..." or "FAIL: ...", and exits 1 if any
check failed.
"""
import sys

import pefile

MACHINES = {"x64": 0x8664, "x86": 0x14C, "arm64": 0xAA64, "armv7": 0x1C4}

EXPORT_DIRECTORY_NAME = b"TOLVANEWAVTIMESTRETCH.dll"
EXPORTS = [(1, b"WAVStrech"), (2, b"SoundRecorderStart"), (3, b"SoundRecorderStop"),
           (4, b"SoundRecorderNextFile")]

VERSION_MS = (1 << 16) | 0  # 1.0
VERSION_LS = (0 << 16) | 1  # .0.1
VOS__WINDOWS32 = 4
VFT_DLL = 2
VS_FFI_SIGNATURE = 0xFEEF04BD

STRING_TABLE_KEY = b"040904b0"
STRINGS = {
    b"FileDescription": b"TolvaneWAVTimeStretch DLL",
    b"InternalName": b"TolvaneWAVTimeStretch",
    b"OriginalFilename": b"TolvaneWAVTimeStretch.DLL",
    b"ProductName": b"TolvaneWAVTimeStretch Dynamic Link Library",
    b"FileVersion": b"1, 0, 0, 1",
    b"ProductVersion": b"1, 0, 0, 1",
    b"CompanyName": b"",
    b"LegalTrademarks": b"",
}
TRANSLATION = "0x0409 0x04b0"  # US English, Unicode (1200)

# System DLLs only: nothing from the compiler's runtime may be needed at run
# time, or the DLL would not load on a machine without that runtime.
ALLOWED_IMPORTS = {"kernel32.dll", "msvcrt.dll", "winmm.dll"}
REQUIRED_IMPORTS = {"kernel32.dll"}

# Nor may the compiler's runtime be linked in: the DLL is for small devices.
MOST_BYTES = 64 * 1024
# Marks that libstdc++ (exception type names, its strings) and winpthread
# leave in a binary they are linked into.
RUNTIME_MARKS = [b"St9exception", b"basic_string", b"winpthread"]


class Report:
    def __init__(self, label):
        self.label = label
        self.failed = 0

    def check(self, what, ok, detail=""):
        tag = "PASS" if ok else "FAIL"
        suffix = f" ({detail})" if detail and not ok else ""
        print(f"{tag}: {self.label}: {what}{suffix}")
        if not ok:
            self.failed += 1


def check_exports(pe, report):
    directory = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    report.check("has an export directory", directory is not None)
    if directory is None:
        return
    report.check("export directory names the module in capitals",
                 directory.name == EXPORT_DIRECTORY_NAME, repr(directory.name))
    report.check("ordinal base is 1", directory.struct.Base == 1, str(directory.struct.Base))

    expected = EXPORTS
    actual = sorted((symbol.ordinal, symbol.name) for symbol in directory.symbols)
    report.check("exports exactly " + ", ".join(f"{name.decode()}@{ordinal}" for ordinal, name in expected),
                 actual == expected, repr(actual))
    report.check("every export has a name and no forwarder",
                 all(symbol.name and not symbol.forwarder for symbol in directory.symbols))
    # Each address leads into code; on ARMv7 it says Thumb code (low bit set),
    # the only kind Windows runs there.
    def in_code(symbol):
        section = pe.get_section_by_rva(symbol.address)
        return section is not None and section.Characteristics & 0x20000000  # IMAGE_SCN_MEM_EXECUTE
    report.check("every export's address is in executable code",
                 all(in_code(symbol) for symbol in directory.symbols),
                 repr([hex(symbol.address) for symbol in directory.symbols]))
    if pe.FILE_HEADER.Machine == 0x1C4:
        report.check("every export's address is marked Thumb code",
                     all(symbol.address & 1 for symbol in directory.symbols),
                     repr([hex(symbol.address) for symbol in directory.symbols]))
    report.check("address table holds only the named exports",
                 directory.struct.NumberOfFunctions == len(expected)
                 and directory.struct.NumberOfNames == len(expected),
                 f"{directory.struct.NumberOfFunctions} functions, {directory.struct.NumberOfNames} names")


def check_version(pe, report):
    fixed_list = getattr(pe, "VS_FIXEDFILEINFO", None)
    report.check("has a version resource", bool(fixed_list))
    if not fixed_list:
        return
    fixed = fixed_list[0]
    report.check("fixed info signature", fixed.Signature == VS_FFI_SIGNATURE)
    report.check("file version 1.0.0.1",
                 (fixed.FileVersionMS, fixed.FileVersionLS) == (VERSION_MS, VERSION_LS),
                 f"{fixed.FileVersionMS:#x} {fixed.FileVersionLS:#x}")
    report.check("product version 1.0.0.1",
                 (fixed.ProductVersionMS, fixed.ProductVersionLS) == (VERSION_MS, VERSION_LS),
                 f"{fixed.ProductVersionMS:#x} {fixed.ProductVersionLS:#x}")
    report.check("no file flags", fixed.FileFlags == 0, hex(fixed.FileFlags))
    report.check("file OS is VOS__WINDOWS32", fixed.FileOS == VOS__WINDOWS32, hex(fixed.FileOS))
    report.check("file type is VFT_DLL", fixed.FileType == VFT_DLL, hex(fixed.FileType))
    report.check("no file subtype", fixed.FileSubtype == 0, hex(fixed.FileSubtype))

    string_tables = []
    translations = []
    for group in getattr(pe, "FileInfo", []):
        for info in group:
            if info.Key == b"StringFileInfo":
                string_tables.extend(info.StringTable)
            elif info.Key == b"VarFileInfo":
                translations.extend(var.entry.get(b"Translation") for var in info.Var)
    report.check("exactly one string table, 040904b0",
                 [table.LangID for table in string_tables] == [STRING_TABLE_KEY],
                 repr([table.LangID for table in string_tables]))
    if string_tables:
        entries = dict(string_tables[0].entries)
        report.check("string table holds exactly the eight values", entries == STRINGS,
                     repr({key: value for key, value in entries.items() if STRINGS.get(key) != value}
                          or sorted(set(STRINGS) - set(entries))))
    report.check("translation is 0x0409, 1200", translations == [TRANSLATION], repr(translations))


def check_imports(pe, report):
    imported = [entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    stray = [name for name in imported
             if name not in ALLOWED_IMPORTS and not name.startswith("api-ms-win-crt-")]
    report.check("imports only system DLLs", not stray, "also imports " + ", ".join(stray))
    report.check("imports KERNEL32.dll", REQUIRED_IMPORTS <= set(imported), repr(imported))
    print(f"INFO: {report.label}: imports " + ", ".join(imported))


def check_runtime(path, report):
    with open(path, "rb") as stream:
        content = stream.read()
    report.check(f"at most {MOST_BYTES} bytes", len(content) <= MOST_BYTES, f"{len(content)} bytes")
    found = [mark.decode() for mark in RUNTIME_MARKS if mark in content]
    report.check("holds no C++ runtime or winpthread", not found, "found " + ", ".join(found))


def main(argv):
    paths = argv[1:]
    if not paths:
        print(__doc__, file=sys.stderr)
        return 2
    failed = 0
    for argument in paths:
        path, _, machine = argument.partition(":")
        if machine and machine not in MACHINES:
            print(f"unknown machine {machine!r}: one of {', '.join(MACHINES)}", file=sys.stderr)
            return 2
        report = Report(path)
        try:
            pe = pefile.PE(path)
        except (OSError, pefile.PEFormatError) as error:
            report.check("is a readable PE file", False, str(error))
            failed += report.failed
            continue
        report.check("is a DLL", pe.is_dll())
        if machine:
            report.check(f"machine is {machine} ({MACHINES[machine]:#x})",
                         pe.FILE_HEADER.Machine == MACHINES[machine], hex(pe.FILE_HEADER.Machine))
        check_exports(pe, report)
        check_version(pe, report)
        check_imports(pe, report)
        check_runtime(path, report)
        failed += report.failed
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
