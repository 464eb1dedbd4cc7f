#!/usr/bin/python3
"""Checks mac32, the i386 dylib for classic dyld (Mac OS X 10.5), from the
file itself with macholib, a reader that shares no code with our linker.

Prints what it found in a fixed form and compares it, line for line, with what
the dylib must be: an i386 MH_DYLIB, the one export, the four libSystem
imports bound through non-lazy pointers, no relocations at all, segment
protections r-x / rw- / r--, the dylib id with the project's version, no load
command that dyld 10.5 cannot read, and room after the load commands for
Apple's tools to add a code signature and an rpath.

  check_mac32.py FILE EXPORT CURRENT_VERSION COMPATIBILITY_VERSION
check_mac64.py shares the facts both dylibs have.
"""
import os
import struct
import sys

from macholib import mach_o
from macholib.MachO import MachO
from macholib.SymbolTable import SymbolTable

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from reporting import compare

IMPORTS = ["_close", "_fsync", "_open$UNIX2003", "_printf"]
LIBSYSTEM = "/usr/lib/libSystem.B.dylib"
# What codesign_allocate and install_name_tool -add_rpath must be able to
# add: an LC_CODE_SIGNATURE (16 bytes) and an LC_RPATH of a short path such as
# @loader_path/../Frameworks (12 bytes and the path, 8-byte aligned).
ROOM = 64
# Commands that dyld 10.5 must understand (LC_REQ_DYLD) and does.
REQ_DYLD_KNOWN_TO_10_5 = {mach_o.LC_LOAD_WEAK_DYLIB, mach_o.LC_RPATH, mach_o.LC_REEXPORT_DYLIB}
DYLIB_COMMANDS = {mach_o.LC_LOAD_DYLIB, mach_o.LC_LOAD_WEAK_DYLIB, mach_o.LC_REEXPORT_DYLIB,
                  mach_o.LC_LAZY_LOAD_DYLIB, mach_o.LC_LOAD_UPWARD_DYLIB}
MAGICS = {mach_o.MH_MAGIC: "MH_MAGIC", mach_o.MH_MAGIC_64: "MH_MAGIC_64"}
INDIRECT_KINDS = {mach_o.S_NON_LAZY_SYMBOL_POINTERS: "non-lazy", mach_o.S_LAZY_SYMBOL_POINTERS: "lazy",
                  mach_o.S_SYMBOL_STUBS: "stubs"}


def expected_facts(export, install_name, current, compatibility, macos):
    """What mac32 and each mac64 slice have in common."""
    return [
        "flags: DYLDLINK NOUNDEFS NO_REEXPORTED_DYLIBS TWOLEVEL",
        "relocations: in sections 0, local 0, external 0",
        f"dylib id: {install_name}",
        f"dylib versions: current {current}, compatibility {compatibility}",
        f"dylibs used: LC_LOAD_DYLIB {LIBSYSTEM}",
        # Dyld versions from before the command skip it; later ones read it.
        f"minimum macOS: {macos}",
        f"defined externals: {export}",
        f"room after the load commands: {ROOM} bytes or more",
    ]


def read(path):
    """The file's bytes and its headers, or a clear refusal."""
    try:
        with open(path, "rb") as f:
            return f.read(), MachO(path)
    except (OSError, ValueError) as error:
        raise SystemExit(f"{path}: macholib cannot read it ({error}); expected a well-formed Mach-O dylib")


def text(padded):
    return padded.rstrip(b"\0").decode()


def version(packed, always_patch=True):
    major, minor, patch = packed >> 16, packed >> 8 & 0xFF, packed & 0xFF
    return f"{major}.{minor}" + (f".{patch}" if patch or always_patch else "")


def protection(value):
    return "".join(c if value & bit else "-" for bit, c in ((1, "r"), (2, "w"), (4, "x")))


def segments(header):
    return [(cmd, sections) for lc, cmd, sections in header.commands
            if lc.cmd in (mach_o.LC_SEGMENT, mach_o.LC_SEGMENT_64)]


def facts(macho, header):
    """Returns the lines of expected_facts as found, and the symbol table
    with the names of the libraries its ordinals refer to."""
    commands = {lc.cmd: (cmd, data) for lc, cmd, data in header.commands}
    dylib_id, name = commands.get(mach_o.LC_ID_DYLIB, (None, b""))
    loads = [(lc.cmd, text(data)) for lc, _, data in header.commands if lc.cmd in DYLIB_COMMANDS]
    dysymtab = header.getDynamicSymbolTableCommand()
    minimum = commands.get(mach_o.LC_VERSION_MIN_MACOSX, commands.get(mach_o.LC_BUILD_VERSION, (None,)))[0]
    symbols = SymbolTable(macho, header)
    in_range = {name for _, name in symbols.extdefsyms}
    defined = sorted(name.decode() + ("" if name in in_range else " (outside LC_DYSYMTAB's range)")
               for nlist, name in symbols.nlists if nlist.n_type & (mach_o.N_STAB | mach_o.N_PEXT) == 0
               and nlist.n_type & mach_o.N_EXT and nlist.n_type & mach_o.N_TYPE != mach_o.N_UNDF)
    header_size = 32 if header.header.magic == mach_o.MH_MAGIC_64 else 28
    first = min(s.offset for _, sections in segments(header) for s in sections if s.offset and s.size)
    room = first - header_size - header.header.sizeofcmds
    found = [
        f"flags: {' '.join(sorted(n[3:] for bit, n in mach_o.MH_FLAGS_NAMES.items() if header.header.flags & bit))}",
        f"relocations: in sections {sum(s.nreloc for _, sections in segments(header) for s in sections)}, "
        f"local {dysymtab.nlocrel}, external {dysymtab.nextrel}",
        f"dylib id: {text(name)}",
        f"dylib versions: current {dylib_id and dylib_id.current_version}, "
        f"compatibility {dylib_id and dylib_id.compatibility_version}",
        f"dylibs used: {' '.join(f'{mach_o.LC_NAMES[cmd]} {path}' for cmd, path in loads)}",
        f"minimum macOS: {minimum and version(getattr(minimum, 'version', getattr(minimum, 'minos', 0)), False)}",
        f"defined externals: {' '.join(defined)}",
        f"room after the load commands: {f'{ROOM} bytes or more' if room >= ROOM else f'{room} bytes'}",
    ]
    libraries = [os.path.basename(path).split(".")[0] for _, path in loads]
    return found, symbols, libraries


def header_line(header):
    h = header.header
    return (f"header: {MAGICS.get(h.magic, hex(h.magic))} {mach_o.CPU_TYPE_NAMES.get(h.cputype, h.cputype)} "
            f"{mach_o.get_cpu_subtype(h.cputype, h.cpusubtype)} {mach_o.MH_FILETYPE_SHORTNAMES.get(h.filetype, h.filetype)}")


def undefined(symbols, libraries):
    """Each undefined external and the library its two-level ordinal names."""
    names = []
    for nlist, name in sorted(symbols.undefsyms, key=lambda symbol: symbol[1]):
        ordinal = nlist.n_desc >> 8 & 0xFF
        names.append(f"{name.decode()} (from "
                     + (libraries[ordinal - 1] if 0 < ordinal <= len(libraries) else f"ordinal {ordinal}") + ")")
    return " ".join(names)


def indirect(data, header, symbols):
    """The symbol of each indirect table entry, by the section that owns it."""
    dysymtab = header.getDynamicSymbolTableCommand()
    table = struct.unpack_from(f"<{dysymtab.nindirectsyms}I", data, header.offset + dysymtab.indirectsymoff)
    owned, found = set(), []
    for segment, sections in segments(header):
        for s in sections:
            kind = s.flags & mach_o.SECTION_TYPE
            if kind in INDIRECT_KINDS:
                entries = range(s.reserved1, s.reserved1 + s.size // (s.reserved2 if kind == mach_o.S_SYMBOL_STUBS else 4))
                owned.update(entries)
                found.append(f"({text(s.segname)},{text(s.sectname)} "
                             f"{INDIRECT_KINDS[kind]}) " + " ".join(
                                 symbols.nlists[table[i]][1].decode() if i < len(table) else "(beyond the table)"
                                 for i in entries))
    if len(owned & set(range(len(table)))) < len(table):
        found.append(f"{len(table) - len(owned & set(range(len(table))))} entries in no section")
    return " ".join(found)


def main():
    path, export, current, compatibility = sys.argv[1:]
    data, macho = read(path)
    header = macho.headers[0]
    expected = ["header: MH_MAGIC i386 CPU_SUBTYPE_I386_ALL dylib"] + expected_facts(
        export, os.path.basename(path), current, compatibility, "10.5") + [
        "segments: __TEXT r-x/r-x __DATA rw-/rw- __LINKEDIT r--/r--",
        "load commands dyld 10.5 cannot read: (none)",
        "LC_UUID: present",
        f"indirect symbols: (__DATA,__nl_symbol_ptr non-lazy) {' '.join(IMPORTS)}",
        f"undefined: {' '.join(f'{name} (from libSystem)' for name in IMPORTS)}",
    ]
    common, symbols, libraries = facts(macho, header)
    unreadable = [mach_o.LC_NAMES.get(lc.cmd, hex(lc.cmd)) for lc, _, _ in header.commands
                  if lc.cmd & mach_o.LC_REQ_DYLD and lc.cmd not in REQ_DYLD_KNOWN_TO_10_5]
    actual = [header_line(header)] + common + [
        "segments: " + " ".join(f"{text(cmd.segname)} {protection(cmd.maxprot)}/"
                                f"{protection(cmd.initprot)}" for cmd, _ in segments(header)),
        f"load commands dyld 10.5 cannot read: {' '.join(unreadable) or '(none)'}",
        f"LC_UUID: {'present' if any(lc.cmd == mach_o.LC_UUID for lc, _, _ in header.commands) else 'absent'}",
        f"indirect symbols: {indirect(data, header, symbols)}",
        f"undefined: {undefined(symbols, libraries)}",
    ]
    return compare(path, expected, actual)


if __name__ == "__main__":
    sys.exit(main())
