# Windows with the MinGW-w64 toolchains, for every Windows deliverable.
# NATIVEFLUSH_ARCH (set by the preset) is x86_64 or i686, built by MinGW's
# GCC, or aarch64, built by clang and the LLVM tools.
if(NOT NATIVEFLUSH_ARCH MATCHES "^(x86_64|i686|aarch64)$")
  message(FATAL_ERROR "mingw.cmake: NATIVEFLUSH_ARCH is '${NATIVEFLUSH_ARCH}'; expected x86_64, i686 or aarch64")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NATIVEFLUSH_ARCH)

include(${CMAKE_CURRENT_LIST_DIR}/../externals.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../deliverables.cmake)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${NATIVEFLUSH_ARCH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
if(NATIVEFLUSH_ARCH STREQUAL "aarch64")
  # Debian 12 has MinGW's headers for every architecture but no GCC, C
  # runtime or import libraries for arm64. The import libraries are made
  # from our own .def files, named by path so that no library found on a
  # search path can stand in for them; configure-time checks cannot link a
  # program.
  set(triplet ${NATIVEFLUSH_WINDOWS_AARCH64_TRIPLET})
  set(CMAKE_C_COMPILER ${NATIVEFLUSH_CLANG})
  set(CMAKE_CXX_COMPILER ${NATIVEFLUSH_CLANGXX})
  set(CMAKE_C_COMPILER_TARGET ${triplet})
  set(CMAKE_CXX_COMPILER_TARGET ${triplet})
  # Left alone, clang would look in the host's /usr/include. The sources are
  # C++; the C driver only links.
  set(CMAKE_CXX_FLAGS_INIT "-nostdlibinc -isystem ${NATIVEFLUSH_MINGW_INCLUDE}")
  set(CMAKE_RC_COMPILER ${NATIVEFLUSH_LLVM_WINDRES})
  set(CMAKE_RC_FLAGS_INIT "--target=${triplet} -I${NATIVEFLUSH_MINGW_INCLUDE}")
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
  foreach(tool ${NATIVEFLUSH_LLD_16} ${NATIVEFLUSH_LLVM_DLLTOOL} ${NATIVEFLUSH_MINGW_INCLUDE}/windows.h)
    nativeflush_require(${tool})
  endforeach()
  set(NATIVEFLUSH_IMPORT_DEFS ${CMAKE_CURRENT_LIST_DIR}/../windows/kernel32.def ${CMAKE_CURRENT_LIST_DIR}/../windows/msvcrt.def)
  set(NATIVEFLUSH_DLLTOOL ${NATIVEFLUSH_LLVM_DLLTOOL} -m arm64)
else()
  set(CMAKE_C_COMPILER ${NATIVEFLUSH_MINGW_${NATIVEFLUSH_ARCH}}-gcc)
  set(CMAKE_CXX_COMPILER ${NATIVEFLUSH_MINGW_${NATIVEFLUSH_ARCH}}-g++)
  # The version resource; windres preprocesses it with the gcc beside it.
  set(CMAKE_RC_COMPILER ${NATIVEFLUSH_MINGW_${NATIVEFLUSH_ARCH}}-windres)
  set(NATIVEFLUSH_LINK_LIBRARIES kernel32 msvcrt)
endif()
nativeflush_require(${CMAKE_CXX_COMPILER})
nativeflush_require(${CMAKE_RC_COMPILER})

# No Windows JNI per-platform header ships with the JDK here; this is ours.
set(NATIVEFLUSH_JNI_MD_DIR ${CMAKE_CURRENT_LIST_DIR}/../windows/include)

# printf must be msvcrt's own; MinGW's ANSI stdio would link its own copy.
set(NATIVEFLUSH_COMPILE_DEFINITIONS __USE_MINGW_ANSI_STDIO=0)

# Without MinGW's C runtime start-up code the DLL imports only what the
# library calls; native/windows/dll_entry.cpp stands in as the entry point.
# No timestamp in the PE header, so the same source gives the same bytes.
# Linker warnings are errors: a missing entry symbol is only a warning to ld,
# which then leaves the DLL without its entry point.
set(NATIVEFLUSH_LINK_OPTIONS -nostdlib -Wl,--no-insert-timestamp -Wl,--fatal-warnings)

if(NATIVEFLUSH_ARCH STREQUAL "i686")
  # The entry point and the native method are stdcall here, so their object
  # symbols carry a leading underscore and @<argument bytes>.
  # Stdcall fixup would quietly bind the .def file's name@12 to a cdecl
  # function of the same name; without it that mismatch fails the link.
  list(APPEND NATIVEFLUSH_LINK_OPTIONS -Wl,-e,_nativeflush_dll_entry@12 -Wl,--disable-stdcall-fixup)
  # The export must be the decorated name _Java_...@12, which GNU ld gives a
  # dllexport'ed function only without its leading underscore. A .def file
  # exports it under the full name instead (its right-hand side names the
  # function as a .def file spells it), and JNIEXPORT is emptied so that no
  # second, dllexport'ed name appears beside it.
  list(APPEND NATIVEFLUSH_COMPILE_DEFINITIONS JNIEXPORT=)
  set(NATIVEFLUSH_DEF_SYMBOL ${NATIVEFLUSH_JNI_NAME}@12)
else()
  list(APPEND NATIVEFLUSH_LINK_OPTIONS -Wl,-e,nativeflush_dll_entry)
endif()
if(NATIVEFLUSH_ARCH STREQUAL "aarch64")
  # lld writes a build id into its own section unless told to strip.
  list(APPEND NATIVEFLUSH_LINK_OPTIONS --ld-path=${NATIVEFLUSH_LLD_16} -s)
endif()
