# Linux, for any Linux deliverable. NATIVEFLUSH_ARCH (set by the preset) is
# x86_64 or i386, built with the host GCC, or a processor with a row in
# cmake/externals.cmake (aarch64, ppc64le, arm, ...), built with clang.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${NATIVEFLUSH_ARCH})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NATIVEFLUSH_ARCH)
include(${CMAKE_CURRENT_LIST_DIR}/../externals.cmake)

# The library has no constructors, so the compiler's start files (crtbegin
# and friends) would only add weak imports and unused init code.
set(NATIVEFLUSH_LINK_OPTIONS -nostartfiles)

if(NATIVEFLUSH_ARCH MATCHES "^(x86_64|i386)$")
  set(CMAKE_C_COMPILER gcc)
  set(CMAKE_CXX_COMPILER g++)
  if(NATIVEFLUSH_ARCH STREQUAL "i386")
    # gcc-multilib provides the 32-bit crt files and libc.
    set(CMAKE_C_FLAGS_INIT -m32)
    set(CMAKE_CXX_FLAGS_INIT -m32)
    set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
    set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
  endif()
elseif(DEFINED NATIVEFLUSH_LINUX_${NATIVEFLUSH_ARCH})
  # Debian's cross GCCs cannot be installed beside gcc-multilib, so clang
  # cross-compiles, against the C library of the architecture's row in
  # cmake/externals.cmake, and that row's linker links.
  nativeflush_linux_arch(${NATIVEFLUSH_ARCH} cross)
  foreach(tool ${NATIVEFLUSH_CLANG} ${NATIVEFLUSH_CLANGXX} ${cross_LINKER} ${cross_LIBC}/libc.so)
    nativeflush_require(${tool})
  endforeach()
  set(CMAKE_C_COMPILER ${NATIVEFLUSH_CLANG})
  set(CMAKE_CXX_COMPILER ${NATIVEFLUSH_CLANGXX})
  set(CMAKE_C_COMPILER_TARGET ${cross_TRIPLET})
  set(CMAKE_CXX_COMPILER_TARGET ${cross_TRIPLET})
  set(CMAKE_SYSROOT ${cross_ROOT})
  # Without that GCC there is no libgcc for the architecture either: only libc
  # is linked, and a helper routine the code might come to need fails the link.
  # For the same reason configure-time checks cannot link a program.
  list(APPEND NATIVEFLUSH_LINK_OPTIONS --ld-path=${cross_LINKER} -nodefaultlibs)
  set(NATIVEFLUSH_LINK_LIBRARIES c)
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
else()
  message(FATAL_ERROR "linux.cmake: NATIVEFLUSH_ARCH is '${NATIVEFLUSH_ARCH}'; expected x86_64, i386 or a row of cmake/externals.cmake")
endif()

# The JNI per-platform header for Linux comes with the JDK.
set(NATIVEFLUSH_JNI_MD_DIR ${NATIVEFLUSH_JNI_INCLUDE}/linux)
