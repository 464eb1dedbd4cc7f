#!/usr/bin/python3
"""Checks the ABI of a Windows DLL deliverable from the file itself, with
pefile, and llvm-objdump for the exported function's code.

Prints what it found in a fixed form and compares it, line for line, with what
the deliverable must be: its machine, that it is a DLL with no link
timestamp, its one export, the functions it imports from each DLL, its DLL
characteristics (the loader's hardening), the sections it must have and must
not have, no section both writable and executable, and the version its
VERSIONINFO resource gives, in numbers and in words. With --pops it also
disassembles the exported function and requires every return in it to remove
that many bytes of arguments (stdcall on i386).

  check_pe.py OBJDUMP FILE MACHINE EXPORT --characteristics NAMES
              --has SECTIONS --lacks SECTIONS --version X.Y.Z --product NAME
              --description TEXT [--pops BYTES]
NAMES are space-separated IMAGE_DLLCHARACTERISTICS_ names without that
prefix; SECTIONS, section names, of which only the first 8 bytes count: an
image's section table cuts longer names (.eh_frame is .eh_fram there) unless
it keeps them in its string table.
"""
import argparse
import os
import re
import subprocess
import sys

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from reporting import compare

IMPORTS = "KERNEL32.dll: CloseHandle CreateFileA FlushFileBuffers; msvcrt.dll: printf"
VERSION_STRINGS = ["FileDescription", "FileVersion", "OriginalFilename", "ProductName", "ProductVersion"]
WRITE_AND_EXECUTE = pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_WRITE"] | \
    pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"]


def section_names(pe):
    names = []
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode()
        if name.startswith("/") and name[1:].isdigit():  # "/4": offset 4 in the COFF string table
            table = pe.FILE_HEADER.PointerToSymbolTable + 18 * pe.FILE_HEADER.NumberOfSymbols
            name = pe.__data__[table + int(name[1:]):].split(b"\0")[0].decode()
        names.append((name[:8], section.Characteristics))
    return names


def imports(pe):
    tables = [f"{prefix}{entry.dll.decode()}: "
              + " ".join(sorted(i.name.decode() if i.name else f"#{i.ordinal}" for i in entry.imports))
              for prefix, kind in (("", "DIRECTORY_ENTRY_IMPORT"), ("delayed ", "DIRECTORY_ENTRY_DELAY_IMPORT"))
              for entry in getattr(pe, kind, [])]
    return "; ".join(sorted(tables))


def exports(pe):
    """Every slot, named or not (an empty slot is an export too), and the RVA of the first."""
    table = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if table is None:
        return [], None
    names = {s.ordinal: s.name.decode() if s.name else "(unnamed)" for s in table.symbols}
    base, count = table.struct.Base, table.struct.NumberOfFunctions
    slots = [names.get(ordinal, "(unnamed)") for ordinal in range(base, base + count)]
    return slots, table.symbols[0].address if table.symbols else None


def version_info(pe):
    """The VERSIONINFO resource's fixed file and product versions, and its strings."""
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        return "(none)", "(none)", {}
    fixed = pe.VS_FIXEDFILEINFO[0]
    if fixed.Signature != 0xFEEF04BD:
        return f"no VS_FIXEDFILEINFO (signature {fixed.Signature:#x})", "(none)", {}

    def dotted(high, low):
        return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"

    strings = {key.decode(): value.decode() for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
               for table in info.StringTable for key, value in table.entries.items()}
    return (dotted(fixed.FileVersionMS, fixed.FileVersionLS), dotted(fixed.ProductVersionMS, fixed.ProductVersionLS),
            strings)


def pops(objdump, path, address):
    """The argument bytes each return of the function at address removes."""
    text = subprocess.run([objdump, "-d", "--no-show-raw-insn", path], check=True, capture_output=True,
                          text=True).stdout
    function = re.search(rf"^0*{address:x} <[^>]*>:\n(.*?)(?:\n\n|\Z)", text, re.S | re.M)
    if function is None:
        return "no function at the export's address"
    popped = set()
    for line in function.group(1).splitlines():
        ret = re.search(r"\tret[lq]?\s*(?:\$(\w+))?\s*$", line)
        if ret:
            popped.add(str(int(ret.group(1), 0)) if ret.group(1) else "0")
    return " ".join(sorted(popped, key=int)) or "no return found"


def main():
    parser = argparse.ArgumentParser()
    for name in ("objdump", "path", "machine", "export"):
        parser.add_argument(name)
    for name in ("--characteristics", "--has", "--lacks", "--version", "--product", "--description"):
        parser.add_argument(name, required=True)
    parser.add_argument("--pops")
    args = parser.parse_args()
    path = args.path
    if not os.path.isfile(path):
        print(f"{path}: no such file; scripts/build.sh makes it", file=sys.stderr)
        return 1
    pe = pefile.PE(path)
    # The resource's numbers have four parts where the project version has three.
    fixed_version = ".".join((args.version.split(".") + ["0"] * 4)[:4])
    sections = dict(section_names(pe))
    has, lacks = args.has.split(), args.lacks.split()
    expected = [
        f"machine: {args.machine}",
        "dll: yes",
        "timestamp: 0x0",
        f"exports: {args.export}",
        f"imports: {IMPORTS}",
        f"dll characteristics: {args.characteristics}",
    ] + [f"section {name}: present" for name in has] + [f"section {name}: absent" for name in lacks] + [
        "writable and executable sections: (none)",
        f"fixed file version: {fixed_version}",
        f"fixed product version: {fixed_version}",
        f"FileDescription: {args.description}",
        f"FileVersion: {args.version}",
        f"OriginalFilename: {os.path.basename(path)}",
        f"ProductName: {args.product}",
        f"ProductVersion: {args.version}",
    ]
    characteristics = [name[len("IMAGE_DLLCHARACTERISTICS_"):] for name, bit in pefile.dll_characteristics
                       if pe.OPTIONAL_HEADER.DllCharacteristics & bit]
    slots, first = exports(pe)
    file_version, product_version, strings = version_info(pe)
    actual = [
        f"machine: {pefile.MACHINE_TYPE.get(pe.FILE_HEADER.Machine, hex(pe.FILE_HEADER.Machine))}",
        f"dll: {'yes' if pe.is_dll() else 'no'}",
        f"timestamp: {pe.FILE_HEADER.TimeDateStamp:#x}",
        f"exports: {' '.join(slots)}",
        f"imports: {imports(pe)}",
        f"dll characteristics: {' '.join(sorted(characteristics)) or '(none)'}",
    ] + [f"section {name}: {'present' if name[:8] in sections else 'absent'}" for name in has + lacks] + [
        "writable and executable sections: "
        + (" ".join(n for n, c in sections.items() if c & WRITE_AND_EXECUTE == WRITE_AND_EXECUTE) or "(none)"),
        f"fixed file version: {file_version}",
        f"fixed product version: {product_version}",
    ] + [f"{key}: {strings.get(key, '(none)')}" for key in VERSION_STRINGS]
    if args.pops:
        expected.append(f"pops: {args.pops}")
        actual.append(f"pops: {pops(args.objdump, path, pe.OPTIONAL_HEADER.ImageBase + first)}" if len(slots) == 1
                      else "pops: (not one export)")
    return compare(path, expected, actual)


if __name__ == "__main__":
    sys.exit(main())
