# --- Mac OS X i386 --------------------------------------------------------------
# Included from tests/CMakeLists.txt. The dylib cannot run on a Mac here, so it
# is checked from the file with independent tools, executed by our own loader
# under qemu-i386, and its linker is shown to refuse what it must not link.
include(${CMAKE_SOURCE_DIR}/cmake/darwin-i386/platform.cmake)
foreach(tool ${NATIVEFLUSH_LLVM_OBJDUMP} ${NATIVEFLUSH_LLVM_NM} ${NATIVEFLUSH_CLANGXX})
  nativeflush_require(${tool})
endforeach()
deliverable_file(mac32 mac32_file)
nativeflush_deliverable(mac32 mac32)

add_test(NAME abi.mac32
         COMMAND ${NATIVEFLUSH_PYTHON} -B ${CMAKE_CURRENT_SOURCE_DIR}/abi/check_macho.py
                 ${NATIVEFLUSH_LLVM_OBJDUMP} ${NATIVEFLUSH_LLVM_NM} ${mac32_file} ${mac32_EXPORT}
                 ${PROJECT_VERSION} ${NATIVEFLUSH_COMPATIBILITY_VERSION})
set_tests_properties(abi.mac32 PROPERTIES LABELS abi)

add_executable(harness_macho_i386 macho/load_macho.cpp)
target_compile_definitions(harness_macho_i386 PRIVATE NATIVEFLUSH_EXPORT="${mac32_EXPORT}")
target_link_libraries(harness_macho_i386 PRIVATE harness_core_i386)
add_harness_test(mac32 $<TARGET_FILE:harness_macho_i386> ${NATIVEFLUSH_QEMU_I386} -L /)

# Objects the linker must refuse, each compiled the way the deliverable is
# except for the one thing that puts it out of bounds.
set(refused ${CMAKE_CURRENT_BINARY_DIR}/refused)
set(darwin_compile ${NATIVEFLUSH_CLANGXX} --target=${NATIVEFLUSH_DARWIN_TARGET} ${NATIVEFLUSH_DARWIN_COMPILE_FLAGS}
    -std=c++17 ${NATIVEFLUSH_COMPILE_OPTIONS}
    -DNATIVEFLUSH_JNI_NAME=${NATIVEFLUSH_JNI_NAME}
    -I${CMAKE_SOURCE_DIR}/native -I${CMAKE_SOURCE_DIR}/native/posix
    -isystem ${NATIVEFLUSH_JNI_INCLUDE} -isystem ${NATIVEFLUSH_DARWIN_INCLUDE})
set(force_src ${CMAKE_SOURCE_DIR}/native/force_directories.cpp)
set(ops_src ${CMAKE_SOURCE_DIR}/native/posix/directory_ops.cpp)
add_custom_command(
  OUTPUT ${refused}/force_directories.o ${refused}/directory_ops.o
         ${refused}/force_directories-no-pic.o ${refused}/directory_ops-unwind.o
  COMMAND ${CMAKE_COMMAND} -E make_directory ${refused}
  COMMAND ${darwin_compile} -c ${force_src} -o ${refused}/force_directories.o
  COMMAND ${darwin_compile} -c ${ops_src} -o ${refused}/directory_ops.o
  COMMAND ${darwin_compile} -mdynamic-no-pic -c ${force_src} -o ${refused}/force_directories-no-pic.o
  COMMAND ${darwin_compile} -funwind-tables -c ${ops_src} -o ${refused}/directory_ops-unwind.o
  DEPENDS ${force_src} ${ops_src}
  VERBATIM)
add_custom_target(refused_objects ALL DEPENDS ${refused}/force_directories.o)
add_test(NAME link_dylib.refusals
         COMMAND ${NATIVEFLUSH_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/macho/linker_refusals.py
                 ${NATIVEFLUSH_DARWIN_LINKER} ${refused} ${mac32_EXPORT} ${NATIVEFLUSH_DARWIN_IMPORTS})
set_tests_properties(link_dylib.refusals PROPERTIES LABELS linker)
