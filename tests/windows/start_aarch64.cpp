// Start-up code for the arm64 Windows harness, in place of the MinGW C
// runtime that Debian 12 lacks for arm64. Wine 8's arm64 DLLs are Linux code:
// to it x18, where Windows keeps the thread's TEB, is an ordinary register,
// and a va_list has Linux's layout, not Windows' (a pointer to the arguments).
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv);

// stdio.h's stdout and stderr call __acrt_iob_func, which msvcrt.dll lacks.
static FILE* __cdecl iob(unsigned index) { return &__iob_func()[index]; }

// No va_list goes to Wine's msvcrt: the first eight arguments go one by one,
// each of pointer size, as every caller here passes them.
static int format(char* buffer, size_t size, const char* format, va_list arguments) {
  void* const* w = reinterpret_cast<void* const*>(arguments);
  return _snprintf(buffer, size, format, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
}

extern "C" {
int __cdecl __getmainargs(int* argc, char*** argv, char*** env, int expand_wildcards, int* new_mode);
extern void (*__CTOR_LIST__[])();  // -1, the constructors, 0: made by lld
FILE* (__cdecl* __imp___acrt_iob_func)(unsigned) = iob;

// thread_local, emulated (-femulated-tls) in TLS slots, since native TLS
// finds the thread's block through x18, which a call into Wine may change.
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

int __cdecl __ms_vsnprintf(char* buffer, size_t size, const char* format_string, va_list arguments) {
  return format(buffer, size, format_string, arguments);
}

// Each line in one write: msvcrt's fprintf writes an unbuffered stream piece
// by piece, and Wine's relay trace would split the line between the pieces.
int __cdecl fprintf(FILE* file, const char* format_string, ...) {
  char line[1024] = "";  // under a page, so no stack probe is needed
  va_list arguments;
  va_start(arguments, format_string);
  const int length = format(line, sizeof line - 1, format_string, arguments);
  va_end(arguments);
  return fputs(line, file) < 0 ? -1 : length;
}

void mainCRTStartup() {
  int argc, new_mode = 0;
  char **argv, **env;
  __getmainargs(&argc, &argv, &env, 0, &new_mode);
  setvbuf(stderr, nullptr, _IONBF, 0);  // as a C runtime's is, so lines keep their order with the trace
  for (void (**constructor)() = __CTOR_LIST__ + 1; *constructor != nullptr; ++constructor) (*constructor)();
  exit(main(argc, argv));  // msvcrt's exit flushes stdio
}
}
