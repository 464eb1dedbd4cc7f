// Harness for the Windows i386 deliverable, a Linux i386 program run under
// qemu-i386: loads the DLL with pe_loader, binds its four imports to the
// stand-ins below, calls its entry point, and runs the shared case list
// through the export found by its decorated name.
//   harness LIBRARY FIXTURE_ROOT CAPTURE_FILE
//
// Every call into the DLL goes through call_stdcall, which checks that the
// callee removed exactly its arguments from the stack, as stdcall requires;
// a cdecl build would leave 12 bytes behind and corrupt a Windows caller's
// stack. The stand-ins are Linux code called by Windows code, which keeps
// the stack only 4-byte aligned: the harness is built with -mstackrealign.
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "cases.h"
#include "pe_loader.h"

namespace {

typedef void* HANDLE;
typedef uint32_t DWORD;
typedef int BOOL;
#define WINAPI __attribute__((stdcall))
HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(-1);

const char* library_path;

[[noreturn]] void refuse(const char* what) {
  fprintf(stderr, "%s: %s\n", library_path, what);
  exit(3);
}

// Calls function(arguments[0], arguments[1], arguments[2]) and returns EAX.
// Refuses the DLL unless the call leaves the stack pointer where it was
// before the arguments were pushed.
uint32_t call_stdcall(void* function, const uint32_t (&arguments)[3], const char* name) {
  uint32_t result, before, after;
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "pushl 8(%[arguments])\n\t"
      "pushl 4(%[arguments])\n\t"
      "pushl (%[arguments])\n\t"
      "call *%[function]\n\t"
      "movl %%esp, %%edi\n\t"
      "movl %%esi, %%esp"
      : "=a"(result), "=&S"(before), "=&D"(after)
      : [function] "r"(function), [arguments] "r"(arguments)
      : "ecx", "edx", "memory", "cc");
  if (after != before) {
    char message[256];
    snprintf(message, sizeof message,
             "%s returned with the stack pointer %d bytes below where it was before its arguments were pushed; "
             "expected 0, as a stdcall function removes its 12 bytes of arguments",
             name, static_cast<int>(before - after));
    refuse(message);
  }
  return result;
}

// Handles are 4 * (fd + 1), multiples of 4 as on Windows, and never 0 or -1.
const int MAX_FD = 1024;
bool open_fds[MAX_FD];
int open_count;

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(4 * (fd + 1))); }

int fd_of(HANDLE handle, const char* function) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  const int fd = static_cast<int>(value / 4) - 1;
  if (value % 4 != 0 || fd < 0 || fd >= MAX_FD || !open_fds[fd]) {
    char message[160];
    snprintf(message, sizeof message, "%s got handle %p, which is not open; expected one CreateFileA gave", function,
             handle);
    refuse(message);
  }
  return fd;
}

// The stand-ins for the four imports, with the Win32 signatures.
HANDLE WINAPI create_file_a(const char* name, DWORD access, DWORD share, void* security, DWORD disposition,
                            DWORD flags, HANDLE template_file) {
  if (access != 0x40000000 || share != 7 || security != nullptr || disposition != 3 || flags != 0x02000000 ||
      template_file != nullptr) {
    char message[256];
    snprintf(message, sizeof message,
             "CreateFileA(path, 0x%x, %u, %p, %u, 0x%x, %p); expected (path, 0x40000000, 7, (nil), 3, 0x2000000, "
             "(nil))",
             access, share, security, disposition, flags, template_file);
    refuse(message);
  }
  // Linux opens no directory for writing; fsync needs only an open descriptor.
  const int fd = open(name, O_RDONLY);
  if (fd == -1) return INVALID_HANDLE_VALUE;
  if (fd >= MAX_FD) refuse("too many handles open at once");
  open_fds[fd] = true;
  ++open_count;
  return handle_of(fd);
}

// Windows promises only a non-zero result on success; 0x100 also catches a
// library that tests only the low byte of the BOOL.
BOOL WINAPI flush_file_buffers(HANDLE handle) {
  return fsync(fd_of(handle, "FlushFileBuffers")) == -1 ? 0 : 0x100;
}

BOOL WINAPI close_handle(HANDLE handle) {
  const int fd = fd_of(handle, "CloseHandle");
  close(fd);
  open_fds[fd] = false;
  --open_count;
  return 1;
}

// msvcrt's printf is cdecl; stdout here is the harness's captured one.
int printf_stand_in(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int written = vprintf(format, arguments);
  va_end(arguments);
  return written;
}

const PeStandIn STAND_INS[] = {
  {"KERNEL32.dll", "CreateFileA", reinterpret_cast<void*>(&create_file_a)},
  {"KERNEL32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&flush_file_buffers)},
  {"KERNEL32.dll", "CloseHandle", reinterpret_cast<void*>(&close_handle)},
  {"msvcrt.dll", "printf", reinterpret_cast<void*>(&printf_stand_in)},
};

void* exported;

jboolean JNICALL force_through_stdcall(JNIEnv* env, jobject receiver, jobjectArray paths) {
  const uint32_t arguments[3] = {reinterpret_cast<uint32_t>(env), reinterpret_cast<uint32_t>(receiver),
                                 reinterpret_cast<uint32_t>(paths)};
  return static_cast<jboolean>(call_stdcall(exported, arguments, NATIVEFLUSH_EXPORT));
}

}  // namespace

int main(int argc, char** argv) {
  if (!begin_harness(argc, argv)) return 2;
  library_path = argv[1];
  PeModule module;
  if (!pe_load(library_path, STAND_INS, sizeof STAND_INS / sizeof STAND_INS[0], &module)) return 2;
  exported = pe_export(&module, NATIVEFLUSH_EXPORT);
  if (exported == nullptr) return 2;
  if (module.entry_point != 0) {
    // As Windows does on load: DllMain(instance, DLL_PROCESS_ATTACH, nullptr).
    const uint32_t arguments[3] = {reinterpret_cast<uint32_t>(module.base), 1, 0};
    if (call_stdcall(module.base + module.entry_point, arguments, "the entry point") == 0)
      refuse("the entry point returned FALSE; expected TRUE, or Windows refuses to load the DLL");
  }
  const int failed = run_cases(force_through_stdcall, argv[2], "\n", NEEDS_PROC_FLUSH_FAILURE | NEEDS_LONG_PATH_REFUSED);
  if (open_count != 0) {
    fprintf(stderr, "%s: %d handles left open after the cases; expected every one closed\n", library_path, open_count);
    return 1;
  }
  return failed == 0 ? 0 : 1;
}
