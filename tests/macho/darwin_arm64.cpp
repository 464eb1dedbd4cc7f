// libSystem stand-ins for the arm64 slice, under qemu-aarch64. Darwin arm64
// differs from Linux in a way that matters here: it passes every variadic
// argument on the stack, never in a register. printf's path is its first
// variadic argument, so the stand-in declares eight register arguments, of
// which it reads only x1, and takes the path from the ninth, which AAPCS64
// puts at the caller's stack pointer, where Darwin puts the path.
#include "darwin_stand_ins.h"

namespace {

int printf_from_stack(const char* format, const char* x1, long, long, long, long, long, long, const char* on_stack) {
  const char* path = last_borrowed_path();
  if (on_stack != path)
    refuse_call(x1 == path ? "printf's path is in x1, as Linux passes a variadic argument; "
                             "expected it on the stack, as Darwin arm64 passes it"
                           : "printf's path is not on the stack, where Darwin arm64 passes a variadic argument");
  return darwin_print_path(format, on_stack);
}

}  // namespace

const uint32_t DARWIN_CPU_TYPE = 0x0100000c;  // CPU_TYPE_ARM64
const StandIn DARWIN_STAND_INS[] = {
  {"_open", reinterpret_cast<void (*)()>(darwin_open)},
  {"_fsync", reinterpret_cast<void (*)()>(darwin_fsync)},
  {"_close", reinterpret_cast<void (*)()>(darwin_close)},
  {"_printf", reinterpret_cast<void (*)()>(printf_from_stack)},
  {"dyld_stub_binder", darwin_stub_binder},
};
const int DARWIN_STAND_IN_COUNT = sizeof DARWIN_STAND_INS / sizeof DARWIN_STAND_INS[0];
