// Windows x86-64 and AArch64 each have one calling convention, so the export
// is called as it is.
#include "call_export.h"

ForceDirectories call_export(FARPROC symbol, const char*) {
  // Through void (*)(), the one function type GCC lets any other convert to.
  return reinterpret_cast<ForceDirectories>(reinterpret_cast<void (*)()>(symbol));
}
