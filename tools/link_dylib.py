#!/usr/bin/env python3
"""Links Mach-O i386 objects into a dylib that classic dyld (Mac OS X 10.5 and
later) loads. No Apple linker for i386 can be installed here, so this is ours.

It is Python with the standard library only: it runs on the build machine as
it is, and a cross build has no easy way to build and run a C++ host tool of
its own before the link.

It knows exactly what clang++ -target i386-apple-macosx10.5 emits for our code
with our flags, and refuses anything else, naming the object, the section or
relocation, and what it expected:
  sections     __TEXT,__text, __TEXT,__cstring, __TEXT,__const
  relocations  in __text only: GENERIC_RELOC_VANILLA, pc-relative, extern, for
               calls and jumps; scattered GENERIC_RELOC_LOCAL_SECTDIFF followed
               by GENERIC_RELOC_PAIR, for the position-independent address of
               a constant (leal const-pic_base(%reg))

The file it writes (file offset = vm address; each segment starts on a page):
  __TEXT     r-x  Mach header and load commands, then 256 bytes free for more
                  __text: each object's __text, then one stub per import:
                          call 1f; 1: pop %eax; jmp *(pointer-1b)(%eax)
                  __cstring, __const: each object's, where any object has one
  __DATA     rw-  __nl_symbol_ptr: one pointer per import, bound by dyld
                  through the indirect symbol table
  __LINKEDIT r--  symbol table: locals, then the one export, then the imports
                  (library ordinal 1); indirect symbol table; string table
  Load commands: LC_SEGMENT x3, LC_ID_DYLIB (the file name and the two
  versions given), LC_LOAD_DYLIB /usr/lib/libSystem.B.dylib, LC_SYMTAB,
  LC_DYSYMTAB, LC_VERSION_MIN_MACOSX (the minimum given, as Apple's linker
  writes it; dyld versions older than the command skip it), LC_UUID (an MD5
  of the file). No relocations: the code is position-independent and the only
  pointers are the ones dyld binds.

usage: link_dylib.py --export SYMBOL [--import SYMBOL]...
                     --current-version X[.Y[.Z]] --compatibility-version X[.Y[.Z]]
                     --macos-version-min X[.Y[.Z]] -o OUTPUT OBJECT...
  --export  the one symbol to export; every other defined symbol becomes local
  --import  a symbol that libSystem may provide; no other may stay undefined
  --current-version, --compatibility-version  the dylib's own, in LC_ID_DYLIB;
            dyld refuses to load it for a program linked against a later
            compatibility version
  --macos-version-min  the oldest Mac OS X it is for, in LC_VERSION_MIN_MACOSX
"""
import argparse
import hashlib
import os
import struct
import sys

PAGE = 4096
LIBSYSTEM = "/usr/lib/libSystem.B.dylib"

MH_MAGIC = 0xFEEDFACE
CPU_TYPE_I386 = 7
CPU_SUBTYPE_I386_ALL = 3
MH_OBJECT, MH_DYLIB = 1, 6
MH_NOUNDEFS, MH_DYLDLINK, MH_TWOLEVEL, MH_NO_REEXPORTED_DYLIBS = 0x1, 0x4, 0x80, 0x100000

LC_SEGMENT, LC_SYMTAB, LC_DYSYMTAB = 0x1, 0x2, 0xB
LC_ID_DYLIB, LC_LOAD_DYLIB, LC_UUID = 0xD, 0xC, 0x1B
# Object load commands that carry nothing a dylib needs.
LC_VERSION_MIN_MACOSX, LC_BUILD_VERSION = 0x24, 0x32
IGNORED_COMMANDS = {LC_DYSYMTAB, LC_VERSION_MIN_MACOSX, LC_BUILD_VERSION}

S_REGULAR, S_CSTRING_LITERALS, S_NON_LAZY_SYMBOL_POINTERS = 0x0, 0x2, 0x6
S_CODE = 0x80000000 | 0x400  # S_ATTR_PURE_INSTRUCTIONS | S_ATTR_SOME_INSTRUCTIONS
# (segment, section) -> section flags it must have, in the order written.
ACCEPTED_SECTIONS = {
    ("__TEXT", "__text"): S_REGULAR | S_CODE,
    ("__TEXT", "__cstring"): S_CSTRING_LITERALS,
    ("__TEXT", "__const"): S_REGULAR,
}

N_STAB, N_TYPE, N_EXT = 0xE0, 0x0E, 0x01
N_UNDF, N_SECT = 0x0, 0xE
N_WEAK = 0x40 | 0x80  # N_WEAK_REF | N_WEAK_DEF
LIBRARY_ORDINAL_1 = 1 << 8  # n_desc: the first LC_LOAD_DYLIB

R_SCATTERED = 0x80000000
GENERIC_RELOC_VANILLA, GENERIC_RELOC_PAIR, GENERIC_RELOC_LOCAL_SECTDIFF = 0, 1, 4
RELOC_NAMES = ["GENERIC_RELOC_VANILLA", "GENERIC_RELOC_PAIR", "GENERIC_RELOC_SECTDIFF",
               "GENERIC_RELOC_PB_LA_PTR", "GENERIC_RELOC_LOCAL_SECTDIFF", "GENERIC_RELOC_TLV"]
EXPECTED_RELOCATIONS = ("expected a pc-relative extern GENERIC_RELOC_VANILLA call, or a scattered "
                        "GENERIC_RELOC_LOCAL_SECTDIFF + GENERIC_RELOC_PAIR")

STUB_SIZE = 12  # e8 00000000 (call 1f) | 58 (pop %eax) | ff a0 <disp32> (jmp *disp32(%eax))
NLIST_SIZE = 12
HEADER_SIZE = 28
# Free space after the load commands, as Apple's linker leaves (-headerpad),
# for codesign_allocate to add LC_CODE_SIGNATURE and install_name_tool an
# LC_RPATH or a longer install name; without it both refuse the dylib.
HEADER_PAD = 0x100
SEGMENT_SIZE, SECTION_SIZE = 56, 68


class LinkError(Exception):
    pass


def fail(path, what, expected):
    raise LinkError(f"{path}: {what}; {expected}")


def align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def cstr(data, offset=0):
    return data[offset:data.index(b"\0", offset)].decode("latin-1")


def padded(name, size):
    return name.encode("latin-1").ljust(size, b"\0")


# --- Reading the objects -----------------------------------------------------

def read_object(path):
    """Returns {path, data, sections, symbols}; refuses what we do not handle."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < HEADER_SIZE:
        fail(path, "file too short for a Mach-O header", "expected a Mach-O i386 object")
    magic, cputype, _, filetype, ncmds, _, _ = struct.unpack_from("<7I", data, 0)
    if (magic, cputype, filetype) != (MH_MAGIC, CPU_TYPE_I386, MH_OBJECT):
        fail(path, f"magic {magic:#x}, cputype {cputype}, filetype {filetype}",
             "expected a Mach-O i386 object (0xfeedface, 7, MH_OBJECT)")
    obj = {"path": path, "data": data, "sections": [], "symbols": []}
    offset = HEADER_SIZE
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<2I", data, offset)
        if cmd == LC_SEGMENT:
            nsects = struct.unpack_from("<I", data, offset + 48)[0]
            for i in range(nsects):
                obj["sections"].append(read_section(path, data, offset + SEGMENT_SIZE + i * SECTION_SIZE))
        elif cmd == LC_SYMTAB:
            obj["symbols"] = read_symbols(path, data, *struct.unpack_from("<4I", data, offset + 8))
        elif cmd not in IGNORED_COMMANDS:
            fail(path, f"load command {cmd:#x}",
                 "expected only LC_SEGMENT, LC_SYMTAB, LC_DYSYMTAB and a minimum-version command")
        offset += cmdsize
    return obj


def read_section(path, data, offset):
    sectname, segname, addr, size, fileoff, align_log2, reloff, nreloc, flags = \
        struct.unpack_from("<16s16s7I", data, offset)
    key = (cstr(segname), cstr(sectname))
    name = f"{key[0]},{key[1]}"
    if key not in ACCEPTED_SECTIONS:
        fail(path, f"unexpected section {name}",
             "expected only __TEXT,__text, __TEXT,__cstring and __TEXT,__const "
             "(compile without unwind tables and debug info)")
    if flags != ACCEPTED_SECTIONS[key]:
        fail(path, f"section {name} has flags {flags:#x}", f"expected {ACCEPTED_SECTIONS[key]:#x}")
    if nreloc and key != ("__TEXT", "__text"):
        fail(path, f"section {name} has relocations", "expected relocations only in __TEXT,__text")
    return {"key": key, "name": name, "addr": addr, "size": size, "align": 1 << align_log2,
            "bytes": data[fileoff:fileoff + size], "relocations": read_relocations(data, reloff, nreloc)}


def read_relocations(data, offset, count):
    return [struct.unpack_from("<2I", data, offset + 8 * i) for i in range(count)]


def read_symbols(path, data, symoff, nsyms, stroff, strsize):
    symbols = []
    for i in range(nsyms):
        strx, ntype, sect, desc, value = struct.unpack_from("<IBBhI", data, symoff + i * NLIST_SIZE)
        name = cstr(data, stroff + strx)
        if ntype & N_STAB or ntype & N_TYPE not in (N_UNDF, N_SECT) or desc & N_WEAK:
            fail(path, f"symbol {name} has n_type {ntype:#x}, n_desc {desc:#x}",
                 "expected a plain defined or undefined symbol (no debug, absolute, indirect or weak one)")
        if ntype & N_TYPE == N_UNDF and value != 0:
            fail(path, f"common symbol {name}", "expected no tentative definitions")
        symbols.append({"name": name, "defined": ntype & N_TYPE == N_SECT,
                        "external": bool(ntype & N_EXT), "sect": sect, "value": value})
    return symbols


# --- Resolving ---------------------------------------------------------------

def resolve(objects, export, allowed_imports):
    """Returns (definitions: name -> (object, symbol), imports: sorted names)."""
    definitions = {}
    for obj in objects:
        for sym in obj["symbols"]:
            if sym["defined"] and sym["external"]:
                if sym["name"] in definitions:
                    fail(obj["path"], f"symbol {sym['name']} is also defined in {definitions[sym['name']][0]['path']}",
                         "expected each symbol defined once")
                definitions[sym["name"]] = (obj, sym)
    imports = set()
    for obj in objects:
        for sym in obj["symbols"]:
            if sym["defined"] or sym["name"] in definitions:
                continue
            if sym["name"] not in allowed_imports:
                fail(obj["path"], f"undefined symbol {sym['name']} is neither defined by an object nor an allowed import",
                     f"expected one of {', '.join(sorted(allowed_imports))}")
            imports.add(sym["name"])
    if export not in definitions:
        fail(" ".join(o["path"] for o in objects), f"no object defines the export {export}",
             "expected one of them to define it")
    obj, sym = definitions[export]
    if obj["sections"][sym["sect"] - 1]["key"] != ("__TEXT", "__text"):
        fail(obj["path"], f"export {export} is not in __TEXT,__text", "expected a function")
    return definitions, sorted(imports)


# --- Layout ------------------------------------------------------------------

def load_command_sizes(install_name, text_section_count):
    return [
        SEGMENT_SIZE + SECTION_SIZE * text_section_count,  # __TEXT
        SEGMENT_SIZE + SECTION_SIZE,                       # __DATA
        SEGMENT_SIZE,                                      # __LINKEDIT
        align(24 + len(install_name) + 1, 4),              # LC_ID_DYLIB
        align(24 + len(LIBSYSTEM) + 1, 4),                 # LC_LOAD_DYLIB
        24, 80, 16, 24,  # LC_SYMTAB, LC_DYSYMTAB, LC_VERSION_MIN_MACOSX, LC_UUID
    ]


def lay_out(objects, imports, install_name):
    """Places every input section, the stubs and the pointers. Returns the layout:
    output sections (name, addr, size, align, pieces), where each input section
    went, and the stub and pointer address of each import."""
    keys = [k for k in ACCEPTED_SECTIONS if any(s["key"] == k for o in objects for s in o["sections"])]
    if ("__TEXT", "__text") not in keys:
        keys.insert(0, ("__TEXT", "__text"))
    commands_size = sum(load_command_sizes(install_name, len(keys)))
    address = HEADER_SIZE + commands_size + HEADER_PAD
    placed = {}  # id(input section) -> output address
    out = []
    for key in keys:
        pieces = [s for o in objects for s in o["sections"] if s["key"] == key]
        alignment = max([4] + [s["align"] for s in pieces])
        start = address = align(address, alignment)
        for s in pieces:
            address = align(address, s["align"])
            placed[id(s)] = address
            address += s["size"]
        stubs = {}
        if key == ("__TEXT", "__text"):
            address = align(address, 4)
            for name in imports:
                stubs[name] = address
                address += STUB_SIZE
        out.append({"key": key, "addr": start, "size": address - start, "align": alignment,
                    "pieces": pieces, "stubs": stubs})
    text_end = align(address, PAGE)
    pointers = {name: text_end + 4 * i for i, name in enumerate(imports)}
    return {"sections": out, "placed": placed, "commands_size": commands_size, "text_end": text_end,
            "stubs": out[0]["stubs"], "pointers": pointers, "data_end": text_end + PAGE}


def symbol_address(layout, obj, sym):
    section = obj["sections"][sym["sect"] - 1]
    return layout["placed"][id(section)] + sym["value"] - section["addr"]


def output_section_index(layout, obj, sym):
    key = obj["sections"][sym["sect"] - 1]["key"]
    return 1 + [s["key"] for s in layout["sections"]].index(key)


# --- Relocations -------------------------------------------------------------

def relocate(obj, section, layout, definitions, out):
    """Applies the relocations of one input __text section to its copy in out."""
    path, base = obj["path"], layout["placed"][id(section)]
    relocations = section["relocations"]
    i = 0
    while i < len(relocations):
        word, value = relocations[i]
        if word & R_SCATTERED:
            address = word & 0xFFFFFF
            kind, length, pcrel = (word >> 24) & 0xF, (word >> 28) & 3, (word >> 30) & 1
            where = f"{section['name']} relocation at {address:#x}"
            check_field(obj, section, address, where)
            pair = relocations[i + 1] if i + 1 < len(relocations) else (0, 0)
            if (kind, length, pcrel) != (GENERIC_RELOC_LOCAL_SECTDIFF, 2, 0):
                fail(path, f"{where}: scattered {'pc-relative' if pcrel else 'absolute'} {reloc_name(kind)} "
                     f"({1 << length} bytes)", EXPECTED_RELOCATIONS)
            if pair[0] & R_SCATTERED == 0 or (pair[0] >> 24) & 0xF != GENERIC_RELOC_PAIR:
                fail(path, f"{where}: GENERIC_RELOC_LOCAL_SECTDIFF not followed by a GENERIC_RELOC_PAIR",
                     EXPECTED_RELOCATIONS)
            # The field holds target - pic_base as the object laid them out;
            # each end moves with the section it lies in.
            field = struct.unpack_from("<i", section["bytes"], address)[0]
            moved = field + moved_by(obj, value, layout, where) - moved_by(obj, pair[1], layout, where)
            struct.pack_into("<i", out, base + address, moved)
            i += 2
            continue
        address = word
        symbolnum, pcrel = value & 0xFFFFFF, (value >> 24) & 1
        length, extern, kind = (value >> 25) & 3, (value >> 27) & 1, value >> 28
        where = f"{section['name']} relocation at {address:#x}"
        check_field(obj, section, address, where)
        if (kind, pcrel, length, extern) != (GENERIC_RELOC_VANILLA, 1, 2, 1):
            described = (f"{'pc-relative' if pcrel else 'absolute'} {reloc_name(kind)} "
                         f"({'extern' if extern else 'section-based'}, {1 << length} bytes)")
            if not pcrel:
                described += ", which would need a text relocation"
            fail(path, f"{where}: {described}", EXPECTED_RELOCATIONS)
        if symbolnum >= len(obj["symbols"]):
            fail(path, f"{where}: symbol index {symbolnum}", f"expected one of the {len(obj['symbols'])} symbols")
        sym = obj["symbols"][symbolnum]
        # A pc-relative field holds addend - (address after the field), in the object's addresses.
        field = struct.unpack_from("<i", section["bytes"], address)[0]
        if field + section["addr"] + address + 4 != 0:
            fail(path, f"{where}: call to {sym['name']} with an addend", "expected a call to the symbol itself")
        target = target_address(obj, sym, layout, definitions)
        struct.pack_into("<i", out, base + address, target - (base + address + 4))
        i += 1


def reloc_name(kind):
    return RELOC_NAMES[kind] if kind < len(RELOC_NAMES) else f"relocation type {kind}"


def check_field(obj, section, address, where):
    if address + 4 > section["size"]:
        fail(obj["path"], f"{where}: the field lies outside the section ({section['size']:#x} bytes)",
             "expected a 4-byte field inside the section")


def moved_by(obj, address, layout, where):
    """How far the input section holding an object address moved in the output."""
    for s in obj["sections"]:
        if s["addr"] <= address < s["addr"] + s["size"]:
            return layout["placed"][id(s)] - s["addr"]
    fail(obj["path"], f"{where}: address {address:#x} lies in no section", "expected an address inside a section")


def target_address(obj, sym, layout, definitions):
    if sym["defined"]:
        return symbol_address(layout, obj, sym)
    if sym["name"] in definitions:
        return symbol_address(layout, *definitions[sym["name"]])
    return layout["stubs"][sym["name"]]


# --- Writing: one function per table -----------------------------------------

def write_sections(out, objects, layout, definitions):
    """Copies every input section to its place and applies its relocations."""
    for section in layout["sections"]:
        for piece in section["pieces"]:
            out[layout["placed"][id(piece)]:layout["placed"][id(piece)] + piece["size"]] = piece["bytes"]
    for obj in objects:
        for piece in obj["sections"]:
            relocate(obj, piece, layout, definitions, out)


def write_stubs(out, layout):
    for name, stub in layout["stubs"].items():
        pic_base = stub + 5
        out[stub:stub + STUB_SIZE] = b"\xe8\0\0\0\0\x58\xff\xa0" + \
            struct.pack("<i", layout["pointers"][name] - pic_base)


def symbol_table(objects, layout, definitions, export, imports):
    """Returns [(name, n_type, n_sect, n_desc, n_value)]: locals by address, the
    export, then the imports by name."""
    locals_ = []
    for obj in objects:
        for sym in obj["symbols"]:
            if sym["defined"] and sym["name"] != export:
                locals_.append((symbol_address(layout, obj, sym), sym["name"], output_section_index(layout, obj, sym)))
    table = [(name, N_SECT, sect, 0, address) for address, name, sect in sorted(locals_)]
    obj, sym = definitions[export]
    table.append((export, N_SECT | N_EXT, output_section_index(layout, obj, sym), 0, symbol_address(layout, obj, sym)))
    table += [(name, N_UNDF | N_EXT, 0, LIBRARY_ORDINAL_1, 0) for name in imports]
    return table


def write_symbol_table(out, offset, table, string_offsets):
    for i, (name, ntype, sect, desc, value) in enumerate(table):
        struct.pack_into("<IBBhI", out, offset + i * NLIST_SIZE, string_offsets[name], ntype, sect, desc, value)


def write_indirect_table(out, offset, table, imports):
    # One entry per non-lazy pointer, in pointer order: the import's symbol index.
    first_import = len(table) - len(imports)
    for i in range(len(imports)):
        struct.pack_into("<I", out, offset + 4 * i, first_import + i)


def string_table(table):
    """Returns (bytes, name -> offset). Offset 0 is the empty name."""
    strings, offsets = bytearray(b"\0"), {}
    for name, *_ in table:
        offsets[name] = len(strings)
        strings += name.encode("latin-1") + b"\0"
    return bytes(strings.ljust(align(len(strings), 4), b"\0")), offsets


def write_load_commands(out, layout, install_name, versions, minimum, table, imports, linkedit):
    sections, text_end, data_end = layout["sections"], layout["text_end"], layout["data_end"]
    r_x, rw_, r__ = 5, 3, 1
    commands = bytearray()
    commands += segment("__TEXT", 0, text_end, 0, text_end, r_x, len(sections))
    for s in sections:
        commands += section_header(s["key"], s["addr"], s["size"], s["addr"], s["align"],
                                   ACCEPTED_SECTIONS[s["key"]], 0)
    commands += segment("__DATA", text_end, PAGE, text_end, PAGE, rw_, 1)
    commands += section_header(("__DATA", "__nl_symbol_ptr"), text_end, 4 * len(imports), text_end, 4,
                               S_NON_LAZY_SYMBOL_POINTERS, 0)
    commands += segment("__LINKEDIT", data_end, align(linkedit["size"], PAGE), data_end, linkedit["size"], r__, 0)
    commands += dylib_command(LC_ID_DYLIB, install_name, 1, *versions)
    # Compatibility version 1.0.0: dyld accepts any libSystem.B.
    commands += dylib_command(LC_LOAD_DYLIB, LIBSYSTEM, 2, 1 << 16, 1 << 16)
    commands += struct.pack("<6I", LC_SYMTAB, 24, linkedit["symoff"], len(table),
                            linkedit["stroff"], linkedit["strsize"])
    nlocal = len(table) - 1 - len(imports)
    commands += struct.pack("<20I", LC_DYSYMTAB, 80, 0, nlocal, nlocal, 1, nlocal + 1, len(imports),
                            0, 0, 0, 0, 0, 0, linkedit["indirectoff"], len(imports), 0, 0, 0, 0)
    # Built without an SDK: the SDK field names the minimum, as building
    # against that release's SDK would.
    commands += struct.pack("<4I", LC_VERSION_MIN_MACOSX, 16, minimum, minimum)
    commands += struct.pack("<2I", LC_UUID, 24) + bytes(16)  # filled in last, from the content
    assert len(commands) == layout["commands_size"]
    flags = MH_NOUNDEFS | MH_DYLDLINK | MH_TWOLEVEL | MH_NO_REEXPORTED_DYLIBS
    out[0:HEADER_SIZE] = struct.pack("<7I", MH_MAGIC, CPU_TYPE_I386, CPU_SUBTYPE_I386_ALL, MH_DYLIB,
                                     len(load_command_sizes(install_name, len(sections))), len(commands), flags)
    out[HEADER_SIZE:HEADER_SIZE + len(commands)] = commands
    return HEADER_SIZE + len(commands) - 16  # where the UUID goes


def segment(name, vmaddr, vmsize, fileoff, filesize, prot, nsects):
    return struct.pack("<2I16s8I", LC_SEGMENT, SEGMENT_SIZE + SECTION_SIZE * nsects, padded(name, 16),
                       vmaddr, vmsize, fileoff, filesize, prot, prot, nsects, 0)


def section_header(key, addr, size, offset, alignment, flags, reserved1):
    return struct.pack("<16s16s9I", padded(key[1], 16), padded(key[0], 16), addr, size, offset,
                       alignment.bit_length() - 1, 0, 0, flags, reserved1, 0)


def dylib_command(cmd, name, timestamp, current, compatibility):
    size = align(24 + len(name) + 1, 4)
    return struct.pack("<6I", cmd, size, 24, timestamp, current, compatibility) + padded(name, size - 24)


def packed_version(option, text):
    """X[.Y[.Z]] as Mach-O packs it: X in 16 bits, Y and Z in 8 bits each."""
    parts = text.split(".")
    limits = (0xFFFF, 0xFF, 0xFF)
    if not 1 <= len(parts) <= 3 or not all(p.isdigit() and int(p) <= top for p, top in zip(parts, limits)):
        fail(option, f"version '{text}'", "expected X[.Y[.Z]] with X at most 65535, Y and Z at most 255")
    numbers = [int(p) for p in parts] + [0] * (3 - len(parts))
    return numbers[0] << 16 | numbers[1] << 8 | numbers[2]


def write_uuid(out, offset):
    # An MD5 of the file with the UUID still zero, marked as a version 3 UUID.
    uuid = bytearray(hashlib.md5(out).digest())
    uuid[6] = (uuid[6] & 0x0F) | 0x30
    uuid[8] = (uuid[8] & 0x3F) | 0x80
    out[offset:offset + 16] = uuid


# --- Driver ------------------------------------------------------------------

def link(paths, export, allowed_imports, versions, minimum, output):
    objects = []
    for path in paths:
        try:
            objects.append(read_object(path))
        except (struct.error, ValueError, IndexError) as error:
            fail(path, f"malformed Mach-O ({error})", "expected a well-formed Mach-O i386 object")
    definitions, imports = resolve(objects, export, set(allowed_imports))
    install_name = os.path.basename(output)
    layout = lay_out(objects, imports, install_name)
    table = symbol_table(objects, layout, definitions, export, imports)
    strings, string_offsets = string_table(table)

    symoff = layout["data_end"]
    indirectoff = symoff + NLIST_SIZE * len(table)
    stroff = indirectoff + 4 * len(imports)
    linkedit = {"symoff": symoff, "indirectoff": indirectoff, "stroff": stroff, "strsize": len(strings),
                "size": stroff + len(strings) - symoff}

    out = bytearray(stroff + len(strings))  # the non-lazy pointers stay zero until dyld binds them
    uuid_offset = write_load_commands(out, layout, install_name, versions, minimum, table, imports, linkedit)
    write_sections(out, objects, layout, definitions)
    write_stubs(out, layout)
    write_symbol_table(out, symoff, table, string_offsets)
    write_indirect_table(out, indirectoff, table, imports)
    out[stroff:stroff + len(strings)] = strings
    write_uuid(out, uuid_offset)
    with open(output, "wb") as f:
        f.write(out)


def main():
    parser = argparse.ArgumentParser(description="Links Mach-O i386 objects into a dylib.")
    parser.add_argument("--export", required=True)
    parser.add_argument("--import", dest="imports", action="append", default=[])
    parser.add_argument("--current-version", required=True)
    parser.add_argument("--compatibility-version", required=True)
    parser.add_argument("--macos-version-min", required=True)
    parser.add_argument("-o", dest="output", required=True)
    parser.add_argument("objects", nargs="+")
    args = parser.parse_args()
    try:
        versions = (packed_version("--current-version", args.current_version),
                    packed_version("--compatibility-version", args.compatibility_version))
        minimum = packed_version("--macos-version-min", args.macos_version_min)
        link(args.objects, args.export, args.imports, versions, minimum, args.output)
    except LinkError as error:
        print(f"link_dylib: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"link_dylib: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
