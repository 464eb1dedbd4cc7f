#!/usr/bin/env python3
"""Checks the ABI of an ELF deliverable from the file itself, with readelf.

Prints what it found in a fixed form and compares it, line for line, with what
the deliverable must be: its ELF class and machine, the one symbol it defines,
what it needs from the dynamic loader, and every symbol it imports, weak ones
included.

  check_elf.py READELF FILE CLASS MACHINE EXPORT
"""
import subprocess
import sys

from readout import compare, field

IMPORTS = ["close", "fsync", "open", "printf"]
NEEDED = ["libc.so.6"]


def readelf(tool, *args):
    return subprocess.run([tool, "-W", *args], check=True, capture_output=True, text=True).stdout


def header_field(text, name):
    return field(text.splitlines(), name, "readelf")


def found(tool, path):
    header = readelf(tool, "--file-header", path)
    defined, imported = [], []
    for line in readelf(tool, "--dyn-syms", path).splitlines():
        fields = line.split()
        # Num: Value Size Type Bind Vis Ndx Name
        if len(fields) < 8 or not fields[0].rstrip(":").isdigit() or fields[0] == "0:":
            continue
        sym_type, bind, ndx, name = fields[3], fields[4], fields[6], fields[7].split("@")[0]
        if ndx != "UND":
            defined.append(name)
        else:
            # A weak import (what the compiler's start files bring) is one too.
            imported.append(name if bind != "WEAK" else f"{name}(weak {sym_type})")
    needed = [line.split("[")[1].rstrip("]") for line in readelf(tool, "--dynamic", path).splitlines()
              if "(NEEDED)" in line]
    return [
        f"class: {header_field(header, 'Class')}",
        f"machine: {header_field(header, 'Machine')}",
        f"defines: {' '.join(sorted(defined))}",
        f"needs: {' '.join(sorted(needed))}",
        f"imports: {' '.join(sorted(imported))}",
    ]


def main():
    tool, path, elf_class, machine, export = sys.argv[1:]
    expected = [
        f"class: {elf_class}",
        f"machine: {machine}",
        f"defines: {export}",
        f"needs: {' '.join(NEEDED)}",
        f"imports: {' '.join(IMPORTS)}",
    ]
    return compare(path, expected, found(tool, path))


if __name__ == "__main__":
    sys.exit(main())
