# --- Mac OS X i386 --------------------------------------------------------------
# Included from tests/CMakeLists.txt. The dylib cannot run on a Mac here, so it
# is checked from the file with independent tools, executed by our own loader
# under qemu-i386, and its linker is shown to refuse what it must not link.
include(${CMAKE_SOURCE_DIR}/cmake/darwin-i386/platform.cmake)
foreach(tool ${NATIVEFLUSH_LLVM_OBJDUMP} ${NATIVEFLUSH_CLANGXX})
  nativeflush_require(${tool})
endforeach()
deliverable_file(mac32 mac32_file)
nativeflush_deliverable(mac32 mac32)

add_test(NAME abi.mac32
         COMMAND ${NATIVEFLUSH_PYTHON} -B ${CMAKE_CURRENT_SOURCE_DIR}/abi/check_mac32.py
                 ${mac32_file} ${mac32_EXPORT} ${PROJECT_VERSION} ${NATIVEFLUSH_COMPATIBILITY_VERSION})
set_tests_properties(abi.mac32 PROPERTIES LABELS abi)

add_executable(harness_macho_i386 macho/load_macho.cpp macho/darwin_i386.cpp)
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

# --- macOS 64-bit -----------------------------------------------------------------
# The universal dylib, checked from the file per slice (its arm64 signature
# recomputed), and each slice executed by the same loader: the x86_64 slice
# natively, the arm64 slice under qemu-aarch64.
include(${CMAKE_SOURCE_DIR}/cmake/darwin-64/platform.cmake)
foreach(tool ${NATIVEFLUSH_LLVM_LIPO} ${NATIVEFLUSH_LD64_LLD})
  nativeflush_require(${tool})
endforeach()
deliverable_file(mac64 mac64_file)
nativeflush_deliverable(mac64 mac64)
set(check_mac64 ${NATIVEFLUSH_PYTHON} -B ${CMAKE_CURRENT_SOURCE_DIR}/abi/check_mac64.py ${NATIVEFLUSH_LLVM_OBJDUMP})
set(check_mac64_options ${mac64_EXPORT} ${PROJECT_VERSION} ${NATIVEFLUSH_COMPATIBILITY_VERSION})
add_test(NAME abi.mac64 COMMAND ${check_mac64} ${mac64_file} ${check_mac64_options})
set_tests_properties(abi.mac64 PROPERTIES LABELS abi)

# The loader with the stand-ins of each slice's architecture.
add_executable(harness_macho_x86_64 macho/load_macho.cpp macho/darwin_x86_64.cpp)
target_compile_definitions(harness_macho_x86_64 PRIVATE NATIVEFLUSH_EXPORT="${mac64_EXPORT}")
target_link_libraries(harness_macho_x86_64 PRIVATE harness_core_x86_64)
add_cross_harness(harness_macho_arm64 aarch64 "macho/load_macho.cpp;macho/darwin_arm64.cpp"
                  -DNATIVEFLUSH_EXPORT="${mac64_EXPORT}")
nativeflush_linux_arch(aarch64 arm64)
set(run_arm64 ${arm64_RUN})
add_harness_test(mac64.x86_64 $<TARGET_FILE:harness_macho_x86_64>)
add_harness_test(mac64.arm64 ${harness_macho_arm64_EXE} ${run_arm64})

# Variants made wrong on purpose, each named as the deliverable in a directory
# of its own, since the install name and the signature's identifier are the
# file name:
# - thin: the x86_64 slice alone;
# - extra_export: both slices with a second exported function;
# - linux_printf: an arm64 slice whose printf call passes the path in x1, as
#   Linux passes a variadic argument, for the loader to refuse;
# - flipped: the deliverable with a bit of its arm64 code changed after signing.
set(wrong ${CMAKE_CURRENT_BINARY_DIR}/mac64-wrong)
set(mac64_name ${mac64_FILE})
set(native ${CMAKE_SOURCE_DIR}/native)
set(extra ${CMAKE_CURRENT_SOURCE_DIR}/macho/extra_export.cpp)
set(wrong_commands)
foreach(slice IN LISTS NATIVEFLUSH_DARWIN64_SLICES)
  set(compile_${slice} ${NATIVEFLUSH_CLANGXX} --target=${NATIVEFLUSH_DARWIN64_TARGET_${slice}}
      ${NATIVEFLUSH_DARWIN_COMPILE_FLAGS} -std=c++17 ${NATIVEFLUSH_COMPILE_OPTIONS}
      -DNATIVEFLUSH_JNI_NAME=${NATIVEFLUSH_JNI_NAME} -I${native} -I${native}/posix
      -isystem ${NATIVEFLUSH_JNI_INCLUDE} -isystem ${NATIVEFLUSH_DARWIN_INCLUDE})
  set(objects ${wrong}/force_${slice}.o ${wrong}/ops_${slice}.o)
  nativeflush_darwin64_link(link ${slice} ${wrong}/extra_export/${slice}/${mac64_name})
  list(APPEND wrong_commands
    COMMAND ${CMAKE_COMMAND} -E make_directory ${wrong}/extra_export/${slice}
    COMMAND ${compile_${slice}} -c ${native}/force_directories.cpp -o ${wrong}/force_${slice}.o
    COMMAND ${compile_${slice}} -c ${native}/posix/directory_ops.cpp -o ${wrong}/ops_${slice}.o
    COMMAND ${compile_${slice}} -c ${extra} -o ${wrong}/extra_${slice}.o
    COMMAND ${link} ${objects} ${wrong}/extra_${slice}.o)
endforeach()
nativeflush_darwin64_link(link_thin x86_64 ${wrong}/thin/${mac64_name})
nativeflush_darwin64_link(link_linux_printf arm64 ${wrong}/linux_printf/${mac64_name})
add_custom_command(
  OUTPUT ${wrong}/thin/${mac64_name} ${wrong}/extra_export/${mac64_name} ${wrong}/linux_printf/${mac64_name}
  ${wrong_commands}
  COMMAND ${NATIVEFLUSH_LLVM_LIPO} -create -output ${wrong}/extra_export/${mac64_name}
          ${wrong}/extra_export/x86_64/${mac64_name} ${wrong}/extra_export/arm64/${mac64_name}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${wrong}/thin ${wrong}/linux_printf
  COMMAND ${link_thin} ${wrong}/force_x86_64.o ${wrong}/ops_x86_64.o
  # -I directories come before -isystem ones: this stdio.h wins.
  COMMAND ${compile_arm64} -I${CMAKE_CURRENT_SOURCE_DIR}/macho/linux_printf -c ${native}/force_directories.cpp
          -o ${wrong}/force_linux_printf.o
  COMMAND ${link_linux_printf} ${wrong}/force_linux_printf.o ${wrong}/ops_arm64.o
  DEPENDS ${native}/force_directories.cpp ${native}/posix/directory_ops.cpp ${extra}
          ${CMAKE_CURRENT_SOURCE_DIR}/macho/linux_printf/stdio.h ${NATIVEFLUSH_DARWIN64_LIBSYSTEM}
  VERBATIM)
add_custom_target(wrong_mac64 ALL DEPENDS ${wrong}/thin/${mac64_name})

set(expect_rejection sh ${HARNESS}/expect_rejection.sh)
set(file ${wrong}/thin/${mac64_name})
add_test(NAME abi.mac64.refuses_thin
         COMMAND ${expect_rejection} 1
                 "${file}: expected 'architectures: x86_64 arm64', found 'architectures: x86_64'"
                 ${check_mac64} ${file} ${check_mac64_options})
set(file ${wrong}/extra_export/${mac64_name})
set(found "${mac64_EXPORT} _nativeflush_extra_export")
add_test(NAME abi.mac64.refuses_extra_export
         COMMAND ${expect_rejection} 1
                 "${file}: expected 'x86_64 defined externals: ${mac64_EXPORT}', found 'x86_64 defined externals: ${found}'
${file}: expected 'x86_64 exports trie: ${mac64_EXPORT}', found 'x86_64 exports trie: ${found}'
${file}: expected 'arm64 defined externals: ${mac64_EXPORT}', found 'arm64 defined externals: ${found}'
${file}: expected 'arm64 exports trie: ${mac64_EXPORT}', found 'arm64 exports trie: ${found}'"
                 ${check_mac64} ${file} ${check_mac64_options})
# The flipped copy is made when the test runs, from the file in dist/.
set(file ${wrong}/flipped/${mac64_name})
add_test(NAME abi.mac64.refuses_changed_code
         COMMAND ${expect_rejection} 1
                 "${file}: expected 'arm64 code signature: ad-hoc, identifier ${mac64_name}, SHA-256 of every 4096-byte page before it matches', found 'arm64 code signature: page 0 does not match its hash'"
                 sh -c "\"$1\" \"$2\" \"$3\" \"$4\" && shift 4 && exec \"$@\"" flip
                 ${NATIVEFLUSH_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/macho/flip_text_bit.py ${mac64_file} ${file}
                 ${check_mac64} ${file} ${check_mac64_options})
set_tests_properties(abi.mac64.refuses_thin abi.mac64.refuses_extra_export abi.mac64.refuses_changed_code
                     PROPERTIES LABELS abi)

# The cases before the first that prints pass; that one stops the loader.
set(file ${wrong}/linux_printf/${mac64_name})
add_test(NAME cases.mac64.arm64.refuses_linux_printf
         COMMAND ${expect_rejection} 3
                 "ok    empty array
ok    negative length
ok    three directories
ok    same directory twice
ok    regular file
load_macho: ${file}: printf's path is in x1, as Linux passes a variadic argument; expected it on the stack, as Darwin arm64 passes it"
                 sh ${HARNESS}/run-harness.sh ${harness_macho_arm64_EXE} ${file} ${run_arm64})
set_tests_properties(cases.mac64.arm64.refuses_linux_printf PROPERTIES LABELS cases)
