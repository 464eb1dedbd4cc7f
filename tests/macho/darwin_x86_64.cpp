// libSystem stand-ins for the x86_64 slice, run natively. Darwin x86_64 passes
// arguments as Linux does (System V), variadic ones included, so the shared
// bodies serve as they are.
#include "darwin_stand_ins.h"

const uint32_t DARWIN_CPU_TYPE = 0x01000007;  // CPU_TYPE_X86_64
const StandIn DARWIN_STAND_INS[] = {
  {"_open", reinterpret_cast<void (*)()>(darwin_open)},
  {"_fsync", reinterpret_cast<void (*)()>(darwin_fsync)},
  {"_close", reinterpret_cast<void (*)()>(darwin_close)},
  {"_printf", reinterpret_cast<void (*)()>(darwin_printf)},
  {"dyld_stub_binder", darwin_stub_binder},
};
const int DARWIN_STAND_IN_COUNT = sizeof DARWIN_STAND_INS / sizeof DARWIN_STAND_INS[0];
