/* The i386 PE loader described in pe_loader.h. Offsets are those of the PE
   format (PE32, i386); every relative address read from the file is checked
   against the mapped image before it is followed. */
#define _DEFAULT_SOURCE /* MAP_ANONYMOUS */
#include "pe_loader.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/mman.h>

enum {
  MACHINE_I386 = 0x14c,
  CHARACTERISTIC_RELOCS_STRIPPED = 0x0001,
  CHARACTERISTIC_DLL = 0x2000,
  MAGIC_PE32 = 0x10b,
  DIRECTORY_EXPORT = 0,
  DIRECTORY_IMPORT = 1,
  DIRECTORY_BASE_RELOCATION = 5,
  RELOCATION_ABSOLUTE = 0, /* padding */
  RELOCATION_HIGHLOW = 3,
};

static int refuse(const char* path, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  fprintf(stderr, "%s: ", path);
  vfprintf(stderr, format, arguments);
  fputc('\n', stderr);
  va_end(arguments);
  return 0;
}

static uint16_t read16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }
static uint32_t read32(const unsigned char* p) { return (uint32_t)read16(p) | (uint32_t)read16(p + 2) << 16; }

/* Whether [offset, offset + length) lies within size bytes. */
static int within(uint32_t offset, uint32_t length, uint32_t size) {
  return offset <= size && length <= size - offset;
}

/* A NUL-terminated name at a relative address, or NULL if it runs off the image. */
static const char* image_string(const struct PeModule* m, uint32_t rva) {
  if (rva >= m->size || memchr(m->base + rva, '\0', m->size - rva) == NULL) return NULL;
  return (const char*)m->base + rva;
}

static unsigned char* read_file(const char* path, uint32_t* size) {
  FILE* f = fopen(path, "rb");
  if (f == NULL) return NULL;
  unsigned char* bytes = NULL;
  long length = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
  if (length > 0 && fseek(f, 0, SEEK_SET) == 0 && (bytes = malloc((size_t)length)) != NULL &&
      fread(bytes, 1, (size_t)length, f) != (size_t)length) {
    free(bytes);
    bytes = NULL;
  }
  fclose(f);
  *size = (uint32_t)length;
  return bytes;
}

static int map_sections(struct PeModule* m, const unsigned char* file, uint32_t file_size, uint32_t headers_size,
                        const unsigned char* sections, int count) {
  if (!within(0, headers_size, file_size) || headers_size > m->size)
    return refuse(m->path, "headers of %u bytes do not fit the file or the image", headers_size);
  memcpy(m->base, file, headers_size);
  for (int i = 0; i < count; ++i) {
    const unsigned char* s = sections + 40 * i;
    const uint32_t virtual_size = read32(s + 8), rva = read32(s + 12);
    const uint32_t raw_size = read32(s + 16), raw_offset = read32(s + 20);
    const uint32_t length = virtual_size != 0 && virtual_size < raw_size ? virtual_size : raw_size;
    if (!within(raw_offset, length, file_size) || !within(rva, length, m->size))
      return refuse(m->path, "section %.8s lies outside the file or the image", (const char*)s);
    memcpy(m->base + rva, file + raw_offset, length);
  }
  return 1;
}

static int relocate(struct PeModule* m, uint32_t preferred_base, const unsigned char* directory) {
  const uint32_t delta = (uint32_t)(uintptr_t)m->base - preferred_base;
  const uint32_t start = read32(directory), size = read32(directory + 4);
  if (size == 0) return 1; /* nothing in it depends on its address */
  if (!within(start, size, m->size)) return refuse(m->path, "base relocation table lies outside the image");
  for (uint32_t block = start; block + 8 <= start + size;) {
    const uint32_t page = read32(m->base + block), block_size = read32(m->base + block + 4);
    if (block_size < 8 || !within(block, block_size, start + size))
      return refuse(m->path, "base relocation block at 0x%x has size %u", block, block_size);
    for (uint32_t entry = block + 8; entry + 2 <= block + block_size; entry += 2) {
      const uint16_t value = read16(m->base + entry);
      const uint32_t type = value >> 12, target = page + (value & 0xfff);
      if (type == RELOCATION_ABSOLUTE) continue;
      if (type != RELOCATION_HIGHLOW)
        return refuse(m->path, "base relocation of type %u; expected %u (HIGHLOW)", type, RELOCATION_HIGHLOW);
      if (!within(target, 4, m->size)) return refuse(m->path, "base relocation at 0x%x lies outside the image", target);
      const uint32_t address = read32(m->base + target) + delta;
      memcpy(m->base + target, &address, 4);
    }
    block += block_size;
  }
  return 1;
}

static int bind_imports(struct PeModule* m, const unsigned char* directory, const struct PeStandIn* stand_ins,
                        int count) {
  for (uint32_t d = read32(directory);; d += 20) {
    if (!within(d, 20, m->size)) return refuse(m->path, "import directory runs off the image");
    const uint32_t lookup = read32(m->base + d), name_rva = read32(m->base + d + 12);
    const uint32_t bound = read32(m->base + d + 16);
    if (name_rva == 0 && bound == 0) return 1;
    const char* dll = image_string(m, name_rva);
    if (dll == NULL) return refuse(m->path, "import directory names no DLL");
    for (uint32_t i = 0;; ++i) {
      const uint32_t slot = (lookup != 0 ? lookup : bound) + 4 * i;
      if (!within(slot, 4, m->size) || !within(bound + 4 * i, 4, m->size))
        return refuse(m->path, "import table of %s runs off the image", dll);
      const uint32_t thunk = read32(m->base + slot);
      if (thunk == 0) break;
      if (thunk & 0x80000000u)
        return refuse(m->path, "imports ordinal %u from %s; expected imports by name", thunk & 0xffff, dll);
      const char* name = image_string(m, thunk + 2);
      if (name == NULL) return refuse(m->path, "an import name from %s lies outside the image", dll);
      int found = 0;
      for (int s = 0; s < count && !found; ++s) {
        if (strcasecmp(stand_ins[s].dll, dll) == 0 && strcmp(stand_ins[s].name, name) == 0) {
          const uint32_t address = (uint32_t)(uintptr_t)stand_ins[s].address;
          memcpy(m->base + bound + 4 * i, &address, 4);
          found = 1;
        }
      }
      if (!found) return refuse(m->path, "imports %s from %s; expected only functions the loader stands in for", name, dll);
    }
  }
}

/* The headers' view of a DLL in the file or in the mapped image. */
static const unsigned char* optional_header(const unsigned char* image) { return image + read32(image + 60) + 24; }
static const unsigned char* directory(const unsigned char* image, int index) {
  return optional_header(image) + 96 + 8 * index;
}

static int load(struct PeModule* m, const unsigned char* file, uint32_t file_size, const struct PeStandIn* stand_ins,
                int count) {
  const uint32_t pe = file_size >= 64 && file[0] == 'M' && file[1] == 'Z' ? read32(file + 60) : 0;
  if (pe == 0 || !within(pe, 24, file_size) || memcmp(file + pe, "PE\0\0", 4) != 0)
    return refuse(m->path, "no PE signature; expected a Windows DLL");
  const unsigned char* header = file + pe + 4;
  const uint16_t machine = read16(header), sections = read16(header + 2), optional_size = read16(header + 16);
  if (machine != MACHINE_I386) return refuse(m->path, "machine 0x%x; expected 0x%x (i386)", machine, MACHINE_I386);
  const uint16_t characteristics = read16(header + 18);
  if (!(characteristics & CHARACTERISTIC_DLL)) return refuse(m->path, "is not a DLL; expected one");
  if (characteristics & CHARACTERISTIC_RELOCS_STRIPPED)
    return refuse(m->path, "has its base relocations stripped; expected them, to load it at any address");
  const unsigned char* optional = optional_header(file);
  if (optional_size < 96 + 8 * (DIRECTORY_BASE_RELOCATION + 1) ||
      !within(pe + 24, optional_size + 40u * sections, file_size) || read16(optional) != MAGIC_PE32)
    return refuse(m->path, "no PE32 optional header with a base relocation directory; expected one");

  m->entry_point = read32(optional + 16);
  m->size = read32(optional + 56);
  void* base = mmap(NULL, m->size, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return refuse(m->path, "cannot map its %u bytes", m->size);
  m->base = base;
  if (!map_sections(m, file, file_size, read32(optional + 60), optional + optional_size, sections) ||
      !relocate(m, read32(optional + 28), directory(file, DIRECTORY_BASE_RELOCATION)) ||
      !bind_imports(m, directory(file, DIRECTORY_IMPORT), stand_ins, count))
    return 0;
  const unsigned char* exports = directory(file, DIRECTORY_EXPORT);
  if (m->entry_point >= m->size || !within(read32(exports), read32(exports + 4), m->size) || read32(exports + 4) < 40)
    return refuse(m->path, "entry point or export directory lies outside the image");
  return 1;
}

int pe_load(const char* path, const struct PeStandIn* stand_ins, int count, struct PeModule* module) {
  memset(module, 0, sizeof *module);
  module->path = path;
  uint32_t file_size = 0;
  unsigned char* file = read_file(path, &file_size);
  if (file == NULL) return refuse(path, "cannot be read");
  const int ok = load(module, file, file_size, stand_ins, count);
  free(file);
  return ok;
}

void* pe_export(const struct PeModule* m, const char* name) {
  const unsigned char* exports = directory(m->base, DIRECTORY_EXPORT);
  const uint32_t start = read32(exports), size = read32(exports + 4);
  const unsigned char* table = m->base + start;
  const uint32_t functions = read32(table + 20), names = read32(table + 24);
  const uint32_t function_rvas = read32(table + 28), name_rvas = read32(table + 32), ordinals = read32(table + 36);
  if (!within(function_rvas, 4 * functions, m->size) || !within(name_rvas, 4 * names, m->size) ||
      !within(ordinals, 2 * names, m->size)) {
    refuse(m->path, "export tables lie outside the image");
    return NULL;
  }
  for (uint32_t i = 0; i < names; ++i) {
    const char* export_name = image_string(m, read32(m->base + name_rvas + 4 * i));
    if (export_name == NULL || strcmp(export_name, name) != 0) continue;
    const uint16_t index = read16(m->base + ordinals + 2 * i);
    const uint32_t rva = index < functions ? read32(m->base + function_rvas + 4 * index) : 0;
    const int forwarder = rva >= start && rva - start < size; /* a name in another DLL, not code */
    if (rva == 0 || rva >= m->size || forwarder) {
      refuse(m->path, "export %s does not lead to code in the image; expected a function", name);
      return NULL;
    }
    return m->base + rva;
  }
  fprintf(stderr, "%s: no export named %s; the export table has:", m->path, name);
  for (uint32_t i = 0; i < names; ++i) {
    const char* export_name = image_string(m, read32(m->base + name_rvas + 4 * i));
    fprintf(stderr, " %s", export_name != NULL ? export_name : "(a name outside the image)");
  }
  fputc('\n', stderr);
  return NULL;
}
