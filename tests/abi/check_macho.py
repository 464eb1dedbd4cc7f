#!/usr/bin/python3
"""Checks the structure of the Mac dylibs from the file itself, with tools
that share no code with the linkers: llvm-objdump, llvm-nm, llvm-lipo and
macholib.

Prints what it found in a fixed form and compares it, line for line, with what
the dylib must be.
- mac32, for classic dyld: i386 MH_DYLIB, the one export, the four libSystem
  imports bound through non-lazy pointers, no relocations at all, segment
  protections r-x / rw- / r--, and the dylib id with the project's version.
    check_macho.py LLVM_OBJDUMP LLVM_NM FILE EXPORT CURRENT_VERSION COMPATIBILITY_VERSION
- mac64, universal: exactly an x86_64 and an arm64 slice, each an MH_DYLIB
  for its minimum macOS, with the one export in its export trie, the dylib id
  with the project's version, and only libSystem's four functions (and the
  lazy binder) bound; the arm64 slice's ad-hoc signature is recomputed from
  the file, page by page.
    check_macho.py LLVM_OBJDUMP LLVM_NM FILE EXPORT CURRENT_VERSION COMPATIBILITY_VERSION LLVM_LIPO
Run it with Debian's /usr/bin/python3, which has macholib.
"""
import hashlib
import os
import struct
import subprocess
import sys

from macholib import mach_o
from macholib.MachO import MachO
from macholib.SymbolTable import SymbolTable

from readout import compare

IMPORTS = ["_close", "_fsync", "_open$UNIX2003", "_printf"]
LIBSYSTEM = "/usr/lib/libSystem.B.dylib"


def expected_report(export, install_name, current, compatibility):
    return [
        "header (llvm-objdump): MH_MAGIC I386 ALL DYLIB",
        "flags (llvm-objdump): DYLDLINK NOUNDEFS NO_REEXPORTED_DYLIBS TWOLEVEL",
        "segments (llvm-objdump): __TEXT r-x/r-x __DATA rw-/rw- __LINKEDIT r--/r--",
        "relocations (llvm-objdump): in sections 0, local 0, external 0",
        f"dylib id (llvm-objdump): {install_name}",
        f"dylib versions (llvm-objdump): current {current}, compatibility {compatibility}",
        # --dylibs-used lists the dylib's own id first.
        f"dylibs used (llvm-objdump): {install_name} {LIBSYSTEM}",
        # Dyld versions from before the command skip it; later ones read it.
        "minimum macOS (llvm-objdump): 10.5",
        f"indirect symbols (llvm-objdump): (__DATA,__nl_symbol_ptr) {' '.join(IMPORTS)}",
        f"defined externals (llvm-nm): {export}",
        f"undefined (llvm-nm): {' '.join(f'{name} (from libSystem)' for name in IMPORTS)}",
        "header (macholib): i386 dylib",
        "load commands (macholib): LC_SEGMENT LC_SEGMENT LC_SEGMENT LC_ID_DYLIB LC_LOAD_DYLIB "
        "LC_SYMTAB LC_DYSYMTAB LC_VERSION_MIN_MACOSX LC_UUID",
        f"loads (macholib): load_dylib {LIBSYSTEM}",
        f"defined externals (macholib): {export}",
        f"undefined (macholib): {' '.join(f'{name}@1' for name in IMPORTS)}",
        f"indirect entries (macholib): {len(IMPORTS)} in S_NON_LAZY_SYMBOL_POINTERS",
    ]


# The 64-bit slices: architecture, cputype as llvm-objdump names it, minimum
# macOS, segments with their protections.
SLICES = [
    ("x86_64", "X86_64", "10.9", "__TEXT r-x/r-x __DATA rw-/rw- __LINKEDIT r--/r--"),
    ("arm64", "ARM64", "11.0", "__TEXT r-x/r-x __DATA_CONST rw-/rw- __DATA rw-/rw- __LINKEDIT r--/r--"),
]
# ld64.lld's lazy binding stubs call dyld_stub_binder; the code calls the rest.
IMPORTS_64 = ["_close", "_fsync", "_open", "_printf", "dyld_stub_binder"]


def expected_universal_report(export, install_name, current, compatibility):
    imports = " ".join(f"{name} (from libSystem)" for name in IMPORTS_64)
    report = ["architectures (llvm-lipo): x86_64 arm64"]
    for arch, cputype, macos, segments in SLICES:
        # Apple silicon runs no unsigned arm64 code; x86_64 needs no signature.
        signature = (f"ad-hoc, identifier {install_name}, SHA-256 of every 4096-byte page before it matches"
                     if arch == "arm64" else "none")
        report += [f"{arch} {line}" for line in [
            f"header (llvm-objdump): MH_MAGIC_64 {cputype} ALL DYLIB",
            "flags (llvm-objdump): DYLDLINK NOUNDEFS NO_REEXPORTED_DYLIBS TWOLEVEL",
            f"segments (llvm-objdump): {segments}",
            "relocations (llvm-objdump): in sections 0, local 0, external 0",
            f"dylib id (llvm-objdump): {install_name}",
            f"dylib versions (llvm-objdump): current {current}, compatibility {compatibility}",
            f"dylibs used (llvm-objdump): {install_name} {LIBSYSTEM}",
            f"minimum macOS (llvm-objdump): {macos}",
            f"exports trie (llvm-objdump): {export}",
            f"bound (llvm-objdump): {imports}",
            f"defined externals (llvm-nm): {export}",
            f"undefined (llvm-nm): {imports}",
            f"code signature (recomputed): {signature}",
        ]]
    return report


def run(*command):
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"{command[-1]}: {' '.join(command[:-1])} cannot read it ({done.stderr.strip()}); "
                         "expected a well-formed Mach-O file")
    return done.stdout


def load_command_blocks(objdump, path, *options):
    """The --private-headers output split per load command, as (key, value) lists."""
    blocks = []
    for line in run(objdump, "--macho", "--private-headers", *options, path).splitlines():
        if line.startswith("Load command"):
            blocks.append([])
        elif blocks and line.strip():
            key, _, value = line.strip().partition(" ")
            blocks[-1].append((key, value.strip()))
    return blocks


def objdump_report(objdump, path, *options):
    """What both Mac checks read with llvm-objdump; options select a slice."""
    headers = run(objdump, "--macho", "--private-headers", *options, path).splitlines()
    fields = headers[headers.index(next(l for l in headers if "magic" in l and "cputype" in l)) + 1].split()
    magic, cputype, cpusubtype, _, filetype, _, _, *flags = fields
    segments, section_relocations, dysymtab, id_dylib, minimum = [], 0, {}, {}, None
    for block in load_command_blocks(objdump, path, *options):
        values = dict(block)
        if values.get("cmd") in ("LC_SEGMENT", "LC_SEGMENT_64"):
            segments.append(f"{values['segname']} {values['maxprot']}/{values['initprot']}")
            section_relocations += sum(int(v) for k, v in block if k == "nreloc")
        elif values.get("cmd") == "LC_DYSYMTAB":
            dysymtab = values
        elif values.get("cmd") == "LC_ID_DYLIB":
            # "current version 1.0.0" and "compatibility version 1.0.0"
            id_dylib = {key: value.split()[-1] for key, value in block}
        elif values.get("cmd") == "LC_VERSION_MIN_MACOSX":
            minimum = values.get("version")
        elif values.get("cmd") == "LC_BUILD_VERSION":
            minimum = values.get("minos")
    dylib_id = run(objdump, "--macho", "--dylib-id", "--no-leading-headers", *options, path).split()
    used = [line.split()[0] for line in run(objdump, "--macho", "--dylibs-used", "--no-leading-headers", *options,
                                             path).splitlines() if line.strip()]
    return [
        f"header (llvm-objdump): {magic} {cputype} {cpusubtype} {filetype}",
        f"flags (llvm-objdump): {' '.join(sorted(flags))}",
        f"segments (llvm-objdump): {' '.join(segments)}",
        f"relocations (llvm-objdump): in sections {section_relocations}, "
        f"local {dysymtab.get('nlocrel')}, external {dysymtab.get('nextrel')}",
        f"dylib id (llvm-objdump): {' '.join(dylib_id[:1])}",
        f"dylib versions (llvm-objdump): current {id_dylib.get('current')}, "
        f"compatibility {id_dylib.get('compatibility')}",
        f"dylibs used (llvm-objdump): {' '.join(used)}",
        f"minimum macOS (llvm-objdump): {minimum}",
    ]


def indirect_report(objdump, path):
    indirect = []
    for line in run(objdump, "--macho", "--indirect-symbols", path).splitlines():
        if line.startswith("Indirect symbols for"):
            indirect.append(line.split()[3])
        elif line.startswith("0x"):
            indirect.append(line.split()[2])
    return [f"indirect symbols (llvm-objdump): {' '.join(indirect)}"]


def nm_report(nm, path, *options):
    defined, undefined = [], []
    for line in run(nm, "-m", *options, path).splitlines():
        if "(undefined)" in line:
            undefined.append(line.split("external ", 1)[1])
        elif " external " in line:
            defined.append(line.split(" external ", 1)[1])
    return [f"defined externals (llvm-nm): {' '.join(defined)}",
            f"undefined (llvm-nm): {' '.join(undefined)}"]


def macholib_report(path):
    header = MachO(path).headers[0]
    commands = [lc.get_cmd_name() for lc, _, _ in header.commands]
    symbols = SymbolTable(MachO(path))
    undefined = [f"{name.decode()}@{(nlist.n_desc >> 8) & 0xFF}" for nlist, name in symbols.undefsyms]

    # Which kind of section each indirect entry belongs to, by reserved1 and size.
    dysymtab = next(cmd for lc, cmd, _ in header.commands if lc.cmd == mach_o.LC_DYSYMTAB)
    kinds = {mach_o.S_NON_LAZY_SYMBOL_POINTERS: "S_NON_LAZY_SYMBOL_POINTERS",
             mach_o.S_LAZY_SYMBOL_POINTERS: "S_LAZY_SYMBOL_POINTERS", mach_o.S_SYMBOL_STUBS: "S_SYMBOL_STUBS"}
    owner = ["no section"] * dysymtab.nindirectsyms
    for lc, _, sections in header.commands:
        if lc.cmd != mach_o.LC_SEGMENT:
            continue
        for section in sections:
            kind = section.flags & mach_o.SECTION_TYPE
            if kind in kinds:
                size = section.reserved2 if kind == mach_o.S_SYMBOL_STUBS else 4
                for i in range(section.reserved1, section.reserved1 + section.size // size):
                    if i >= len(owner):
                        owner.append("entries beyond the table")
                    else:
                        owner[i] = kinds[kind]
    counted = sorted({kind: owner.count(kind) for kind in owner}.items())
    return [
        f"header (macholib): {mach_o.CPU_TYPE_NAMES.get(header.header.cputype, header.header.cputype)} "
        f"{mach_o.MH_FILETYPE_SHORTNAMES.get(header.header.filetype, header.header.filetype)}",
        f"load commands (macholib): {' '.join(commands)}",
        f"loads (macholib): {' '.join(f'{kind} {name}' for _, kind, name in header.walkRelocatables())}",
        f"defined externals (macholib): {' '.join(name.decode() for _, name in symbols.extdefsyms)}",
        f"undefined (macholib): {' '.join(undefined)}",
        f"indirect entries (macholib): {', '.join(f'{n} in {kind}' for kind, n in counted)}",
    ]


# Mach-O and code signature constants; the fat header and the signature are big-endian.
LC_CODE_SIGNATURE = 0x1D
CPU_TYPES = {"x86_64": 0x01000007, "arm64": 0x0100000C}
CSMAGIC_EMBEDDED_SIGNATURE, CSMAGIC_CODEDIRECTORY, CSSLOT_CODEDIRECTORY = 0xFADE0CC0, 0xFADE0C02, 0
CS_ADHOC, CS_HASHTYPE_SHA256 = 0x2, 2


def signature_report(data, arch):
    """Recomputes the hash of every page that the slice's CodeDirectory covers
    and says whether each matches the one stored, or where the first does not."""
    _, count = struct.unpack_from(">II", data)
    offsets = {cputype: offset for cputype, _, offset, _, _ in
               (struct.unpack_from(">IIIII", data, 8 + 20 * i) for i in range(count))}
    base = offsets[CPU_TYPES[arch]]
    ncmds = struct.unpack_from("<I", data, base + 16)[0]
    command = base + 32
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<II", data, command)
        if cmd == LC_CODE_SIGNATURE:
            break
        command += cmdsize
    else:
        return "none"
    dataoff, _ = struct.unpack_from("<II", data, command + 8)
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


def slice_report(objdump, nm, path, arch, data):
    """What one slice of a universal file holds."""
    option = f"--arch={arch}"
    # Each row of the three bind tables ends with the library and the symbol.
    bound = []
    for line in run(objdump, "--macho", option, "--bind", "--lazy-bind", "--weak-bind", path).splitlines():
        if line.startswith("__"):
            bound.append(f"{line.split()[-1]} (from {line.split()[-2]})")
    exports = [line.split()[1] for line in run(objdump, "--macho", option, "--exports-trie", path).splitlines()
               if line.startswith("0x")]
    report = objdump_report(objdump, path, option) + [
        f"exports trie (llvm-objdump): {' '.join(exports)}",
        f"bound (llvm-objdump): {' '.join(sorted(bound))}",
    ] + nm_report(nm, path, option) + [f"code signature (recomputed): {signature_report(data, arch)}"]
    return [f"{arch} {line}" for line in report]


def main():
    if len(sys.argv) == 8:
        objdump, nm, path, export, current, compatibility, lipo = sys.argv[1:]
        with open(path, "rb") as f:
            data = f.read()
        expected = expected_universal_report(export, os.path.basename(path), current, compatibility)
        actual = [f"architectures (llvm-lipo): {' '.join(run(lipo, '-archs', path).split())}"]
        # The rest is per slice, and means little if a slice is missing.
        if actual != expected[:1]:
            return compare(path, expected[:1], actual)
        for arch, *_ in SLICES:
            actual += slice_report(objdump, nm, path, arch, data)
        return compare(path, expected, actual)
    objdump, nm, path, export, current, compatibility = sys.argv[1:]
    expected = expected_report(export, os.path.basename(path), current, compatibility)
    actual = (objdump_report(objdump, path) + indirect_report(objdump, path) + nm_report(nm, path)
              + macholib_report(path))
    return compare(path, expected, actual)


if __name__ == "__main__":
    sys.exit(main())
