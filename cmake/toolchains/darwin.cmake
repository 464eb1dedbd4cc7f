# Mac OS X and macOS with clang and no Apple SDK: the system declarations come
# from small headers of our own. NATIVEFLUSH_ARCH (set by the preset) is
# - i386 (mac32): no linker here writes i386 Mach-O, so tools/link_dylib.py
#   links the dylib (cmake/darwin-i386/);
# - universal (mac64): one file with an x86_64 and an arm64 slice. CMake
#   compiles for one target per build tree, so native/CMakeLists.txt hands the
#   sources to nativeflush_universal_library (cmake/darwin-64/), which compiles
#   them once per slice, links each slice with ld64.lld and joins them with
#   llvm-lipo.
set(CMAKE_SYSTEM_NAME Darwin)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NATIVEFLUSH_ARCH)
include(${CMAKE_CURRENT_LIST_DIR}/../externals.cmake)
if(NATIVEFLUSH_ARCH STREQUAL "i386")
  set(CMAKE_SYSTEM_PROCESSOR i386)
  include(${CMAKE_CURRENT_LIST_DIR}/../darwin-i386/platform.cmake)
  set(linkers ${NATIVEFLUSH_PYTHON})
elseif(NATIVEFLUSH_ARCH STREQUAL "universal")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  include(${CMAKE_CURRENT_LIST_DIR}/../darwin-64/platform.cmake)
  set(linkers ${NATIVEFLUSH_LD64_LLD} ${NATIVEFLUSH_LLVM_LIPO})
else()
  message(FATAL_ERROR "darwin.cmake: NATIVEFLUSH_ARCH is '${NATIVEFLUSH_ARCH}'; expected i386 or universal")
endif()
foreach(tool ${NATIVEFLUSH_CLANG} ${NATIVEFLUSH_CLANGXX} ${NATIVEFLUSH_LLVM_AR} ${linkers})
  nativeflush_require(${tool})
endforeach()

set(CMAKE_C_COMPILER ${NATIVEFLUSH_CLANG})
set(CMAKE_CXX_COMPILER ${NATIVEFLUSH_CLANGXX})
set(CMAKE_AR ${NATIVEFLUSH_LLVM_AR})
string(JOIN " " flags ${NATIVEFLUSH_DARWIN_COMPILE_FLAGS})
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags}")
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${NATIVEFLUSH_DARWIN_INCLUDE})
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${NATIVEFLUSH_DARWIN_INCLUDE})
# Configure-time checks cannot link a program: there is no libSystem here.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# jni.h comes from the JDK; its Darwin per-platform header is ours.
set(NATIVEFLUSH_JNI_MD_DIR ${NATIVEFLUSH_DARWIN_INCLUDE})

if(NATIVEFLUSH_ARCH STREQUAL "universal")
  # Each slice is compiled for its own target, by nativeflush_universal_library.
  set(NATIVEFLUSH_UNIVERSAL ON)
  return()
endif()

set(CMAKE_C_COMPILER_TARGET ${NATIVEFLUSH_DARWIN_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${NATIVEFLUSH_DARWIN_TARGET})
# CMake's Darwin platform file sets the link rule after this file is read;
# ours is set again from the rules override, which CMake reads last.
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/../darwin-i386/link-rule.cmake)
set(NATIVEFLUSH_LINK_DEPENDS ${NATIVEFLUSH_DARWIN_LINKER})

# The linker takes the one name to export and the imports it may leave to libSystem.
if(DEFINED NATIVEFLUSH_DELIVERABLE)
  include(${CMAKE_CURRENT_LIST_DIR}/../deliverables.cmake)
  nativeflush_deliverable(${NATIVEFLUSH_DELIVERABLE} darwin)
  set(NATIVEFLUSH_LINK_OPTIONS --export=${darwin_EXPORT})
endif()
