#!/usr/bin/env python3
"""Checks the ABI of a Windows DLL deliverable from the file itself, with
llvm-readobj and llvm-objdump.

Prints what it found in a fixed form and compares it, line for line, with what
the deliverable must be: its machine, that it is a DLL with no link
timestamp, its one export, the functions it imports from each DLL, its DLL
characteristics (the loader's hardening), its sections, and the version its
VERSIONINFO resource gives, in numbers and in words. With --pops it
also disassembles the exported function and requires every return in it to
remove that many bytes of arguments (stdcall on i386).

  check_pe.py READOBJ OBJDUMP FILE MACHINE EXPORT --characteristics NAMES
              --sections NAMES --version X.Y.Z --product NAME
              --description TEXT [--pops BYTES]
NAMES are space-separated: IMAGE_DLL_CHARACTERISTICS_ names without that
prefix, and section names as the section table holds them (8 bytes at most).
"""
import argparse
import os
import re
import struct
import subprocess
import sys

from readout import compare, field

IMPORTS = "KERNEL32.dll: CloseHandle CreateFileA FlushFileBuffers; msvcrt.dll: printf"
VERSION_STRINGS = ["FileDescription", "FileVersion", "OriginalFilename", "ProductName", "ProductVersion"]


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def blocks(text, opening):
    """The lines of each top-level `opening {` ... `}` block of llvm-readobj output."""
    found, current = [], None
    for line in text.splitlines():
        if current is None and line == opening + " {":
            current = []
        elif current is not None and line == "}":
            found.append(current)
            current = None
        elif current is not None:
            current.append(line.strip())
    return found


def readobj_field(lines, name):
    return field(lines, name, "llvm-readobj")


def header(readobj, path):
    """Machine, whether it is a DLL, link timestamp, preferred base address,
    DLL characteristics."""
    text = run(readobj, "--file-headers", path)
    lines = text.splitlines()
    characteristics = re.findall(r"IMAGE_DLL_CHARACTERISTICS_(\w+) \(", text)
    return (readobj_field(lines, "Machine").split()[0], "IMAGE_FILE_DLL (0x2000)" in text,
            readobj_field(lines, "TimeDateStamp").split("(")[-1].rstrip(")"),
            int(readobj_field(lines, "ImageBase"), 16), " ".join(sorted(characteristics)) or "(none)")


def sections(readobj, path):
    # Each section block's "Name: .text (2E 74 ...)" line, in section table order.
    return " ".join(re.findall(r"^ +Name: (\S+) \(", run(readobj, "--sections", path), re.M))


def imports(readobj, path):
    text = run(readobj, "--coff-imports", path)
    tables = []
    for kind in ("Import", "DelayImport"):
        for block in blocks(text, kind):
            names = sorted(line.split()[1] for line in block if line.startswith("Symbol:"))
            tables.append(f"{'delayed ' if kind == 'DelayImport' else ''}{readobj_field(block, 'Name')}: {' '.join(names)}")
    return "; ".join(sorted(tables))


def exports(readobj, path):
    # Every slot counts, named or not: an empty slot is an export too.
    return [(readobj_field(block, "Name") if any(l.startswith("Name:") for l in block) else "(unnamed)",
             int(readobj_field(block, "RVA"), 16))
            for block in blocks(run(readobj, "--coff-exports", path), "Export")]


def version_info(readobj, path):
    """The VERSIONINFO resource's fixed file and product versions, and its
    strings, read from the data that llvm-readobj dumps in hex."""
    text = run(readobj, "--coff-resources", path)
    dump = re.search(r"Type: VERSIONINFO .*?Data \(\n(.*?)\n *\)", text, re.S)
    if dump is None:
        return "(none)", "(none)", {}
    data = bytes.fromhex("".join(re.match(r" *[0-9A-F]+: ([0-9A-F ]+?) *\|", line).group(1)
                                 for line in dump.group(1).splitlines()))

    def node(offset):
        # wLength, wValueLength, wType (1: text, counted in UTF-16 units), key,
        # value and children, each 32-bit aligned.
        length, value_length, is_text = struct.unpack_from("<3H", data, offset)
        key_end = offset + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6:key_end].decode("utf-16-le")
        value_start = (key_end + 2 + 3) & ~3
        value_end = value_start + value_length * (2 if is_text else 1)
        children, child = [], (value_end + 3) & ~3
        while child < offset + length:
            children.append(node(child))
            child = (child + children[-1][3] + 3) & ~3
        return key, data[value_start:value_end], children, length

    def dotted(high, low):
        return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"

    _, fixed, children, _ = node(0)
    signature, _, file_high, file_low, product_high, product_low = struct.unpack_from("<6I", fixed)
    if signature != 0xFEEF04BD:
        return f"no VS_FIXEDFILEINFO (signature {signature:#x})", "(none)", {}
    strings = {key: value.decode("utf-16-le").rstrip("\0")
               for block, _, tables, _ in children if block == "StringFileInfo"
               for _, _, entries, _ in tables for key, value, _, _ in entries}
    return dotted(file_high, file_low), dotted(product_high, product_low), strings


def pops(objdump, path, address):
    """The argument bytes each return of the function at address removes."""
    text = run(objdump, "-d", "--no-show-raw-insn", path)
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
    for name in ("readobj", "objdump", "path", "machine", "export"):
        parser.add_argument(name)
    parser.add_argument("--characteristics", required=True)
    parser.add_argument("--sections", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--product", required=True)
    parser.add_argument("--description", required=True)
    parser.add_argument("--pops")
    args = parser.parse_args()
    readobj, objdump, path = args.readobj, args.objdump, args.path
    if not os.path.isfile(path):
        print(f"{path}: no such file; scripts/build.sh makes it", file=sys.stderr)
        return 1
    found_machine, dll, timestamp, image_base, characteristics = header(readobj, path)
    # The resource's numbers have four parts where the project version has three.
    fixed_version = ".".join((args.version.split(".") + ["0"] * 4)[:4])
    table = exports(readobj, path)
    expected = [
        f"machine: {args.machine}",
        "dll: yes",
        "timestamp: 0x0",
        f"exports: {args.export}",
        f"imports: {IMPORTS}",
        f"dll characteristics: {args.characteristics}",
        f"sections: {args.sections}",
        f"fixed file version: {fixed_version}",
        f"fixed product version: {fixed_version}",
        f"FileDescription: {args.description}",
        f"FileVersion: {args.version}",
        f"OriginalFilename: {os.path.basename(path)}",
        f"ProductName: {args.product}",
        f"ProductVersion: {args.version}",
    ]
    file_version, product_version, strings = version_info(readobj, path)
    actual = [
        f"machine: {found_machine}",
        f"dll: {'yes' if dll else 'no'}",
        f"timestamp: {timestamp}",
        f"exports: {' '.join(name for name, _ in table)}",
        f"imports: {imports(readobj, path)}",
        f"dll characteristics: {characteristics}",
        f"sections: {sections(readobj, path)}",
        f"fixed file version: {file_version}",
        f"fixed product version: {product_version}",
    ] + [f"{key}: {strings.get(key, '(none)')}" for key in VERSION_STRINGS]
    if args.pops:
        expected.append(f"pops: {args.pops}")
        actual.append(f"pops: {pops(objdump, path, image_base + table[0][1])}" if len(table) == 1
                      else "pops: (not one export)")
    return compare(path, expected, actual)


if __name__ == "__main__":
    sys.exit(main())
