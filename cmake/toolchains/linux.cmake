# Linux with the host GCC, for either Linux deliverable.
# NATIVEFLUSH_ARCH (set by the preset) is x86_64 or i386.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${NATIVEFLUSH_ARCH})
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NATIVEFLUSH_ARCH)

if(NATIVEFLUSH_ARCH STREQUAL "i386")
  # gcc-multilib provides the 32-bit crt files and libc.
  set(CMAKE_C_FLAGS_INIT -m32)
  set(CMAKE_CXX_FLAGS_INIT -m32)
  set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
  set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
elseif(NOT NATIVEFLUSH_ARCH STREQUAL "x86_64")
  message(FATAL_ERROR "linux.cmake: NATIVEFLUSH_ARCH is '${NATIVEFLUSH_ARCH}'; expected x86_64 or i386")
endif()

# The JNI per-platform header for Linux comes with the JDK.
include(${CMAKE_CURRENT_LIST_DIR}/../externals.cmake)
set(NATIVEFLUSH_JNI_MD_DIR ${NATIVEFLUSH_JNI_INCLUDE}/linux)

# The library has no constructors, so gcc's start files (crtbegin and friends)
# would only add weak imports and unused init code.
set(NATIVEFLUSH_LINK_OPTIONS -nostartfiles)
