#!/usr/bin/python3
"""Checks the ABI of a Windows DLL deliverable from the file itself, with
pefile: its machine, that it is a DLL with no link timestamp, its one export,
the functions it imports from each DLL, its DLL characteristics (the loader's
hardening), the sections it must have and must not have, no section both
writable and executable, and the version its VERSIONINFO resource gives, in
numbers and in words. With --pops, llvm-objdump disassembles the exported
function, and every return in it must remove that many bytes of arguments
(stdcall on i386).

  check_pe.py OBJDUMP FILE MACHINE EXPORT --characteristics NAMES
              --has SECTIONS --lacks SECTIONS --version X.Y.Z --product NAME
              --description TEXT [--pops BYTES]
NAMES are IMAGE_DLLCHARACTERISTICS_ names without that prefix. Of SECTIONS'
names only 8 bytes count: an image's section table cuts longer ones
(.eh_frame is .eh_fram there) unless its string table keeps them.
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
WRITE_EXECUTE = pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_WRITE"] | \
    pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"]


def sections(pe):
    """Each section's name, cut to 8 bytes, and its characteristics."""
    found = {}
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode()
        if re.fullmatch(r"/\d+", name):  # "/4": offset 4 in the COFF string table
            table = pe.FILE_HEADER.PointerToSymbolTable + 18 * pe.FILE_HEADER.NumberOfSymbols
            name = pe.__data__[table + int(name[1:]):].split(b"\0")[0].decode()
        found[name[:8]] = section.Characteristics
    return found


def imports(pe):
    return "; ".join(sorted(f"{prefix}{entry.dll.decode()}: " + " ".join(
        sorted(i.name.decode() if i.name else f"#{i.ordinal}" for i in entry.imports))
        for prefix, kind in (("", "DIRECTORY_ENTRY_IMPORT"), ("delayed ", "DIRECTORY_ENTRY_DELAY_IMPORT"))
        for entry in getattr(pe, kind, [])))


def exports(pe):
    """Every slot from Base, named or not (an empty slot, which pefile skips,
    is an export too), and the address of the first."""
    table = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if table is None:
        return [], None
    names = {s.ordinal: s.name.decode() if s.name else "(unnamed)" for s in table.symbols}
    slots = range(table.struct.Base, table.struct.Base + table.struct.NumberOfFunctions)
    return [names.get(ordinal, "(unnamed)") for ordinal in slots], table.symbols[0].address if table.symbols else 0


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
    popped = {str(int(operand, 0)) if operand else "0"
              for operand in re.findall(r"\tret[lq]?\s*(?:\$(\w+))?\s*$", function.group(1), re.M)}
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
    found = sections(pe)
    characteristics = [name[len("IMAGE_DLLCHARACTERISTICS_"):] for name, bit in pefile.dll_characteristics
                       if pe.OPTIONAL_HEADER.DllCharacteristics & bit]
    slots, first = exports(pe)
    file_version, product_version, strings = version_info(pe)
    # The resource's numbers have four parts where the project version has three.
    fixed_version = ".".join((args.version.split(".") + ["0"] * 4)[:4])
    facts = [
        ("machine", args.machine, pefile.MACHINE_TYPE.get(pe.FILE_HEADER.Machine, hex(pe.FILE_HEADER.Machine))),
        ("dll", "yes", "yes" if pe.is_dll() else "no"),
        ("timestamp", "0x0", f"0x{pe.FILE_HEADER.TimeDateStamp:X}"),
        ("exports", args.export, " ".join(slots)),
        ("imports", IMPORTS, imports(pe)),
        ("dll characteristics", args.characteristics, " ".join(sorted(characteristics)) or "(none)"),
    ] + [(f"section {name}", "present" if name in args.has.split() else "absent",
          "present" if name[:8] in found else "absent") for name in args.has.split() + args.lacks.split()] + [
        ("writable and executable sections", "(none)",
         " ".join(n for n, c in found.items() if c & WRITE_EXECUTE == WRITE_EXECUTE) or "(none)"),
        ("fixed file version", fixed_version, file_version),
        ("fixed product version", fixed_version, product_version),
    ] + [(key, value, strings.get(key, "(none)")) for key, value in (
        ("FileDescription", args.description), ("FileVersion", args.version),
        ("OriginalFilename", os.path.basename(path)), ("ProductName", args.product),
        ("ProductVersion", args.version))]
    if args.pops:
        facts.append(("pops", args.pops, pops(args.objdump, path, pe.OPTIONAL_HEADER.ImageBase + first)
                      if len(slots) == 1 else "(not one export)"))
    return compare(path, facts)


if __name__ == "__main__":
    sys.exit(main())
