// What the Mach-O loader takes from the file of its own architecture
// (darwin_<arch>.cpp): which slice it runs, and the entry points it binds the
// dylib's libSystem imports to. Those follow Darwin's calling convention where
// it differs from Linux's, and call the shared bodies below.
#ifndef NATIVEFLUSH_DARWIN_STAND_INS_H
#define NATIVEFLUSH_DARWIN_STAND_INS_H

#include <stdint.h>

struct StandIn { const char* name; void (*entry)(); };

extern const uint32_t DARWIN_CPU_TYPE;
extern const StandIn DARWIN_STAND_INS[];
extern const int DARWIN_STAND_IN_COUNT;

extern "C" {
// open(2), fsync(2) and close(2) on Linux; open insists on O_RDONLY alone,
// since Darwin's other flags have other values.
int darwin_open(const char* path, int flags, ...);
int darwin_fsync(int fd);
int darwin_close(int fd);
// The library's printf: a format with one %s, and the path. darwin_printf
// takes them as Linux passes variadic arguments, which i386 and x86_64 share.
int darwin_print_path(const char* format, const char* path);
int darwin_printf(const char* format, ...);
// The loader binds every lazy pointer before the first call, so the binder
// that ld64.lld's stubs fall back on must never be reached.
void darwin_stub_binder();
}

// The path the stand-in JNIEnv handed out last, the one a message must carry.
const char* last_borrowed_path();

// Stops the harness: the dylib called a stand-in in a way Darwin would not take.
[[noreturn]] void refuse_call(const char* what);
// The same, for a call of DARWIN_STAND_INS[which] with the stack not 16-byte
// aligned, as Darwin on `arch` requires at every call.
[[noreturn]] void refuse_misaligned_call(int which, const char* arch);

#endif
