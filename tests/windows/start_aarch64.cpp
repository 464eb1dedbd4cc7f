// Start-up code for the arm64 Windows harness, in place of the MinGW C
// runtime that Debian 12 lacks for arm64: thread_local, the static
// constructors, main's arguments, and msvcrt's exit, which flushes stdio.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv);

extern "C" {
struct StartupInfo { int new_mode; };
int __cdecl __getmainargs(int* argc, char*** argv, char*** env, int expand_wildcards, StartupInfo* info);

// thread_local, emulated (-femulated-tls): Wine 8's DLLs are Linux code, to
// which x18 is an ordinary register, so it may come back from any call into
// Wine changed, and native TLS finds the thread's block through x18, where
// Windows keeps the thread's TEB. Each variable gets a TLS slot, allocated
// on first use, holding the thread's copy.
struct EmulatedTls {
  size_t size, align;
  DWORD_PTR slot;  // the TLS index plus one; 0 until allocated
  const void* initial;
};

void* __emutls_get_address(EmulatedTls* variable) {
  if (variable->slot == 0) {
    const DWORD_PTR slot = TlsAlloc() + 1;
    if (__sync_val_compare_and_swap(&variable->slot, 0, slot) != 0) TlsFree(slot - 1);
  }
  void* copy = TlsGetValue(variable->slot - 1);
  if (copy == nullptr) {
    copy = calloc(1, variable->size);
    if (variable->initial != nullptr) memcpy(copy, variable->initial, variable->size);
    TlsSetValue(variable->slot - 1, copy);
  }
  return copy;
}

// -1, the constructors, 0: lld makes the list from the .ctors sections.
extern void (*__CTOR_LIST__[])();
}

// stdio.h's stdout and stderr call __acrt_iob_func, which msvcrt.dll lacks;
// MinGW's runtime makes it from __iob_func, as this does.
static FILE* __cdecl iob(unsigned index) { return &__iob_func()[index]; }

extern "C" {
FILE* (__cdecl* __imp___acrt_iob_func)(unsigned) = iob;

// Wine 8's msvcrt is Linux code, which reads a va_list in Linux's layout, not
// in Windows' (a pointer to the arguments), so a va_list cannot be handed to
// it: the arguments go to _snprintf one by one instead, the first eight, of
// pointer size, as every caller here passes.
static int format(char* buffer, size_t size, const char* format, va_list arguments) {
  void* const* w = reinterpret_cast<void* const*>(arguments);
  return _snprintf(buffer, size, format, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
}

// snprintf, as stdio.h defines it without MinGW's own printf.
int __cdecl __ms_vsnprintf(char* buffer, size_t size, const char* format_string, va_list arguments) {
  return format(buffer, size, format_string, arguments);
}

// Each line in one write: msvcrt's own fprintf writes an unbuffered stream
// piece by piece, each piece a WriteFile, which Wine's relay trace would
// then split.
int __cdecl fprintf(FILE* file, const char* format_string, ...) {
  char line[1024] = "";  // under a page: no stack probe, which lld would need from libgcc
  va_list arguments;
  va_start(arguments, format_string);
  const int length = format(line, sizeof line - 1, format_string, arguments);
  va_end(arguments);
  return fputs(line, file) < 0 ? -1 : length;
}

void mainCRTStartup() {
  int argc;
  char** argv;
  char** env;
  StartupInfo info = {0};
  __getmainargs(&argc, &argv, &env, 0, &info);
  // Unbuffered, as a C runtime's stderr is: the relay check reads the
  // harness's lines in order with Wine's trace.
  setvbuf(stderr, nullptr, _IONBF, 0);
  for (void (**constructor)() = __CTOR_LIST__ + 1; *constructor != nullptr; ++constructor) (*constructor)();
  exit(main(argc, argv));
}
}
