// The DLL's entry point. The library is linked without MinGW's C runtime
// start-up code, which would import a few dozen functions the library never
// uses; the Windows loader still calls an entry point on attach and detach.
// There is nothing to prepare or release, so it only lets the load succeed.
// WINAPI makes it stdcall on i386, as the loader calls it.
#include <windows.h>

extern "C" BOOL WINAPI nativeflush_dll_entry(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
