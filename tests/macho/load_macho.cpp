// Harness for the Mac OS X i386 dylib: does here, in an i386 Linux process
// under qemu-i386, what classic dyld does for that file, then runs the case
// list through the export.
//   load_macho LIBRARY FIXTURE_ROOT CAPTURE_FILE
//
// Like dyld it maps the segments at an address of its own choosing (the code
// must not care), binds every non-lazy pointer through the indirect symbol
// table, finds the export by binary search in the sorted external symbols and
// gives each segment its own protection. It binds to Linux stand-ins for the
// four libSystem functions, which check the Darwin rule that the stack is
// 16-byte aligned at every call. It refuses anything it does not expect from
// our linker, naming the file, what was wrong and what was expected.
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

namespace {

// --- Mach-O, as much as this loader reads -----------------------------------
const uint32_t MH_MAGIC = 0xfeedface, CPU_TYPE_I386 = 7, MH_DYLIB = 6;
const uint32_t LC_REQ_DYLD = 0x80000000;
const uint32_t LC_SEGMENT = 0x1, LC_SYMTAB = 0x2, LC_DYSYMTAB = 0xb, LC_LOAD_DYLIB = 0xc;
const uint32_t SECTION_TYPE = 0xff, S_NON_LAZY_SYMBOL_POINTERS = 0x6, S_LAZY_SYMBOL_POINTERS = 0x7,
               S_SYMBOL_STUBS = 0x8;
const uint8_t N_STAB = 0xe0, N_TYPE = 0x0e, N_EXT = 0x01, N_UNDF = 0x0, N_SECT = 0xe;
const char LIBSYSTEM[] = "/usr/lib/libSystem.B.dylib";

struct MachHeader { uint32_t magic, cputype, cpusubtype, filetype, ncmds, sizeofcmds, flags; };
struct LoadCommand { uint32_t cmd, cmdsize; };
struct Segment {
  uint32_t cmd, cmdsize; char segname[16];
  uint32_t vmaddr, vmsize, fileoff, filesize, maxprot, initprot, nsects, flags;
};
struct Section {
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
struct Nlist { uint32_t n_strx; uint8_t n_type, n_sect; int16_t n_desc; uint32_t n_value; };

const char* library_path;

[[noreturn]] void refuse(const char* what, const char* expected) {
  fprintf(stderr, "load_macho: %s: %s; expected %s\n", library_path, what, expected);
  exit(2);
}

// --- libSystem stand-ins -----------------------------------------------------
// Each entry point checks the caller's stack before anything touches it: at a
// call the stack pointer is a multiple of 16, so on entry, with the return
// address pushed, esp + 4 is. Then it jumps on to the C stand-in, with the
// stack exactly as the dylib left it.
extern "C" __attribute__((regparm(1), noreturn, force_align_arg_pointer, visibility("hidden")))
void darwin_stack_misaligned(int which) {
  static const char* const names[] = {"open$UNIX2003", "fsync", "close", "printf"};
  fprintf(stderr, "load_macho: %s called with a stack not 16-byte aligned; Darwin i386 requires it at every call\n",
          names[which]);
  _exit(3);
}

#define DARWIN_ENTRY(entry, which, target)                           \
  asm(".pushsection .text\n"                                        \
      ".globl " entry "\n.hidden " entry "\n" entry ":\n"           \
      "  lea 4(%esp), %eax\n"                                       \
      "  test $15, %eax\n"                                          \
      "  jz " target "\n"                                           \
      "  mov $" #which ", %eax\n"                                   \
      "  jmp darwin_stack_misaligned\n"                             \
      ".popsection\n")

extern "C" {
__attribute__((visibility("hidden"))) int darwin_open(const char* path, int flags, ...) {
  // Darwin's open flags differ from Linux's above the access mode; the library
  // must ask for O_RDONLY (0) and nothing more.
  if (flags != 0) {
    fprintf(stderr, "load_macho: open$UNIX2003 called with flags %#x; expected O_RDONLY (0) alone\n", flags);
    _exit(3);
  }
  return open(path, O_RDONLY);
}
__attribute__((visibility("hidden"))) int darwin_fsync(int fd) { return fsync(fd); }
__attribute__((visibility("hidden"))) int darwin_close(int fd) { return close(fd); }
__attribute__((visibility("hidden"))) int darwin_printf(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int written = vprintf(format, arguments);
  va_end(arguments);
  return written;
}
void darwin_open_entry();
void darwin_fsync_entry();
void darwin_close_entry();
void darwin_printf_entry();
}
DARWIN_ENTRY("darwin_open_entry", 0, "darwin_open");
DARWIN_ENTRY("darwin_fsync_entry", 1, "darwin_fsync");
DARWIN_ENTRY("darwin_close_entry", 2, "darwin_close");
DARWIN_ENTRY("darwin_printf_entry", 3, "darwin_printf");

struct StandIn { const char* name; void (*entry)(); };
const StandIn STAND_INS[] = {
  {"_open$UNIX2003", darwin_open_entry},
  {"_fsync", darwin_fsync_entry},
  {"_close", darwin_close_entry},
  {"_printf", darwin_printf_entry},
};

// --- The image ---------------------------------------------------------------
struct Image {
  const uint8_t* file;
  size_t file_size;
  uint8_t* base;  // where vm address 0 is mapped
  const Segment* segments[8];
  int segment_count;
  const Symtab* symtab;
  const Dysymtab* dysymtab;
  int dylib_count;
};

// The bytes at a file offset that lies in __LINKEDIT, read through the mapping as dyld does.
const uint8_t* linkedit(const Image& image, uint32_t fileoff, uint32_t size, const char* what) {
  for (int i = 0; i < image.segment_count; ++i) {
    const Segment* s = image.segments[i];
    if (strncmp(s->segname, "__LINKEDIT", 16) == 0 && fileoff >= s->fileoff &&
        size <= s->filesize && fileoff - s->fileoff <= s->filesize - size)
      return image.base + s->vmaddr + (fileoff - s->fileoff);
  }
  refuse(what, "a table inside __LINKEDIT");
}

void read_load_commands(Image& image) {
  const MachHeader* header = reinterpret_cast<const MachHeader*>(image.file);
  if (image.file_size < sizeof *header || header->magic != MH_MAGIC || header->cputype != CPU_TYPE_I386 ||
      header->filetype != MH_DYLIB)
    refuse("not a Mach-O i386 dylib", "magic 0xfeedface, cputype 7, filetype MH_DYLIB");
  if (header->sizeofcmds > image.file_size - sizeof *header) refuse("load commands run past the file", "them inside it");
  size_t offset = sizeof *header;
  for (uint32_t i = 0; i < header->ncmds; ++i) {
    const LoadCommand* command = reinterpret_cast<const LoadCommand*>(image.file + offset);
    if (command->cmdsize < sizeof *command || offset + command->cmdsize > sizeof *header + header->sizeofcmds)
      refuse("a load command runs past sizeofcmds", "each inside it");
    if (command->cmd == LC_SEGMENT) {
      const Segment* s = reinterpret_cast<const Segment*>(command);
      if (image.segment_count == 8) refuse("more than 8 segments", "__TEXT, __DATA and __LINKEDIT");
      if (s->vmaddr % 4096 || s->fileoff % 4096 || s->filesize > s->vmsize || s->fileoff > image.file_size ||
          s->filesize > image.file_size - s->fileoff)
        refuse("a segment is not page aligned or runs past the file", "page-aligned segments inside the file");
      image.segments[image.segment_count++] = s;
    } else if (command->cmd == LC_SYMTAB) {
      image.symtab = reinterpret_cast<const Symtab*>(command);
    } else if (command->cmd == LC_DYSYMTAB) {
      image.dysymtab = reinterpret_cast<const Dysymtab*>(command);
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
  if (image.dylib_count != 1) refuse("libSystem is not the one dylib loaded", "a single LC_LOAD_DYLIB");
}

void map_segments(Image& image) {
  uint32_t end = 0;
  for (int i = 0; i < image.segment_count; ++i)
    if (image.segments[i]->vmaddr + image.segments[i]->vmsize > end)
      end = image.segments[i]->vmaddr + image.segments[i]->vmsize;
  void* base = mmap(nullptr, end, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) refuse("cannot reserve the address space", "mmap to succeed");
  image.base = static_cast<uint8_t*>(base);
  for (int i = 0; i < image.segment_count; ++i)
    memcpy(image.base + image.segments[i]->vmaddr, image.file + image.segments[i]->fileoff,
           image.segments[i]->filesize);
}

const Nlist* symbol(const Image& image, uint32_t index) {
  if (index >= image.symtab->nsyms) refuse("a symbol index past the symbol table", "an index inside it");
  const Nlist* symbols = reinterpret_cast<const Nlist*>(
      linkedit(image, image.symtab->symoff, image.symtab->nsyms * sizeof(Nlist), "the symbol table"));
  return &symbols[index];
}

const char* symbol_name(const Image& image, const Nlist* nlist) {
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
  const Nlist* nlist = symbol(image, index);
  const char* name = symbol_name(image, nlist);
  if ((nlist->n_type & (N_STAB | N_TYPE | N_EXT)) != (N_UNDF | N_EXT) || ((nlist->n_desc >> 8) & 0xff) != 1) {
    fprintf(stderr, "load_macho: %s: import %s\n", library_path, name);
    refuse("an import is not an undefined external from library ordinal 1", "libSystem, ordinal 1");
  }
  for (const StandIn& s : STAND_INS) {
    if (strcmp(s.name, name) == 0) {
      *pointer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(s.entry));
      return;
    }
  }
  fprintf(stderr, "load_macho: %s: import %s\n", library_path, name);
  refuse("an import libSystem would have to provide beyond the four", "_open$UNIX2003, _fsync, _close or _printf");
}

void bind_non_lazy_pointers(const Image& image) {
  if (image.dysymtab->nlocrel || image.dysymtab->nextrel)
    refuse("local or external relocations", "none: position-independent code and bound pointers only");
  for (int i = 0; i < image.segment_count; ++i) {
    const Segment* s = image.segments[i];
    const Section* sections = reinterpret_cast<const Section*>(s + 1);
    for (uint32_t j = 0; j < s->nsects; ++j) {
      const Section& section = sections[j];
      const uint32_t type = section.flags & SECTION_TYPE;
      if (section.nreloc) refuse("a section with relocations", "none");
      if (type == S_LAZY_SYMBOL_POINTERS || type == S_SYMBOL_STUBS)
        refuse("lazy pointers or symbol stubs", "non-lazy pointers only");
      if (type != S_NON_LAZY_SYMBOL_POINTERS) continue;
      if (section.addr < s->vmaddr || section.size > s->vmsize || section.addr - s->vmaddr > s->vmsize - section.size)
        refuse("a pointer section outside its segment", "it inside");
      uint32_t* pointers = reinterpret_cast<uint32_t*>(image.base + section.addr);
      for (uint32_t k = 0; k < section.size / 4; ++k) bind_pointer(image, &pointers[k], section.reserved1 + k);
    }
  }
}

void protect_segments(const Image& image) {
  for (int i = 0; i < image.segment_count; ++i) {
    const Segment* s = image.segments[i];
    // VM_PROT_READ, _WRITE and _EXECUTE have the values of PROT_READ, _WRITE and _EXEC.
    if (mprotect(image.base + s->vmaddr, s->vmsize, static_cast<int>(s->initprot & 7)) != 0)
      refuse("a segment's protection cannot be applied", "mprotect to succeed");
  }
}

// dyld's lookup in a classic image: binary search of the external defined
// symbols, which the linker must have sorted by name.
uint32_t find_export(const Image& image, const char* name) {
  uint32_t low = image.dysymtab->iextdefsym, high = low + image.dysymtab->nextdefsym;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    const Nlist* nlist = symbol(image, middle);
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

int main(int argc, char** argv) {
  if (!begin_harness(argc, argv)) return 2;
  library_path = argv[1];
  Image image = {};
  image.file = read_file(library_path, &image.file_size);
  read_load_commands(image);
  map_segments(image);
  bind_non_lazy_pointers(image);
  protect_segments(image);
  const uint32_t address = find_export(image, NATIVEFLUSH_EXPORT);

  ForceDirectories force = reinterpret_cast<ForceDirectories>(image.base + address);
  return run_cases(force, argv[2], "\n", NEEDS_PROC_FLUSH_FAILURE | NEEDS_LONG_PATH_REFUSED) == 0 ? 0 : 1;
}
