# Mac OS X i386 (the mac32 deliverable) with clang and our own Mach-O linker.
# No Apple SDK and no linker for i386 Mach-O can be installed here, so the
# system declarations come from cmake/darwin-i386/include and the dylib is
# written by tools/link_dylib.py.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR i386)
include(${CMAKE_CURRENT_LIST_DIR}/../externals.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../darwin-i386/platform.cmake)
foreach(tool ${NATIVEFLUSH_CLANG} ${NATIVEFLUSH_CLANGXX} ${NATIVEFLUSH_LLVM_AR} ${NATIVEFLUSH_PYTHON})
  nativeflush_require(${tool})
endforeach()

set(CMAKE_C_COMPILER ${NATIVEFLUSH_CLANG})
set(CMAKE_CXX_COMPILER ${NATIVEFLUSH_CLANGXX})
set(CMAKE_C_COMPILER_TARGET ${NATIVEFLUSH_DARWIN_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${NATIVEFLUSH_DARWIN_TARGET})
set(CMAKE_AR ${NATIVEFLUSH_LLVM_AR})
string(JOIN " " flags ${NATIVEFLUSH_DARWIN_COMPILE_FLAGS})
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags}")
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${NATIVEFLUSH_DARWIN_INCLUDE})
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${NATIVEFLUSH_DARWIN_INCLUDE})
# Configure-time checks cannot link a program: there is no libSystem here.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# CMake's Darwin platform file sets the link rule after this file is read;
# ours is set again from the rules override, which CMake reads last.
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/../darwin-i386/link-rule.cmake)
set(NATIVEFLUSH_LINK_DEPENDS ${NATIVEFLUSH_DARWIN_LINKER})

# jni.h comes from the JDK; its Darwin per-platform header is ours.
set(NATIVEFLUSH_JNI_MD_DIR ${NATIVEFLUSH_DARWIN_INCLUDE})

# The linker takes the one name to export and the imports it may leave to libSystem.
if(DEFINED NATIVEFLUSH_DELIVERABLE)
  include(${CMAKE_CURRENT_LIST_DIR}/../deliverables.cmake)
  nativeflush_deliverable(${NATIVEFLUSH_DELIVERABLE} darwin)
  set(NATIVEFLUSH_LINK_OPTIONS --export=${darwin_EXPORT})
endif()
