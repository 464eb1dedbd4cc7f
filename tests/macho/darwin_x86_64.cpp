// libSystem stand-ins for the x86_64 slice, run natively. Darwin x86_64 passes
// arguments as Linux does (System V), variadic ones included, so the shared
// bodies serve as they are. As on i386, each entry point first checks the
// caller's stack: Darwin x86_64 keeps it 16-byte aligned at every call, so on
// entry, with the return address pushed, rsp + 8 is. The check uses r11 alone,
// which no argument travels in (al carries printf's vector register count).
#include "darwin_stand_ins.h"

extern "C" {
__attribute__((noreturn, visibility("hidden"))) void darwin_stack_misaligned(int which) {
  refuse_misaligned_call(which, "x86_64");
}
void darwin_open_entry();
void darwin_fsync_entry();
void darwin_close_entry();
void darwin_printf_entry();
}

#define DARWIN_ENTRY(entry, which, target)                           \
  asm(".pushsection .text\n"                                        \
      ".globl " entry "\n.hidden " entry "\n" entry ":\n"           \
      "  lea 8(%rsp), %r11\n"                                       \
      "  test $15, %r11b\n"                                         \
      "  jz " target "\n"                                           \
      "  mov $" #which ", %edi\n"                                   \
      "  and $-16, %rsp\n"                                          \
      "  call darwin_stack_misaligned\n"                            \
      ".popsection\n")
DARWIN_ENTRY("darwin_open_entry", 0, "darwin_open");
DARWIN_ENTRY("darwin_fsync_entry", 1, "darwin_fsync");
DARWIN_ENTRY("darwin_close_entry", 2, "darwin_close");
DARWIN_ENTRY("darwin_printf_entry", 3, "darwin_printf");

const uint32_t DARWIN_CPU_TYPE = 0x01000007;  // CPU_TYPE_X86_64
const StandIn DARWIN_STAND_INS[] = {
  {"_open", darwin_open_entry},
  {"_fsync", darwin_fsync_entry},
  {"_close", darwin_close_entry},
  {"_printf", darwin_printf_entry},
  {"dyld_stub_binder", darwin_stub_binder},
};
const int DARWIN_STAND_IN_COUNT = sizeof DARWIN_STAND_INS / sizeof DARWIN_STAND_INS[0];
