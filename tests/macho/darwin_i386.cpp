// libSystem stand-ins for the Mac OS X i386 dylib, under qemu-i386. Each
// entry point checks the caller's stack before anything touches it: at a call
// Darwin i386 keeps the stack pointer a multiple of 16, so on entry, with the
// return address pushed, esp + 4 is. Then it jumps on to the shared body, with
// the stack exactly as the dylib left it.
#include "darwin_stand_ins.h"

extern "C" {
__attribute__((regparm(1), noreturn, force_align_arg_pointer, visibility("hidden")))
void darwin_stack_misaligned(int which) {
  refuse_misaligned_call(which, "i386");
}
void darwin_open_entry();
void darwin_fsync_entry();
void darwin_close_entry();
void darwin_printf_entry();
}

#define DARWIN_ENTRY(entry, which, target)                           \
  asm(".pushsection .text\n"                                        \
      ".globl " entry "\n.hidden " entry "\n" entry ":\n"           \
      "  lea 4(%esp), %eax\n"                                       \
      "  test $15, %eax\n"                                          \
      "  jz " target "\n"                                           \
      "  mov $" #which ", %eax\n"                                   \
      "  jmp darwin_stack_misaligned\n"                             \
      ".popsection\n")
DARWIN_ENTRY("darwin_open_entry", 0, "darwin_open");
DARWIN_ENTRY("darwin_fsync_entry", 1, "darwin_fsync");
DARWIN_ENTRY("darwin_close_entry", 2, "darwin_close");
DARWIN_ENTRY("darwin_printf_entry", 3, "darwin_printf");

const uint32_t DARWIN_CPU_TYPE = 7;  // CPU_TYPE_I386
const StandIn DARWIN_STAND_INS[] = {
  {"_open$UNIX2003", darwin_open_entry},
  {"_fsync", darwin_fsync_entry},
  {"_close", darwin_close_entry},
  {"_printf", darwin_printf_entry},
};
const int DARWIN_STAND_IN_COUNT = sizeof DARWIN_STAND_INS / sizeof DARWIN_STAND_INS[0];
