# How the library's own sources are compiled, for every deliverable. Tests
# that build a variant of the library on purpose use the same list, so that
# the variant differs only in what it sets out to change.
set(NATIVEFLUSH_COMPILE_OPTIONS
  -O2 -Wall -Wextra -Werror -fvisibility=hidden
  # No C++ runtime: no exceptions, no RTTI, and no C++ library headers.
  -fno-exceptions -fno-rtti -nostdinc++
  # Each of these would add an import beyond the four calls the code makes.
  -fno-stack-protector -U_FORTIFY_SOURCE
  # Same source, same bytes, wherever the tree is checked out.
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)

# The hardening each deliverable's format and processor allow without a new
# import, one row per deliverable: COMPILE options, LINK options. The ABI
# checks read each setting back from the file (tests/abi/).
# - ELF: the GOT read-only after relocation (full RELRO: relro, and now, which
#   binds every import at load time), and the code marked for the processor's
#   control-flow protection (x86: IBT and shadow stack). The linker ANDs the
#   marking over every object it links, so one unmarked object would silently
#   unmark the library; cet-report=error makes that a link error instead.
# - win32: the DLL has no exception handlers, so it says so (NO_SEH), and
#   needs no unwind tables (.eh_frame) either: nothing unwinds through it.
#   win64 keeps its .pdata/.xdata: x86-64 Windows unwinds by those tables.
set(NATIVEFLUSH_HARDENING_linux64 COMPILE -fcf-protection=full LINK -Wl,-z,relro,-z,now,-z,cet-report=error)
set(NATIVEFLUSH_HARDENING_linux32 COMPILE -fcf-protection=full LINK -Wl,-z,relro,-z,now,-z,cet-report=error)
# - AArch64: the code marked for branch target identification and pointer
#   authentication (BTI, PAC); lld ANDs the marking over its inputs as well.
set(NATIVEFLUSH_HARDENING_linuxarm64 COMPILE -mbranch-protection=standard LINK -Wl,-z,relro,-z,now)
# - ppc64le, armv7, s390x, riscv64: no control-flow marking that these
#   compilers and linkers know exists for them; full RELRO only.
set(NATIVEFLUSH_HARDENING_linuxppc64le LINK -Wl,-z,relro,-z,now)
set(NATIVEFLUSH_HARDENING_linuxarm32 LINK -Wl,-z,relro,-z,now)
set(NATIVEFLUSH_HARDENING_linuxs390x LINK -Wl,-z,relro,-z,now)
set(NATIVEFLUSH_HARDENING_linuxriscv64 LINK -Wl,-z,relro,-z,now)
set(NATIVEFLUSH_HARDENING_win32 COMPILE -fno-asynchronous-unwind-tables LINK -Wl,--no-seh)

# Splits the row of deliverable <name> into <prefix>_COMPILE and <prefix>_LINK
# (empty for a deliverable without a row).
function(nativeflush_hardening name prefix)
  cmake_parse_arguments(row "" "" "COMPILE;LINK" ${NATIVEFLUSH_HARDENING_${name}})
  set(${prefix}_COMPILE ${row_COMPILE} PARENT_SCOPE)
  set(${prefix}_LINK ${row_LINK} PARENT_SCOPE)
endfunction()
