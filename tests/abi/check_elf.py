#!/usr/bin/env python3
"""Checks the ABI of an ELF deliverable from the file itself, with readelf.

Prints what it found in a fixed form and compares it, line for line, with what
the deliverable must be: its ELF class and machine, the one symbol it defines,
what it needs from the dynamic loader, every symbol it leaves undefined, and
its hardening: every import bound at load time, a read-only-after-relocation
segment, a stack that is not executable, and the GNU property note that marks
its code for the processor's control-flow protection.

  check_elf.py READELF FILE CLASS MACHINE EXPORT PROPERTIES
PROPERTIES is what readelf -n shows after "Properties:".
"""
import subprocess
import sys

from readout import compare, field

IMPORTS = ["close", "fsync", "open", "printf"]
NEEDED = ["libc.so.6"]
# -z now: DT_FLAGS BIND_NOW and DT_FLAGS_1 NOW.
BIND_NOW = "FLAGS BIND_NOW; FLAGS_1 NOW"


def readelf(tool, *args, wide=True):
    return subprocess.run([tool, *(["-W"] if wide else []), *args], check=True, capture_output=True,
                          text=True).stdout


def header_field(text, name):
    return field(text.splitlines(), name, "readelf")


def undefined_symbol(sym_type, bind, name):
    # Every kind counts: a data object such as stdout, or a weak reference,
    # is as much an import as a function. Only a plain function is unmarked.
    return name if (sym_type, bind) == ("FUNC", "GLOBAL") else f"{name} ({sym_type} {bind})"


def dynamic_flags(text):
    """The BIND_NOW-related entries of the dynamic section, as readelf names them."""
    flags = []
    for line in text.splitlines():
        if "(BIND_NOW)" in line:
            flags.append("BIND_NOW")
        elif "(FLAGS)" in line:
            flags.append("FLAGS " + line.split("(FLAGS)")[1].strip())
        elif "(FLAGS_1)" in line:
            flags.append("FLAGS_1 " + line.split("Flags:")[1].strip())
    return "; ".join(flags) or "(none)"


def properties(text):
    """What the GNU property notes say, one entry per property."""
    found, inside = [], False
    for line in text.splitlines():
        if "Properties:" in line:
            inside = True
            line = line.split("Properties:", 1)[1]
        elif not line.strip() or not line[0].isspace() or "NT_GNU" in line:
            inside = False
        if inside:
            found.append(line.strip())
    return "; ".join(found) or "(none)"


def found(tool, path):
    header = readelf(tool, "--file-header", path)
    defined, imported = [], []
    for line in readelf(tool, "--dyn-syms", path).splitlines():
        fields = line.split()
        # Num: Value Size Type Bind Vis Ndx Name
        if len(fields) < 8 or not fields[0].rstrip(":").isdigit() or fields[0] == "0:":
            continue
        sym_type, bind, ndx, name = fields[3], fields[4], fields[6], fields[7].split("@")[0]
        if ndx == "UND":
            imported.append(undefined_symbol(sym_type, bind, name))
        else:
            defined.append(name)
    dynamic = readelf(tool, "--dynamic", path)
    needed = [line.split("[")[1].rstrip("]") for line in dynamic.splitlines() if "(NEEDED)" in line]
    headers = [line.split() for line in readelf(tool, "--program-headers", path).splitlines()
               if line.startswith("  ") and line.split()[0].isupper()]
    segments = [fields[0] for fields in headers]
    # Type Offset VirtAddr PhysAddr FileSiz MemSiz Flg Align: a stack without
    # the segment, or with E among its flags, is executable.
    stack = [" ".join(fields[6:-1]) for fields in headers if fields[0] == "GNU_STACK"]
    return [
        f"class: {header_field(header, 'Class')}",
        f"machine: {header_field(header, 'Machine')}",
        f"defines: {' '.join(sorted(defined))}",
        f"needs: {' '.join(sorted(needed))}",
        f"imports: {' '.join(sorted(imported))}",
        f"bind now: {dynamic_flags(dynamic)}",
        f"relro segment: {'GNU_RELRO' if 'GNU_RELRO' in segments else '(none)'}",
        f"stack: {stack[0] if stack else '(no GNU_STACK segment)'}",
        # Not wide: a note's description on a line of its own.
        f"properties: {properties(readelf(tool, '--notes', path, wide=False))}",
    ]


def main():
    tool, path, elf_class, machine, export, notes = sys.argv[1:]
    expected = [
        f"class: {elf_class}",
        f"machine: {machine}",
        f"defines: {export}",
        f"needs: {' '.join(NEEDED)}",
        f"imports: {' '.join(IMPORTS)}",
        f"bind now: {BIND_NOW}",
        "relro segment: GNU_RELRO",
        "stack: RW",
        f"properties: {notes}",
    ]
    return compare(path, expected, found(tool, path))


if __name__ == "__main__":
    sys.exit(main())
