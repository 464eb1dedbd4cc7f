// Linked into a library made wrong on purpose, beside the deliverable's own
// sources: two imports of the kinds an ABI check might overlook, which the
// ELF check must report: the C library's stdout, data rather than a
// function, and a weak reference to a function.
#include <stdio.h>

extern "C" __attribute__((weak)) int nativeflush_weak_import();

extern "C" FILE* nativeflush_stdout() { return nativeflush_weak_import != nullptr ? stdout : nullptr; }
