# macOS 64-bit (the mac64 deliverable): one universal dylib, x86_64 and arm64.
# CMake compiles for one target per build tree, so native/CMakeLists.txt hands
# the sources to nativeflush_universal_library (cmake/darwin-64/platform.cmake),
# which compiles them once per slice, each with its own --target, then links
# each slice with ld64.lld and joins them with llvm-lipo.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/../externals.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../darwin-64/platform.cmake)
foreach(tool ${NATIVEFLUSH_CLANG} ${NATIVEFLUSH_CLANGXX} ${NATIVEFLUSH_LLVM_AR} ${NATIVEFLUSH_LD64_LLD}
             ${NATIVEFLUSH_LLVM_LIPO})
  nativeflush_require(${tool})
endforeach()

set(CMAKE_C_COMPILER ${NATIVEFLUSH_CLANG})
set(CMAKE_CXX_COMPILER ${NATIVEFLUSH_CLANGXX})
set(CMAKE_AR ${NATIVEFLUSH_LLVM_AR})
string(JOIN " " flags ${NATIVEFLUSH_DARWIN_COMPILE_FLAGS})
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags}")
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${NATIVEFLUSH_DARWIN64_INCLUDE})
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${NATIVEFLUSH_DARWIN64_INCLUDE})
# Configure-time checks cannot link a program: there is no libSystem here.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Each slice is compiled for its own target; see nativeflush_universal_library.
set(NATIVEFLUSH_UNIVERSAL ON)

# jni.h comes from the JDK; its Darwin per-platform header is ours.
set(NATIVEFLUSH_JNI_MD_DIR ${NATIVEFLUSH_DARWIN_INCLUDE})
