// Harness for the Mac dylibs: does here, in a Linux process of the slice's
// own architecture, what dyld does for the file, then runs the case list
// through the export.
//   load_macho LIBRARY FIXTURE_ROOT CAPTURE_FILE
//
// It takes the slice of its own architecture from a universal file (or the
// file itself, if thin) and maps its segments at an address of its own
// choosing (the code must not care). Then, as dyld does:
// - for the classic i386 layout (mac32): binds every non-lazy pointer through
//   the indirect symbol table, and finds the export by binary search in the
//   sorted external symbols;
// - for the 64-bit layout that ld64.lld writes (mac64): applies the rebase
//   opcodes, binds the imports through the bind and lazy-bind opcodes of
//   LC_DYLD_INFO (all of them now, as dyld does at launch when told to bind
//   everything), and finds the export through the export trie.
// Each segment gets its own protection. Imports are bound to the Linux
// stand-ins of darwin_<arch>.cpp. It refuses anything it does not expect,
// naming the file, what was wrong and what was expected.
//
// Written in C style; it is C++ only to link with the shared case list.
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "cases.h"
#include "descriptors.h"
#include "darwin_stand_ins.h"
#include "stand_in_env.h"

namespace {

// --- Mach-O, as much as this loader reads -----------------------------------
const uint32_t FAT_MAGIC = 0xcafebabe, MH_MAGIC = 0xfeedface, MH_MAGIC_64 = 0xfeedfacf, MH_DYLIB = 6;
const uint32_t LC_REQ_DYLD = 0x80000000;
const uint32_t LC_SEGMENT = 0x1, LC_SYMTAB = 0x2, LC_DYSYMTAB = 0xb, LC_LOAD_DYLIB = 0xc, LC_SEGMENT_64 = 0x19,
               LC_DYLD_INFO = 0x22, LC_DYLD_INFO_ONLY = 0x22 | LC_REQ_DYLD;
const uint32_t SECTION_TYPE = 0xff, S_NON_LAZY_SYMBOL_POINTERS = 0x6, S_LAZY_SYMBOL_POINTERS = 0x7,
               S_SYMBOL_STUBS = 0x8;
const uint8_t N_STAB = 0xe0, N_TYPE = 0x0e, N_EXT = 0x01, N_UNDF = 0x0, N_SECT = 0xe;
const char LIBSYSTEM[] = "/usr/lib/libSystem.B.dylib";

struct MachHeader { uint32_t magic, cputype, cpusubtype, filetype, ncmds, sizeofcmds, flags; };
struct LoadCommand { uint32_t cmd, cmdsize; };
struct Segment32 {
  uint32_t cmd, cmdsize; char segname[16];
  uint32_t vmaddr, vmsize, fileoff, filesize, maxprot, initprot, nsects, flags;
};
struct Segment64 {
  uint32_t cmd, cmdsize; char segname[16];
  uint64_t vmaddr, vmsize, fileoff, filesize;
  uint32_t maxprot, initprot, nsects, flags;
};
struct Section32 {
  char sectname[16], segname[16];
  uint32_t addr, size, offset, align, reloff, nreloc, flags, reserved1, reserved2;
};
struct Symtab { uint32_t cmd, cmdsize, symoff, nsyms, stroff, strsize; };
struct Dysymtab {
  uint32_t cmd, cmdsize, ilocalsym, nlocalsym, iextdefsym, nextdefsym, iundefsym, nundefsym,
      tocoff, ntoc, modtaboff, nmodtab, extrefsymoff, nextrefsyms, indirectsymoff, nindirectsyms,
      extreloff, nextrel, locreloff, nlocrel;
};
struct DylibCommand { uint32_t cmd, cmdsize, name_offset, timestamp, current_version, compatibility_version; };
struct DyldInfo {
  uint32_t cmd, cmdsize, rebase_off, rebase_size, bind_off, bind_size, weak_bind_off, weak_bind_size,
      lazy_bind_off, lazy_bind_size, export_off, export_size;
};
struct Nlist32 { uint32_t n_strx; uint8_t n_type, n_sect; int16_t n_desc; uint32_t n_value; };

const char* library_path;

[[noreturn]] void refuse(const char* what, const char* expected) {
  fprintf(stderr, "load_macho: %s: %s; expected %s\n", library_path, what, expected);
  exit(2);
}

uint32_t big_endian(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// --- The image ---------------------------------------------------------------
struct Segment {
  char name[16];
  uint64_t vmaddr, vmsize, fileoff, filesize;
  uint32_t initprot, nsects;
  const Section32* sections;  // for 32-bit segments only
};

struct Image {
  const uint8_t* file;  // the slice
  size_t file_size;
  bool is_64;
  uint8_t* base;  // where vm address 0 is mapped
  Segment segments[8];
  int segment_count;
  const Symtab* symtab;
  const Dysymtab* dysymtab;
  const DyldInfo* dyld_info;
  int dylib_count;
};

// The bytes at a file offset that lies in __LINKEDIT, read through the mapping as dyld does.
const uint8_t* linkedit(const Image& image, uint64_t fileoff, uint64_t size, const char* what) {
  for (int i = 0; i < image.segment_count; ++i) {
    const Segment& s = image.segments[i];
    if (strncmp(s.name, "__LINKEDIT", 16) == 0 && fileoff >= s.fileoff && size <= s.filesize &&
        fileoff - s.fileoff <= s.filesize - size)
      return image.base + s.vmaddr + (fileoff - s.fileoff);
  }
  refuse(what, "a table inside __LINKEDIT");
}

// The slice for this loader's architecture: from a universal file, or the file itself.
void select_slice(Image& image) {
  if (image.file_size < 8 || big_endian(image.file) != FAT_MAGIC) return;
  const uint32_t count = big_endian(image.file + 4);
  for (uint32_t i = 0; i < count && 8 + 20 * (i + 1) <= image.file_size; ++i) {
    const uint8_t* arch = image.file + 8 + 20 * i;
    const uint32_t offset = big_endian(arch + 8), size = big_endian(arch + 12);
    if (big_endian(arch) != DARWIN_CPU_TYPE) continue;
    if (offset > image.file_size || size > image.file_size - offset) refuse("a slice runs past the file", "it inside");
    image.file += offset;
    image.file_size = size;
    return;
  }
  refuse("the universal file has no slice for this loader's architecture", "one");
}

void add_segment(Image& image, const Segment& s) {
  if (image.segment_count == 8) refuse("more than 8 segments", "__TEXT, __DATA_CONST, __DATA and __LINKEDIT");
  if (s.vmaddr % 4096 || s.fileoff % 4096 || s.filesize > s.vmsize || s.vmsize > (1u << 24) ||
      s.vmaddr > (1u << 24) || s.fileoff > image.file_size || s.filesize > image.file_size - s.fileoff)
    refuse("a segment is not page aligned or runs past the file", "page-aligned segments inside the file");
  image.segments[image.segment_count++] = s;
}

void read_load_commands(Image& image) {
  const MachHeader* header = reinterpret_cast<const MachHeader*>(image.file);
  if (image.file_size < 32 || (header->magic != MH_MAGIC && header->magic != MH_MAGIC_64) ||
      header->cputype != DARWIN_CPU_TYPE || header->filetype != MH_DYLIB)
    refuse("not a Mach-O dylib of this loader's architecture", "an MH_DYLIB with its cputype");
  image.is_64 = header->magic == MH_MAGIC_64;
  const size_t header_size = image.is_64 ? 32 : sizeof *header;
  if (header->sizeofcmds > image.file_size - header_size) refuse("load commands run past the file", "them inside it");
  size_t offset = header_size;
  for (uint32_t i = 0; i < header->ncmds; ++i) {
    const LoadCommand* command = reinterpret_cast<const LoadCommand*>(image.file + offset);
    if (command->cmdsize < sizeof *command || offset + command->cmdsize > header_size + header->sizeofcmds)
      refuse("a load command runs past sizeofcmds", "each inside it");
    if (command->cmd == LC_SEGMENT && !image.is_64) {
      const Segment32* s = reinterpret_cast<const Segment32*>(command);
      Segment segment = {{}, s->vmaddr, s->vmsize, s->fileoff, s->filesize, s->initprot, s->nsects,
                         reinterpret_cast<const Section32*>(s + 1)};
      memcpy(segment.name, s->segname, 16);
      add_segment(image, segment);
    } else if (command->cmd == LC_SEGMENT_64 && image.is_64) {
      const Segment64* s = reinterpret_cast<const Segment64*>(command);
      Segment segment = {{}, s->vmaddr, s->vmsize, s->fileoff, s->filesize, s->initprot, s->nsects, nullptr};
      memcpy(segment.name, s->segname, 16);
      add_segment(image, segment);
    } else if (command->cmd == LC_SYMTAB) {
      image.symtab = reinterpret_cast<const Symtab*>(command);
    } else if (command->cmd == LC_DYSYMTAB) {
      image.dysymtab = reinterpret_cast<const Dysymtab*>(command);
    } else if (command->cmd == LC_DYLD_INFO || command->cmd == LC_DYLD_INFO_ONLY) {
      image.dyld_info = reinterpret_cast<const DyldInfo*>(command);
    } else if (command->cmd == LC_LOAD_DYLIB) {
      const DylibCommand* dylib = reinterpret_cast<const DylibCommand*>(command);
      const char* name = reinterpret_cast<const char*>(command) + dylib->name_offset;
      const uint32_t room = command->cmdsize - dylib->name_offset;
      if (command->cmdsize < sizeof *dylib || dylib->name_offset >= command->cmdsize ||
          strnlen(name, room) == room || strcmp(name, LIBSYSTEM) != 0)
        refuse("a dylib other than libSystem is loaded", LIBSYSTEM);
      ++image.dylib_count;
    } else if (command->cmd & LC_REQ_DYLD) {
      refuse("a load command that dyld must understand and this loader does not", "none");
    }
    offset += command->cmdsize;
  }
  if (image.symtab == nullptr || image.dysymtab == nullptr) refuse("no LC_SYMTAB or LC_DYSYMTAB", "both");
  if (image.is_64 && image.dyld_info == nullptr) refuse("a 64-bit dylib without LC_DYLD_INFO", "ld64.lld's layout");
  if (image.dylib_count != 1) refuse("libSystem is not the one dylib loaded", "a single LC_LOAD_DYLIB");
}

void map_segments(Image& image) {
  uint64_t end = 0;
  for (int i = 0; i < image.segment_count; ++i)
    if (image.segments[i].vmaddr + image.segments[i].vmsize > end)
      end = image.segments[i].vmaddr + image.segments[i].vmsize;
  void* base = mmap(nullptr, end, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) refuse("cannot reserve the address space", "mmap to succeed");
  image.base = static_cast<uint8_t*>(base);
  for (int i = 0; i < image.segment_count; ++i)
    memcpy(image.base + image.segments[i].vmaddr, image.file + image.segments[i].fileoff,
           image.segments[i].filesize);
}

void protect_segments(const Image& image) {
  for (int i = 0; i < image.segment_count; ++i) {
    const Segment& s = image.segments[i];
    // VM_PROT_READ, _WRITE and _EXECUTE have the values of PROT_READ, _WRITE and _EXEC.
    if (mprotect(image.base + s.vmaddr, s.vmsize, static_cast<int>(s.initprot & 7)) != 0)
      refuse("a segment's protection cannot be applied", "mprotect to succeed");
  }
}

void (*stand_in(const char* name))() {
  for (int i = 0; i < DARWIN_STAND_IN_COUNT; ++i)
    if (strcmp(DARWIN_STAND_INS[i].name, name) == 0) return DARWIN_STAND_INS[i].entry;
  fprintf(stderr, "load_macho: %s: import %s\n", library_path, name);
  refuse("an import libSystem would have to provide beyond those allowed", "one the stand-ins provide");
}

// --- The classic i386 layout: symbol tables -----------------------------------
const Nlist32* symbol(const Image& image, uint32_t index) {
  if (index >= image.symtab->nsyms) refuse("a symbol index past the symbol table", "an index inside it");
  const Nlist32* symbols = reinterpret_cast<const Nlist32*>(
      linkedit(image, image.symtab->symoff, image.symtab->nsyms * sizeof(Nlist32), "the symbol table"));
  return &symbols[index];
}

const char* symbol_name(const Image& image, const Nlist32* nlist) {
  const char* strings = reinterpret_cast<const char*>(
      linkedit(image, image.symtab->stroff, image.symtab->strsize, "the string table"));
  if (nlist->n_strx >= image.symtab->strsize ||
      strnlen(strings + nlist->n_strx, image.symtab->strsize - nlist->n_strx) == image.symtab->strsize - nlist->n_strx)
    refuse("a symbol name outside the string table", "a NUL-terminated name inside it");
  return strings + nlist->n_strx;
}

// Binds one non-lazy pointer to the stand-in for the import it names.
void bind_pointer(const Image& image, uint32_t* pointer, uint32_t indirect_index) {
  if (indirect_index >= image.dysymtab->nindirectsyms) refuse("a pointer past the indirect table", "one entry each");
  const uint32_t* indirect = reinterpret_cast<const uint32_t*>(linkedit(
      image, image.dysymtab->indirectsymoff, image.dysymtab->nindirectsyms * 4, "the indirect symbol table"));
  const uint32_t index = indirect[indirect_index];
  if (index < image.dysymtab->iundefsym || index - image.dysymtab->iundefsym >= image.dysymtab->nundefsym)
    refuse("a non-lazy pointer bound to a symbol that is not undefined", "an import");
  const Nlist32* nlist = symbol(image, index);
  const char* name = symbol_name(image, nlist);
  if ((nlist->n_type & (N_STAB | N_TYPE | N_EXT)) != (N_UNDF | N_EXT) || ((nlist->n_desc >> 8) & 0xff) != 1) {
    fprintf(stderr, "load_macho: %s: import %s\n", library_path, name);
    refuse("an import is not an undefined external from library ordinal 1", "libSystem, ordinal 1");
  }
  *pointer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(stand_in(name)));
}

void bind_non_lazy_pointers(const Image& image) {
  if (image.dysymtab->nlocrel || image.dysymtab->nextrel)
    refuse("local or external relocations", "none: position-independent code and bound pointers only");
  for (int i = 0; i < image.segment_count; ++i) {
    const Segment& s = image.segments[i];
    for (uint32_t j = 0; j < s.nsects; ++j) {
      const Section32& section = s.sections[j];
      const uint32_t type = section.flags & SECTION_TYPE;
      if (section.nreloc) refuse("a section with relocations", "none");
      if (type == S_LAZY_SYMBOL_POINTERS || type == S_SYMBOL_STUBS)
        refuse("lazy pointers or symbol stubs", "non-lazy pointers only");
      if (type != S_NON_LAZY_SYMBOL_POINTERS) continue;
      if (section.addr < s.vmaddr || section.size > s.vmsize || section.addr - s.vmaddr > s.vmsize - section.size)
        refuse("a pointer section outside its segment", "it inside");
      uint32_t* pointers = reinterpret_cast<uint32_t*>(image.base + section.addr);
      for (uint32_t k = 0; k < section.size / 4; ++k) bind_pointer(image, &pointers[k], section.reserved1 + k);
    }
  }
}

// dyld's lookup in a classic image: binary search of the external defined
// symbols, which the linker must have sorted by name.
uint64_t find_symbol(const Image& image, const char* name) {
  uint32_t low = image.dysymtab->iextdefsym, high = low + image.dysymtab->nextdefsym;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    const Nlist32* nlist = symbol(image, middle);
    const int order = strcmp(name, symbol_name(image, nlist));
    if (order == 0) {
      if ((nlist->n_type & (N_STAB | N_TYPE | N_EXT)) != (N_SECT | N_EXT)) refuse("the export is not defined", "N_SECT|N_EXT");
      return nlist->n_value;
    }
    if (order < 0) high = middle; else low = middle + 1;
  }
  fprintf(stderr, "load_macho: %s: no export named %s\n", library_path, name);
  exit(2);
}

// --- The 64-bit layout: LC_DYLD_INFO opcodes and the export trie --------------
struct Reader { const uint8_t *at, *end; const char* what; };

uint64_t read_uleb(Reader& r) {
  uint64_t value = 0;
  for (int shift = 0; r.at < r.end && shift < 64; shift += 7) {
    const uint8_t byte = *r.at++;
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) return value;
  }
  refuse(r.what, "a ULEB128 number inside it");
}

int64_t read_sleb(Reader& r) {
  int64_t value = 0;
  for (int shift = 0; r.at < r.end && shift < 64;) {
    const uint8_t byte = *r.at++;
    value |= static_cast<int64_t>(byte & 0x7f) << shift;
    shift += 7;
    if (!(byte & 0x80)) return shift < 64 && (byte & 0x40) ? value | -(static_cast<int64_t>(1) << shift) : value;
  }
  refuse(r.what, "an SLEB128 number inside it");
}

const char* read_string(Reader& r) {
  const char* s = reinterpret_cast<const char*>(r.at);
  const size_t length = strnlen(s, static_cast<size_t>(r.end - r.at));
  if (length == static_cast<size_t>(r.end - r.at)) refuse(r.what, "NUL-terminated names inside it");
  r.at += length + 1;
  return s;
}

Reader dyld_info_table(const Image& image, uint32_t offset, uint32_t size, const char* what) {
  const uint8_t* at = size ? linkedit(image, offset, size, what) : nullptr;
  return Reader{at, at + size, what};
}

// The pointer at segment + offset, which must lie inside that segment's memory.
uint64_t* pointer_at(const Image& image, uint64_t segment, uint64_t offset, const char* what) {
  if (segment >= static_cast<uint64_t>(image.segment_count) || image.segments[segment].vmsize < 8 ||
      offset > image.segments[segment].vmsize - 8)
    refuse(what, "addresses inside a segment");
  return reinterpret_cast<uint64_t*>(image.base + image.segments[segment].vmaddr + offset);
}

// Opcode values and masks from <mach-o/loader.h>; both tables share this layout.
const uint8_t OPCODE_MASK = 0xf0, IMMEDIATE_MASK = 0x0f, TYPE_POINTER = 1;

// Adds the image's load address to every pointer the rebase opcodes name.
void rebase(const Image& image) {
  Reader r = dyld_info_table(image, image.dyld_info->rebase_off, image.dyld_info->rebase_size, "the rebase opcodes");
  uint64_t segment = 0, offset = 0;
  const uint64_t slide = reinterpret_cast<uintptr_t>(image.base);
  while (r.at < r.end) {
    const uint8_t opcode = *r.at & OPCODE_MASK, immediate = *r.at & IMMEDIATE_MASK;
    ++r.at;
    uint64_t count = 0, skip = 0;
    switch (opcode) {
      case 0x00: return;  // REBASE_OPCODE_DONE
      case 0x10:          // SET_TYPE_IMM
        if (immediate != TYPE_POINTER) refuse("a rebase of a kind other than a pointer", "REBASE_TYPE_POINTER");
        continue;
      case 0x20: segment = immediate; offset = read_uleb(r); continue;  // SET_SEGMENT_AND_OFFSET_ULEB
      case 0x30: offset += read_uleb(r); continue;                      // ADD_ADDR_ULEB
      case 0x40: offset += immediate * 8; continue;                     // ADD_ADDR_IMM_SCALED
      case 0x50: count = immediate; break;                              // DO_REBASE_IMM_TIMES
      case 0x60: count = read_uleb(r); break;                           // DO_REBASE_ULEB_TIMES
      case 0x70: count = 1; skip = read_uleb(r); break;                 // DO_REBASE_ADD_ADDR_ULEB
      case 0x80: count = read_uleb(r); skip = read_uleb(r); break;      // DO_REBASE_ULEB_TIMES_SKIPPING_ULEB
      default: refuse("an unknown rebase opcode", "those of <mach-o/loader.h>");
    }
    for (uint64_t i = 0; i < count; ++i, offset += 8 + skip)
      *pointer_at(image, segment, offset, "a rebase") += slide;
  }
}

// Binds the pointers that the bind or lazy-bind opcodes name to the stand-ins.
// Lazy-bind opcodes are a run of entries, each ending in BIND_OPCODE_DONE.
void bind(const Image& image, Reader r, bool lazy) {
  uint64_t segment = 0, offset = 0, ordinal = 0;
  int64_t addend = 0;
  const char* name = nullptr;
  while (r.at < r.end) {
    const uint8_t opcode = *r.at & OPCODE_MASK, immediate = *r.at & IMMEDIATE_MASK;
    ++r.at;
    uint64_t count = 0, skip = 0;
    switch (opcode) {
      case 0x00: if (lazy) continue; return;  // BIND_OPCODE_DONE
      case 0x10: ordinal = immediate; continue;          // SET_DYLIB_ORDINAL_IMM
      case 0x20: ordinal = read_uleb(r); continue;       // SET_DYLIB_ORDINAL_ULEB
      case 0x30: refuse("a bind to a special ordinal (this image, the main program, a flat lookup)",
                        "libSystem, ordinal 1");        // SET_DYLIB_SPECIAL_IMM
      case 0x40: name = read_string(r); continue;       // SET_SYMBOL_TRAILING_FLAGS_IMM
      case 0x50:                                        // SET_TYPE_IMM
        if (immediate != TYPE_POINTER) refuse("a bind of a kind other than a pointer", "BIND_TYPE_POINTER");
        continue;
      case 0x60: addend = read_sleb(r); continue;                     // SET_ADDEND_SLEB
      case 0x70: segment = immediate; offset = read_uleb(r); continue;  // SET_SEGMENT_AND_OFFSET_ULEB
      case 0x80: offset += read_uleb(r); continue;                    // ADD_ADDR_ULEB
      case 0x90: count = 1; break;                                    // DO_BIND
      case 0xa0: count = 1; skip = read_uleb(r); break;               // DO_BIND_ADD_ADDR_ULEB
      case 0xb0: count = 1; skip = immediate * 8; break;              // DO_BIND_ADD_ADDR_IMM_SCALED
      case 0xc0: count = read_uleb(r); skip = read_uleb(r); break;    // DO_BIND_ULEB_TIMES_SKIPPING_ULEB
      default: refuse("an unknown bind opcode", "those of <mach-o/loader.h>");
    }
    if (name == nullptr) refuse("a bind without a symbol", "BIND_OPCODE_SET_SYMBOL_TRAILING_FLAGS_IMM first");
    if (ordinal != 1) {
      fprintf(stderr, "load_macho: %s: import %s\n", library_path, name);
      refuse("an import bound to a library other than ordinal 1", "libSystem, ordinal 1");
    }
    const uint64_t target = reinterpret_cast<uintptr_t>(stand_in(name)) + static_cast<uint64_t>(addend);
    for (uint64_t i = 0; i < count; ++i, offset += 8 + skip) *pointer_at(image, segment, offset, r.what) = target;
  }
}

// dyld's lookup in an image with an export trie: follow the edges that
// spell the name; the node where it ends holds the export's address.
uint64_t find_export(const Image& image, const char* name) {
  Reader trie = dyld_info_table(image, image.dyld_info->export_off, image.dyld_info->export_size, "the export trie");
  Reader node = trie;
  const char* rest = name;
  for (int depth = 0; node.at != nullptr && depth < 256; ++depth) {
    const uint64_t terminal_size = read_uleb(node);
    if (*rest == '\0') {
      if (terminal_size == 0) break;
      const uint64_t flags = read_uleb(node);
      if (flags != 0) refuse("the export is not a plain function or data address", "EXPORT_SYMBOL_FLAGS_KIND_REGULAR");
      return read_uleb(node);
    }
    if (terminal_size > static_cast<uint64_t>(node.end - node.at)) refuse(node.what, "nodes inside it");
    node.at += terminal_size;
    const uint8_t children = node.at < node.end ? *node.at++ : 0;
    const uint8_t* next = nullptr;
    for (uint8_t i = 0; i < children && next == nullptr; ++i) {
      const char* edge = read_string(node);
      const uint64_t child = read_uleb(node);
      if (strncmp(rest, edge, strlen(edge)) != 0) continue;
      if (child >= static_cast<uint64_t>(trie.end - trie.at)) refuse(node.what, "child offsets inside it");
      rest += strlen(edge);
      next = trie.at + child;
    }
    node.at = next;
  }
  fprintf(stderr, "load_macho: %s: no export named %s in the export trie\n", library_path, name);
  exit(2);
}

const uint8_t* read_file(const char* path, size_t* size) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) refuse("cannot be opened", "a readable file");
  static uint8_t bytes[1 << 20];
  *size = fread(bytes, 1, sizeof bytes, f);
  const bool complete = feof(f) && !ferror(f);
  fclose(f);
  if (!complete) refuse("cannot be read whole", "a file under 1 MiB");
  return bytes;
}

}  // namespace

// --- What every architecture's stand-ins share ---------------------------------
void refuse_call(const char* what) {
  fprintf(stderr, "load_macho: %s: %s\n", library_path, what);
  _exit(3);
}

void refuse_misaligned_call(int which, const char* arch) {
  char what[160];
  snprintf(what, sizeof what, "%s called with a stack not 16-byte aligned; Darwin %s requires it at every call",
           DARWIN_STAND_INS[which].name + 1, arch);  // the C name, without its leading underscore
  refuse_call(what);
}

const char* last_borrowed_path() {
  for (int i = stand_in_event_count() - 1; i >= 0; --i)
    if (stand_in_events()[i].kind == EVENT_CHARS) return stand_in_events()[i].chars;
  return nullptr;
}

extern "C" {
int darwin_open(const char* path, int flags, ...) {
  if (flags != 0) refuse_call("open called with flags other than O_RDONLY (0) alone");
  return open(path, O_RDONLY);
}
int darwin_fsync(int fd) { return fsync(fd); }
int darwin_close(int fd) { return close(fd); }
int darwin_print_path(const char* format, const char* path) { return printf(format, path); }
int darwin_printf(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const char* path = va_arg(arguments, const char*);
  va_end(arguments);
  return darwin_print_path(format, path);
}
void darwin_stub_binder() { refuse_call("dyld_stub_binder called; expected every lazy pointer bound"); }
}

int main(int argc, char** argv) {
  if (!begin_harness(argc, argv)) return 2;
  library_path = argv[1];
  Image image = {};
  image.file = read_file(library_path, &image.file_size);
  select_slice(image);
  read_load_commands(image);
  map_segments(image);
  uint64_t address;
  if (image.is_64) {
    rebase(image);
    const DyldInfo& info = *image.dyld_info;
    bind(image, dyld_info_table(image, info.bind_off, info.bind_size, "the bind opcodes"), false);
    bind(image, dyld_info_table(image, info.lazy_bind_off, info.lazy_bind_size, "the lazy-bind opcodes"), true);
    if (info.weak_bind_size) refuse("weak binds", "none: libSystem's four functions are bound plainly");
    address = find_export(image, NATIVEFLUSH_EXPORT);
  } else {
    bind_non_lazy_pointers(image);
    address = find_symbol(image, NATIVEFLUSH_EXPORT);
  }
  protect_segments(image);

  ForceDirectories force = reinterpret_cast<ForceDirectories>(image.base + address);
  return run_cases_counting_descriptors(force, argv[2]) == 0 ? 0 : 1;
}
