# Mac OS X i386 as this project builds it without an Apple SDK or linker: our
# own system headers in include/, clang for the objects and tools/link_dylib.py
# for the dylib. Read by the mac32 toolchain and by the tests of the linker.

# The oldest Mac OS X it is for: the compiler's target and the dylib's
# LC_VERSION_MIN_MACOSX.
set(NATIVEFLUSH_DARWIN_MACOS_MIN 10.5)
set(NATIVEFLUSH_DARWIN_TARGET i386-apple-macosx${NATIVEFLUSH_DARWIN_MACOS_MIN})
set(NATIVEFLUSH_DARWIN_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/include)
get_filename_component(NATIVEFLUSH_DARWIN_LINKER ${CMAKE_CURRENT_LIST_DIR}/../../tools/link_dylib.py ABSOLUTE)

# Each flag keeps something out of the objects that the linker does not take:
# the system's own headers, unwind tables (__eh_frame, __compact_unwind) and
# the stack protector (a ___stack_chk_guard import), which 10.5 enables by
# default. The build adds no -g (no __DWARF) and no -mdynamic-no-pic (absolute
# addresses, which would need text relocations).
set(NATIVEFLUSH_DARWIN_COMPILE_FLAGS
  -nostdlibinc -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector)

# What libSystem.B.dylib may provide; on i386, open is its UNIX03 variant.
set(NATIVEFLUSH_DARWIN_IMPORTS _open$UNIX2003 _fsync _close _printf)
