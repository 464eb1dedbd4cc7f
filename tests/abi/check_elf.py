#!/usr/bin/python3
"""Checks the ABI of an ELF deliverable from the file itself, with pyelftools:
its class and machine, the one symbol it defines, what it needs from the
dynamic loader, every symbol it leaves undefined, and its hardening: every
import bound at load time, a read-only-after-relocation segment, a stack that
is not executable, and the GNU property note that marks its code for the
processor's control-flow protection.

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

# pyelftools 0.29 leaves AArch64's property as raw bits.
AARCH64_FEATURE_1_AND, AARCH64_FEATURES = 0xC0000000, [(1, "BTI"), (2, "PAC")]
DT_FLAGS = {"DT_FLAGS": ("FLAGS ", ENUM_DT_FLAGS, "DF_"), "DT_FLAGS_1": ("FLAGS_1 ", ENUM_DT_FLAGS_1, "DF_1_")}


def undefined_symbol(symbol):
    # Every kind counts: a data object such as stdout, or a weak reference,
    # is as much an import as a function. Only a plain function is unmarked.
    kind = (symbol["st_info"]["type"][4:], symbol["st_info"]["bind"][4:])
    return symbol.name if kind == ("FUNC", "GLOBAL") else f"{symbol.name} ({' '.join(kind)})"


def bind_now(tags):
    """The BIND_NOW-related entries of the dynamic section, as readelf names them."""
    found = []
    for tag in tags:
        if tag.entry.d_tag == "DT_BIND_NOW":
            found.append("BIND_NOW")
        elif tag.entry.d_tag in DT_FLAGS:
            label, names, prefix = DT_FLAGS[tag.entry.d_tag]
            found.append(label + " ".join(n[len(prefix):] for n, bit in names.items() if tag.entry.d_val & bit))
    return "; ".join(found) or "(none)"


def properties(elf):
    """What the GNU property notes say, one entry per property."""
    found = []
    for note in (n for s in elf.iter_sections("SHT_NOTE") for n in s.iter_notes()):
        for p in note["n_desc"] if note["n_type"] == "NT_GNU_PROPERTY_TYPE_0" else []:
            if p.pr_type == AARCH64_FEATURE_1_AND and p.pr_datasz == 4:
                bits = int.from_bytes(p.pr_data, "little" if elf.little_endian else "big")
                found.append("AArch64 feature: " + ", ".join(n for bit, n in AARCH64_FEATURES if bits & bit))
            else:
                found.append(describe_note_gnu_properties([p]))
    return "; ".join(found) or "(none)"


def main():
    path, elf_class, machine, export, notes = sys.argv[1:]
    elf = ELFFile(open(path, "rb"))
    symbols = list(elf.get_section_by_name(".dynsym").iter_symbols())[1:]
    tags = list(next(elf.iter_segments("PT_DYNAMIC")).iter_tags())
    segments = {segment["p_type"]: segment["p_flags"] for segment in elf.iter_segments()}
    # A stack without the segment, or with E among its flags, is executable.
    stack = segments.get("PT_GNU_STACK")
    return compare(path, [
        ("class", elf_class, f"ELF{elf.elfclass}"),
        ("machine", machine, elf["e_machine"]),
        ("defines", export, " ".join(sorted(s.name for s in symbols if s["st_shndx"] != "SHN_UNDEF"))),
        ("needs", "libc.so.6", " ".join(sorted(t.needed for t in tags if t.entry.d_tag == "DT_NEEDED"))),
        ("imports", "close fsync open printf",
         " ".join(sorted(undefined_symbol(s) for s in symbols if s["st_shndx"] == "SHN_UNDEF"))),
        # -z now: DT_FLAGS BIND_NOW and DT_FLAGS_1 NOW.
        ("bind now", "FLAGS BIND_NOW; FLAGS_1 NOW", bind_now(tags)),
        ("relro segment", "GNU_RELRO", "GNU_RELRO" if "PT_GNU_RELRO" in segments else "(none)"),
        ("stack", "RW", "(no GNU_STACK segment)" if stack is None else
         "".join(c for bit, c in ((4, "R"), (2, "W"), (1, "E")) if stack & bit)),
        ("properties", notes, properties(elf)),
    ])


if __name__ == "__main__":
    sys.exit(main())
