// On Windows i386 a JVM calls a native method as stdcall (JNICALL), which
// leaves it to the callee to remove its 12 bytes of arguments. A cdecl build
// leaves them on the stack, and the JVM's frame is then 12 bytes off after
// every call; nothing else would show it here, as the harness's own frame
// survives that. So every call goes through a push and call written out by
// hand, which compares the stack pointer before the pushes with the one after
// the return.
#include "call_export.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

FARPROC exported;
const char* library_path;

jboolean JNICALL checked_call(JNIEnv* env, jobject receiver, jobjectArray paths) {
  const uint32_t arguments[3] = {reinterpret_cast<uint32_t>(env), reinterpret_cast<uint32_t>(receiver),
                                 reinterpret_cast<uint32_t>(paths)};
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
      : [function] "r"(exported), [arguments] "r"(arguments)
      : "ecx", "edx", "memory", "cc");
  if (after != before) {
    fprintf(stderr,
            "%s: %s returned with the stack pointer %d bytes below where it was before its arguments were pushed; "
            "expected 0, as a stdcall function removes its 12 bytes of arguments\n",
            library_path, NATIVEFLUSH_EXPORT, static_cast<int>(before - after));
    exit(3);
  }
  return static_cast<jboolean>(result);
}

}  // namespace

ForceDirectories call_export(FARPROC symbol, const char* library) {
  exported = symbol;
  library_path = library;
  return checked_call;
}
