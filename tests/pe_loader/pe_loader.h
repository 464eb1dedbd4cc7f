/* A small loader for i386 PE DLLs, so that the Windows i386 deliverable's own
   machine code can run in a Linux i386 process (under qemu-i386 here, where
   Wine's 32-bit side cannot start). It does what the Windows loader does for
   a DLL of this shape and nothing more:

   - maps the headers and sections at their relative addresses in one
     read-write-execute block wherever mmap puts it;
   - applies the base relocations for that address (HIGHLOW, the only kind
     an i386 DLL has);
   - binds every import, by DLL and function name, to a stand-in given by
     the caller; an import without a stand-in, or by ordinal, refuses the DLL;
   - finds an export by its exact name in the export name table.

   It does not call the entry point or check page protections; the caller
   decides what to call, and how. Every refusal is one line on stderr naming
   the file, what was wrong and what was expected. */
#ifndef NATIVEFLUSH_PE_LOADER_H
#define NATIVEFLUSH_PE_LOADER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct PeStandIn {
  const char* dll;  /* compared without regard to case, as Windows does */
  const char* name;
  void* address;
};

struct PeModule {
  const char* path;
  unsigned char* base;
  uint32_t size;
  uint32_t entry_point; /* relative address; 0 when the DLL has none */
};

/* Loads the DLL at path into *module. Returns 0 after reporting on stderr. */
int pe_load(const char* path, const struct PeStandIn* stand_ins, int count, struct PeModule* module);

/* The address of the export named exactly name, or NULL after reporting the
   names the export table does hold. */
void* pe_export(const struct PeModule* module, const char* name);

#ifdef __cplusplus
}
#endif

#endif
