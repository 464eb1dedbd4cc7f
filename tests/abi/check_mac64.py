#!/usr/bin/python3
"""Checks mac64, the universal dylib, from the file itself: macholib for the
headers and symbols, llvm-objdump for the export trie and the bind opcodes,
and our own reading of the arm64 code signature, which no tool here checks.

Prints what it found in a fixed form and compares it, line for line, with what
the dylib must be: exactly an x86_64 and an arm64 slice, each an MH_DYLIB for
its minimum macOS, with no segment both writable and executable, the one
export in its export trie, the dylib id with the project's version, only
libSystem's four functions (and the lazy binder) bound, and room after the
load commands; the arm64 slice's ad-hoc signature is recomputed, page by page.

  check_mac64.py OBJDUMP FILE EXPORT CURRENT_VERSION COMPATIBILITY_VERSION
"""
import hashlib
import os
import struct
import subprocess
import sys

from macholib import mach_o

from check_mac32 import compare, expected_facts, facts, header_line, read, segments, text, undefined

# Each slice: architecture, cputype and subtype as macholib names them, minimum macOS.
SLICES = [("x86_64", "x86_64 CPU_SUBTYPE_X86_64_ALL", "10.9"), ("arm64", "ARM64 CPU_SUBTYPE_ARM64_ALL", "11.0")]
# ld64.lld's lazy binding stubs call dyld_stub_binder; the code calls the rest.
IMPORTS = ["_close", "_fsync", "_open", "_printf", "dyld_stub_binder"]
WRITE_EXECUTE = 2 | 4
CSMAGIC_EMBEDDED_SIGNATURE, CSMAGIC_CODEDIRECTORY, CSSLOT_CODEDIRECTORY = 0xFADE0CC0, 0xFADE0C02, 0
CS_ADHOC, CS_HASHTYPE_SHA256 = 0x2, 2


def expected_report(export, install_name, current, compatibility):
    imports = " ".join(f"{name} (from libSystem)" for name in IMPORTS)
    report = [f"architectures: {' '.join(arch for arch, _, _ in SLICES)}"]
    for arch, cputype, macos in SLICES:
        # Apple silicon runs no unsigned arm64 code; x86_64 needs no signature.
        signature = (f"ad-hoc, identifier {install_name}, SHA-256 of every 4096-byte page before it matches"
                     if arch == "arm64" else "none")
        report += [f"{arch} {line}" for line in [f"header: MH_MAGIC_64 {cputype} dylib"] + expected_facts(
            export, install_name, current, compatibility, macos) + [
            "writable and executable segments: (none)",
            f"exports trie: {export}",
            f"bound: {imports}",
            f"undefined: {imports}",
            f"code signature: {signature}",
        ]]
    return report


def signature(data, base, header):
    """Recomputes the hash of every page that the slice's CodeDirectory covers
    and says whether each matches the one stored, or where the first does not."""
    command = next((cmd for lc, cmd, _ in header.commands if lc.cmd == mach_o.LC_CODE_SIGNATURE), None)
    if command is None:
        return "none"
    dataoff = command.dataoff
    blob = base + dataoff
    magic, _, count = struct.unpack_from(">III", data, blob)
    if magic != CSMAGIC_EMBEDDED_SIGNATURE:
        return f"no embedded signature at the offset LC_CODE_SIGNATURE gives (magic {magic:#x})"
    index = dict(struct.unpack_from(">II", data, blob + 12 + 8 * i) for i in range(count))
    if CSSLOT_CODEDIRECTORY not in index:
        return "no CodeDirectory"
    cd = blob + index[CSSLOT_CODEDIRECTORY]
    (magic, _, _, flags, hash_offset, ident_offset, _, code_slots, code_limit, hash_size, hash_type, _,
     page_shift) = struct.unpack_from(">9I4B", data, cd)
    if magic != CSMAGIC_CODEDIRECTORY or hash_type != CS_HASHTYPE_SHA256 or hash_size != 32:
        return f"CodeDirectory magic {magic:#x} hash type {hash_type} size {hash_size}; expected SHA-256"
    identifier = data[cd + ident_offset:data.index(b"\0", cd + ident_offset)].decode()
    page = 1 << page_shift
    if code_limit != dataoff or code_slots != -(-code_limit // page):
        return f"{code_slots} pages of {page} bytes up to {code_limit}; expected every page before {dataoff}"
    for slot in range(code_slots):
        start = base + slot * page
        stored = data[cd + hash_offset + 32 * slot:cd + hash_offset + 32 * (slot + 1)]
        if hashlib.sha256(data[start:min(start + page, base + code_limit)]).digest() != stored:
            return f"page {slot} does not match its hash"
    kind = "ad-hoc" if flags & CS_ADHOC else f"flags {flags:#x}"
    return f"{kind}, identifier {identifier}, SHA-256 of every {page}-byte page before it matches"


def objdump(tool, path, arch, *options):
    done = subprocess.run([tool, "--macho", f"--arch={arch}", *options, path], capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"{path}: llvm-objdump {' '.join(options)} cannot read it ({done.stderr.strip()}); "
                         "expected a well-formed Mach-O file")
    return done.stdout.splitlines()


def slice_report(tool, path, macho, header, arch, data):
    """What one slice of a universal file holds."""
    common, symbols, libraries = facts(macho, header)
    # Each row of the three bind tables ends with the library and the symbol.
    bound = [f"{line.split()[-1]} (from {line.split()[-2]})"
             for line in objdump(tool, path, arch, "--bind", "--lazy-bind", "--weak-bind") if line.startswith("__")]
    exports = [line.split()[1] for line in objdump(tool, path, arch, "--exports-trie") if line.startswith("0x")]
    wx = [text(cmd.segname) for cmd, _ in segments(header)
          if cmd.maxprot & WRITE_EXECUTE == WRITE_EXECUTE or cmd.initprot & WRITE_EXECUTE == WRITE_EXECUTE]
    report = [header_line(header)] + common + [
        f"writable and executable segments: {' '.join(wx) or '(none)'}",
        f"exports trie: {' '.join(exports)}",
        f"bound: {' '.join(sorted(bound))}",
        f"undefined: {undefined(symbols, libraries)}",
        f"code signature: {signature(data, header.offset, header)}",
    ]
    return [f"{arch} {line}" for line in report]


def main():
    tool, path, export, current, compatibility = sys.argv[1:]
    data, macho = read(path)
    expected = expected_report(export, os.path.basename(path), current, compatibility)
    headers = {mach_o.CPU_TYPE_NAMES.get(h.header.cputype, str(h.header.cputype)).lower(): h for h in macho.headers}
    actual = [f"architectures: {' '.join(headers)}"]
    # The rest is per slice, and means little if a slice is missing.
    if actual != expected[:1]:
        return compare(path, expected[:1], actual)
    for arch, _, _ in SLICES:
        actual += slice_report(tool, path, macho, headers[arch], arch, data)
    return compare(path, expected, actual)


if __name__ == "__main__":
    sys.exit(main())
