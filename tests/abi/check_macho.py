#!/usr/bin/python3
"""Checks the structure of the Mac OS X dylib from the file itself, with tools
that share no code with our linker: llvm-objdump, llvm-nm and macholib.

Prints what it found in a fixed form and compares it, line for line, with what
the dylib must be for classic dyld: i386 MH_DYLIB, the one export, the four
libSystem imports bound through non-lazy pointers, no relocations at all,
segment protections r-x / rw- / r--, and its own current and compatibility
versions.

  check_macho.py LLVM_OBJDUMP LLVM_NM FILE EXPORT CURRENT_VERSION COMPATIBILITY_VERSION
Run it with Debian's /usr/bin/python3, which has macholib.
"""
import os
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
        f"indirect symbols (llvm-objdump): (__DATA,__nl_symbol_ptr) {' '.join(IMPORTS)}",
        f"defined externals (llvm-nm): {export}",
        f"undefined (llvm-nm): {' '.join(f'{name} (from libSystem)' for name in IMPORTS)}",
        "header (macholib): i386 dylib",
        "load commands (macholib): LC_SEGMENT LC_SEGMENT LC_SEGMENT LC_ID_DYLIB LC_LOAD_DYLIB "
        "LC_SYMTAB LC_DYSYMTAB LC_UUID",
        f"loads (macholib): load_dylib {LIBSYSTEM}",
        f"defined externals (macholib): {export}",
        f"undefined (macholib): {' '.join(f'{name}@1' for name in IMPORTS)}",
        f"indirect entries (macholib): {len(IMPORTS)} in S_NON_LAZY_SYMBOL_POINTERS",
    ]


def run(*command):
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"{command[-1]}: {' '.join(command[:-1])} cannot read it ({done.stderr.strip()}); "
                         "expected a well-formed Mach-O file")
    return done.stdout


def load_command_blocks(objdump, path):
    """The --private-headers output split per load command, as (key, value) lists."""
    blocks = []
    for line in run(objdump, "--macho", "--private-headers", path).splitlines():
        if line.startswith("Load command"):
            blocks.append([])
        elif blocks and line.strip():
            key, _, value = line.strip().partition(" ")
            blocks[-1].append((key, value.strip()))
    return blocks


def objdump_report(objdump, path):
    headers = run(objdump, "--macho", "--private-headers", path).splitlines()
    fields = headers[headers.index(next(l for l in headers if "magic" in l and "cputype" in l)) + 1].split()
    magic, cputype, cpusubtype, _, filetype, _, _, *flags = fields
    segments, section_relocations, dysymtab, id_dylib = [], 0, {}, {}
    for block in load_command_blocks(objdump, path):
        values = dict(block)
        if values.get("cmd") == "LC_SEGMENT":
            segments.append(f"{values['segname']} {values['maxprot']}/{values['initprot']}")
            section_relocations += sum(int(v) for k, v in block if k == "nreloc")
        elif values.get("cmd") == "LC_DYSYMTAB":
            dysymtab = values
        elif values.get("cmd") == "LC_ID_DYLIB":
            # "current version 1.0.0" and "compatibility version 1.0.0"
            id_dylib = {key: value.split()[-1] for key, value in block}
    indirect = []
    for line in run(objdump, "--macho", "--indirect-symbols", path).splitlines():
        if line.startswith("Indirect symbols for"):
            indirect.append(line.split()[3])
        elif line.startswith("0x"):
            indirect.append(line.split()[2])
    dylib_id = run(objdump, "--macho", "--dylib-id", "--no-leading-headers", path).split()
    used = [line.split()[0] for line in run(objdump, "--macho", "--dylibs-used", "--no-leading-headers", path)
            .splitlines() if line.strip()]
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
        f"indirect symbols (llvm-objdump): {' '.join(indirect)}",
    ]


def nm_report(nm, path):
    defined, undefined = [], []
    for line in run(nm, "-m", path).splitlines():
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


def main():
    objdump, nm, path, export, current, compatibility = sys.argv[1:]
    expected = expected_report(export, os.path.basename(path), current, compatibility)
    actual = objdump_report(objdump, path) + nm_report(nm, path) + macholib_report(path)
    return compare(path, expected, actual)


if __name__ == "__main__":
    sys.exit(main())
