#!/usr/bin/python3
"""Checks mac64, the universal dylib, from the file itself: macholib for the
headers and symbols, llvm-objdump for the export trie and the bind opcodes,
and our own reading of the arm64 code signature, which no tool here checks.
Exactly an x86_64 and an arm64 slice, each with the facts check_mac32.py
reads from mac32, no segment both writable and executable, the one export in
its export trie, only libSystem's four functions (and the lazy binder) bound,
and for arm64 an ad-hoc signature whose page hashes match, recomputed here.

  check_mac64.py OBJDUMP FILE EXPORT CURRENT_VERSION COMPATIBILITY_VERSION
"""
import hashlib
import os
import struct
import subprocess
import sys

from macholib import mach_o

from check_mac32 import compare, read, segments, shared_facts, text

# Each slice: architecture, header and minimum macOS.
SLICES = [("x86_64", "MH_MAGIC_64 x86_64 CPU_SUBTYPE_X86_64_ALL", "10.9"),
          ("arm64", "MH_MAGIC_64 ARM64 CPU_SUBTYPE_ARM64_ALL", "11.0")]
# ld64.lld's lazy binding stubs call dyld_stub_binder; the code calls the rest.
IMPORTS = ["_close", "_fsync", "_open", "_printf", "dyld_stub_binder"]
CSMAGIC_EMBEDDED_SIGNATURE, CSMAGIC_CODEDIRECTORY, CSSLOT_CODEDIRECTORY = 0xFADE0CC0, 0xFADE0C02, 0
CS_ADHOC, CS_HASHTYPE_SHA256 = 0x2, 2


def signature(data, header):
    """Recomputes the hash of every page that the slice's CodeDirectory covers
    and says whether each matches the one stored, or where the first does not."""
    base = header.offset
    dataoff = next((cmd.dataoff for lc, cmd, _ in header.commands if lc.cmd == mach_o.LC_CODE_SIGNATURE), None)
    if dataoff is None:
        return "none"
    magic, _, count = struct.unpack_from(">III", data, base + dataoff)
    if magic != CSMAGIC_EMBEDDED_SIGNATURE:
        return f"no embedded signature at the offset LC_CODE_SIGNATURE gives (magic {magic:#x})"
    index = dict(struct.unpack_from(">II", data, base + dataoff + 12 + 8 * i) for i in range(count))
    if CSSLOT_CODEDIRECTORY not in index:
        return "no CodeDirectory"
    cd = base + dataoff + index[CSSLOT_CODEDIRECTORY]
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


def main():
    tool, path, export, current, compatibility = sys.argv[1:]
    data, macho = read(path)
    headers = {mach_o.CPU_TYPE_NAMES.get(h.header.cputype, str(h.header.cputype)).lower(): h for h in macho.headers}
    architectures = ("architectures", " ".join(arch for arch, _, _ in SLICES), " ".join(headers))
    # The rest is per slice, and means little if a slice is missing.
    if architectures[1] != architectures[2]:
        return compare(path, [architectures])
    facts = [architectures]
    for arch, cputype, macos in SLICES:
        header = headers[arch]
        shared, _ = shared_facts(macho, header, export, current, compatibility, cputype, macos, IMPORTS)
        # Each row of the three bind tables ends with the library and the symbol.
        bound = [f"{line.split()[-1]} (from {line.split()[-2]})" for line in
                 objdump(tool, path, arch, "--bind", "--lazy-bind", "--weak-bind") if line.startswith("__")]
        exports = [line.split()[1] for line in objdump(tool, path, arch, "--exports-trie") if line.startswith("0x")]
        # Apple silicon runs no unsigned arm64 code; x86_64 needs no signature.
        signed = (f"ad-hoc, identifier {os.path.basename(path)}, SHA-256 of every 4096-byte page before it matches"
                  if arch == "arm64" else "none")
        facts += [(f"{arch} {name}", expected, found) for name, expected, found in shared + [
            ("writable and executable segments", "(none)", " ".join(
                text(cmd.segname) for cmd, _ in segments(header)
                if any(prot & 6 == 6 for prot in (cmd.maxprot, cmd.initprot))) or "(none)"),
            ("exports trie", export, " ".join(exports)),
            ("bound", " ".join(f"{name} (from libSystem)" for name in IMPORTS), " ".join(sorted(bound))),
            ("code signature", signed, signature(data, header)),
        ]]
    return compare(path, facts)


if __name__ == "__main__":
    sys.exit(main())
