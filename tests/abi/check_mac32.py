#!/usr/bin/python3
"""Checks mac32, the i386 dylib for classic dyld (Mac OS X 10.5), from the
file itself with macholib, which shares no code with our linker: an i386
MH_DYLIB, the one export, the four libSystem imports bound through non-lazy
pointers, no relocations, segments r-x / rw- / r--, the dylib id with the
project's version, no load command that dyld 10.5 cannot read, and room after
the load commands for Apple's tools to add a code signature and an rpath.
check_mac64.py shares the facts both dylibs have.

  check_mac32.py FILE EXPORT CURRENT_VERSION COMPATIBILITY_VERSION
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
# What codesign_allocate and install_name_tool -add_rpath must be able to
# add: an LC_CODE_SIGNATURE (16 bytes) and an LC_RPATH of a short path such as
# @loader_path/../Frameworks (12 bytes and the path, 8-byte aligned).
ROOM = 64
# Of the commands that dyld must understand (LC_REQ_DYLD), those 10.5 does.
KNOWN_TO_10_5 = {mach_o.LC_LOAD_WEAK_DYLIB, mach_o.LC_RPATH, mach_o.LC_REEXPORT_DYLIB}
DYLIB_COMMANDS = {mach_o.LC_LOAD_DYLIB, mach_o.LC_LOAD_WEAK_DYLIB, mach_o.LC_REEXPORT_DYLIB,
                  mach_o.LC_LAZY_LOAD_DYLIB, mach_o.LC_LOAD_UPWARD_DYLIB}
MAGICS = {mach_o.MH_MAGIC: "MH_MAGIC", mach_o.MH_MAGIC_64: "MH_MAGIC_64"}
POINTERS = {mach_o.S_NON_LAZY_SYMBOL_POINTERS: "non-lazy", mach_o.S_LAZY_SYMBOL_POINTERS: "lazy"}


def read(path):
    """The file's bytes and its headers, or a clear refusal."""
    try:
        with open(path, "rb") as f:
            return f.read(), MachO(path)
    except (OSError, ValueError) as error:
        raise SystemExit(f"{path}: macholib cannot read it ({error}); expected a well-formed Mach-O dylib")


def text(padded):
    return padded.rstrip(b"\0").decode()


def segments(header):
    return [(cmd, sections) for lc, cmd, sections in header.commands
            if lc.cmd in (mach_o.LC_SEGMENT, mach_o.LC_SEGMENT_64)]


def shared_facts(macho, header, export, current, compatibility, cputype, macos, imports):
    """What mac32 and each mac64 slice must be alike, as (name, expected, found)."""
    h, commands = header.header, {lc.cmd: (cmd, data) for lc, cmd, data in header.commands}
    dylib_id, install_name = commands.get(mach_o.LC_ID_DYLIB, (None, b""))
    loads = [(lc.cmd, text(data)) for lc, _, data in header.commands if lc.cmd in DYLIB_COMMANDS]
    libraries = [os.path.basename(path).split(".")[0] for _, path in loads]
    dysymtab = header.getDynamicSymbolTableCommand()
    minimum = commands.get(mach_o.LC_VERSION_MIN_MACOSX, commands.get(mach_o.LC_BUILD_VERSION, (None,)))[0]
    minimum = minimum and getattr(minimum, "version", getattr(minimum, "minos", 0))
    symbols = SymbolTable(macho, header)
    extdef = {name for _, name in symbols.extdefsyms}
    defined = sorted(name.decode() + ("" if name in extdef else " (outside LC_DYSYMTAB's range)")
                     for nlist, name in symbols.nlists if nlist.n_type & (mach_o.N_STAB | mach_o.N_PEXT) == 0
                     and nlist.n_type & mach_o.N_EXT and nlist.n_type & mach_o.N_TYPE != mach_o.N_UNDF)
    # Each undefined external with the library its two-level ordinal names.
    ordinals = [(name.decode(), nlist.n_desc >> 8 & 0xFF) for nlist, name in symbols.undefsyms]
    undefined = [f"{name} (from {libraries[o - 1] if 0 < o <= len(libraries) else f'ordinal {o}'})"
                 for name, o in sorted(ordinals)]
    first = min(s.offset for _, sections in segments(header) for s in sections if s.offset and s.size)
    room = first - (32 if h.magic == mach_o.MH_MAGIC_64 else 28) - h.sizeofcmds
    return [
        ("header", f"{cputype} dylib", f"{MAGICS.get(h.magic, hex(h.magic))} "
         f"{mach_o.CPU_TYPE_NAMES.get(h.cputype, h.cputype)} {mach_o.get_cpu_subtype(h.cputype, h.cpusubtype)} "
         f"{mach_o.MH_FILETYPE_SHORTNAMES.get(h.filetype, h.filetype)}"),
        ("flags", "DYLDLINK NOUNDEFS NO_REEXPORTED_DYLIBS TWOLEVEL",
         " ".join(sorted(n[3:] for bit, n in mach_o.MH_FLAGS_NAMES.items() if h.flags & bit))),
        ("relocations", "in sections 0, local 0, external 0",
         f"in sections {sum(s.nreloc for _, sections in segments(header) for s in sections)}, "
         f"local {dysymtab.nlocrel}, external {dysymtab.nextrel}"),
        ("dylib id", os.path.basename(macho.filename), text(install_name)),
        ("dylib versions", f"current {current}, compatibility {compatibility}",
         f"current {dylib_id and dylib_id.current_version}, "
         f"compatibility {dylib_id and dylib_id.compatibility_version}"),
        ("dylibs used", "LC_LOAD_DYLIB /usr/lib/libSystem.B.dylib",
         " ".join(f"{mach_o.LC_NAMES[cmd]} {path}" for cmd, path in loads)),
        # Dyld versions from before the command skip it; later ones read it.
        ("minimum macOS", macos, minimum and f"{minimum >> 16}.{minimum >> 8 & 0xFF}"
         + (f".{minimum & 0xFF}" if minimum & 0xFF else "")),
        ("defined externals", export, " ".join(defined)),
        ("undefined", " ".join(f"{name} (from libSystem)" for name in imports), " ".join(undefined)),
        ("room after the load commands", f"{ROOM} bytes or more",
         f"{ROOM} bytes or more" if room >= ROOM else f"{room} bytes"),
    ], symbols


def indirect(data, header, symbols):
    """The symbol of each indirect table entry, by the pointer section that holds it."""
    dysymtab = header.getDynamicSymbolTableCommand()
    table = struct.unpack_from(f"<{dysymtab.nindirectsyms}I", data, header.offset + dysymtab.indirectsymoff)
    found, held = [], set()
    for s in (s for _, sections in segments(header) for s in sections):
        kind = POINTERS.get(s.flags & mach_o.SECTION_TYPE)
        if kind:
            entries = range(s.reserved1, s.reserved1 + s.size // 4)
            held.update(entries)
            found.append(f"({text(s.segname)},{text(s.sectname)} {kind}) " + " ".join(
                symbols.nlists[table[i]][1].decode() if i < len(table) else "(beyond the table)" for i in entries))
    stray = len(set(range(len(table))) - held)
    return " ".join(found + ([f"{stray} in no section"] if stray else []))


def protection(value):
    return "".join(c if value & bit else "-" for bit, c in ((1, "r"), (2, "w"), (4, "x")))


def main():
    path, export, current, compatibility = sys.argv[1:]
    data, macho = read(path)
    header = macho.headers[0]
    facts, symbols = shared_facts(macho, header, export, current, compatibility,
                                  "MH_MAGIC i386 CPU_SUBTYPE_I386_ALL", "10.5", IMPORTS)
    unreadable = [mach_o.LC_NAMES.get(lc.cmd, hex(lc.cmd)) for lc, _, _ in header.commands
                  if lc.cmd & mach_o.LC_REQ_DYLD and lc.cmd not in KNOWN_TO_10_5]
    return compare(path, facts + [
        ("segments", "__TEXT r-x/r-x __DATA rw-/rw- __LINKEDIT r--/r--",
         " ".join(f"{text(cmd.segname)} {protection(cmd.maxprot)}/{protection(cmd.initprot)}"
                  for cmd, _ in segments(header))),
        ("load commands dyld 10.5 cannot read", "(none)", " ".join(unreadable) or "(none)"),
        ("LC_UUID", "present",
         "present" if any(lc.cmd == mach_o.LC_UUID for lc, _, _ in header.commands) else "absent"),
        ("indirect symbols", f"(__DATA,__nl_symbol_ptr non-lazy) {' '.join(IMPORTS)}", indirect(data, header, symbols)),
    ])


if __name__ == "__main__":
    sys.exit(main())
