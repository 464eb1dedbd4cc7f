// The native method as the harness calls it: through a check of the calling
// convention where the architecture has more than one.
#ifndef NATIVEFLUSH_CALL_EXPORT_H
#define NATIVEFLUSH_CALL_EXPORT_H

#include <windows.h>

#include "cases.h"

// The function to call for the export at `symbol` of the DLL at `library`.
ForceDirectories call_export(FARPROC symbol, const char* library);

#endif
