#!/usr/bin/python3
"""Checks the ABI of an ELF deliverable from the file itself, with pyelftools.

Prints what it found in a fixed form and compares it, line for line, with what
the deliverable must be: its ELF class and machine, the one symbol it defines,
what it needs from the dynamic loader, every symbol it leaves undefined, and
its hardening: every import bound at load time, a read-only-after-relocation
segment, a stack that is not executable, and the GNU property note that marks
its code for the processor's control-flow protection.

  check_elf.py FILE CLASS MACHINE EXPORT PROPERTIES
MACHINE is e_machine's name (EM_X86_64); PROPERTIES as readelf -n shows them.
"""
import os
import sys

from elftools.elf.descriptions import describe_note_gnu_properties
from elftools.elf.elffile import ELFFile
from elftools.elf.enums import ENUM_DT_FLAGS, ENUM_DT_FLAGS_1

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from reporting import compare

IMPORTS = ["close", "fsync", "open", "printf"]
NEEDED = ["libc.so.6"]
# -z now: DT_FLAGS BIND_NOW and DT_FLAGS_1 NOW.
BIND_NOW = "FLAGS BIND_NOW; FLAGS_1 NOW"
# pyelftools 0.29 leaves AArch64's property as raw bits.
AARCH64_FEATURE_1_AND, AARCH64_FEATURES = 0xC0000000, [(1, "BTI"), (2, "PAC")]


def undefined_symbol(symbol):
    # Every kind counts: a data object such as stdout, or a weak reference,
    # is as much an import as a function. Only a plain function is unmarked.
    kind = (symbol["st_info"]["type"][4:], symbol["st_info"]["bind"][4:])
    return symbol.name if kind == ("FUNC", "GLOBAL") else f"{symbol.name} ({' '.join(kind)})"


def flag_names(value, names, prefix):
    return " ".join(name[len(prefix):] for name, bit in names.items() if value & bit)


def dynamic_flags(tags):
    """The BIND_NOW-related entries of the dynamic section, as readelf names them."""
    flags = []
    for tag in tags:
        if tag.entry.d_tag == "DT_BIND_NOW":
            flags.append("BIND_NOW")
        elif tag.entry.d_tag == "DT_FLAGS":
            flags.append("FLAGS " + flag_names(tag.entry.d_val, ENUM_DT_FLAGS, "DF_"))
        elif tag.entry.d_tag == "DT_FLAGS_1":
            flags.append("FLAGS_1 " + flag_names(tag.entry.d_val, ENUM_DT_FLAGS_1, "DF_1_"))
    return "; ".join(flags) or "(none)"


def properties(elf):
    """What the GNU property notes say, one entry per property."""
    found = []
    for section in elf.iter_sections("SHT_NOTE"):
        for note in section.iter_notes():
            if note["n_type"] != "NT_GNU_PROPERTY_TYPE_0":
                continue
            for p in note["n_desc"]:
                if p.pr_type == AARCH64_FEATURE_1_AND and p.pr_datasz == 4:
                    bits = int.from_bytes(p.pr_data, "little" if elf.little_endian else "big")
                    found.append("AArch64 feature: " + ", ".join(n for bit, n in AARCH64_FEATURES if bits & bit))
                else:
                    found.append(describe_note_gnu_properties([p]))
    return "; ".join(found) or "(none)"


def found(elf):
    symbols = list(elf.get_section_by_name(".dynsym").iter_symbols())[1:]
    defined = [s.name for s in symbols if s["st_shndx"] != "SHN_UNDEF"]
    imported = [undefined_symbol(s) for s in symbols if s["st_shndx"] == "SHN_UNDEF"]
    tags = list(next(elf.iter_segments("PT_DYNAMIC")).iter_tags())
    needed = [tag.needed for tag in tags if tag.entry.d_tag == "DT_NEEDED"]
    segments = [segment["p_type"] for segment in elf.iter_segments()]
    # A stack without the segment, or with E among its flags, is executable.
    stack = [segment["p_flags"] for segment in elf.iter_segments("PT_GNU_STACK")]
    return [
        f"class: ELF{elf.elfclass}",
        f"machine: {elf['e_machine']}",
        f"defines: {' '.join(sorted(defined))}",
        f"needs: {' '.join(sorted(needed))}",
        f"imports: {' '.join(sorted(imported))}",
        f"bind now: {dynamic_flags(tags)}",
        f"relro segment: {'GNU_RELRO' if 'PT_GNU_RELRO' in segments else '(none)'}",
        f"stack: {''.join(c for bit, c in ((4, 'R'), (2, 'W'), (1, 'E')) if stack[0] & bit) if stack else '(no GNU_STACK segment)'}",
        f"properties: {properties(elf)}",
    ]


def main():
    path, elf_class, machine, export, notes = sys.argv[1:]
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
    with open(path, "rb") as f:
        return compare(path, expected, found(ELFFile(f)))


if __name__ == "__main__":
    sys.exit(main())
