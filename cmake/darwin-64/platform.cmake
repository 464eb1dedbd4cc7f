# macOS 64-bit as this project builds it without an Apple SDK: one universal
# dylib with an x86_64 and an arm64 slice, each compiled by clang against our
# own system headers, linked by LLVM's ld64.lld against our libSystem stub and
# joined by llvm-lipo. Read by the Darwin toolchain for mac64 and by the tests
# that build broken variants of the dylib.

# Each slice: the target clang compiles for, with its minimum macOS version.
set(NATIVEFLUSH_DARWIN64_SLICES x86_64 arm64)
set(NATIVEFLUSH_DARWIN64_MACOS_x86_64 10.9)
set(NATIVEFLUSH_DARWIN64_MACOS_arm64 11.0)
foreach(slice IN LISTS NATIVEFLUSH_DARWIN64_SLICES)
  set(NATIVEFLUSH_DARWIN64_TARGET_${slice} ${slice}-apple-macos${NATIVEFLUSH_DARWIN64_MACOS_${slice}})
endforeach()

# The system headers and compile flags are the i386 ones, which serve every
# Darwin architecture (on i386 alone, open is open$UNIX2003).
include(${CMAKE_CURRENT_LIST_DIR}/../darwin-i386/platform.cmake)
set(NATIVEFLUSH_DARWIN64_LIBSYSTEM ${CMAKE_CURRENT_LIST_DIR}/libSystem.tbd)

# nativeflush_darwin64_link(<out-var> <slice> <output>)
# Sets <out-var> to the command that links one slice to <output>, to be
# followed by its objects. The file name of <output> is the install name, and
# ld64.lld also takes it as the arm64 signature's identifier. ld64.lld writes
# no time stamp and derives LC_UUID from the content, so the same objects give
# the same bytes.
function(nativeflush_darwin64_link out slice output)
  get_filename_component(name ${output} NAME)
  set(version ${NATIVEFLUSH_DARWIN64_MACOS_${slice}})
  set(${out} ${NATIVEFLUSH_LD64_LLD} -arch ${slice} -dylib
      # No SDK: the minimum version stands in for the SDK version too.
      -platform_version macos ${version} ${version}
      -install_name ${name}
      -current_version ${PROJECT_VERSION} -compatibility_version ${NATIVEFLUSH_COMPATIBILITY_VERSION}
      # Room after the load commands for codesign_allocate and install_name_tool
      # to add theirs (ld64.lld leaves 32 bytes by default).
      -headerpad 0x100
      -o ${output} ${NATIVEFLUSH_DARWIN64_LIBSYSTEM} PARENT_SCOPE)
endfunction()

# nativeflush_universal_library(<target> <output> <out-var> <sources>...)
# Compiles the sources once per slice, into object libraries named
# <target>_<slice> (set in <out-var>, for the caller's compile settings), and
# adds <target>, which links each slice next to <output> in a directory of its
# own, then joins them into <output>.
function(nativeflush_universal_library target output out)
  get_filename_component(dir ${output} DIRECTORY)
  get_filename_component(name ${output} NAME)
  set(libraries)
  set(objects)
  set(links)
  set(slice_files)
  foreach(slice IN LISTS NATIVEFLUSH_DARWIN64_SLICES)
    add_library(${target}_${slice} OBJECT ${ARGN})
    target_compile_options(${target}_${slice} PRIVATE --target=${NATIVEFLUSH_DARWIN64_TARGET_${slice}})
    set(slice_file ${dir}/${slice}/${name})
    nativeflush_darwin64_link(link ${slice} ${slice_file})
    list(APPEND links COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/${slice}
                      COMMAND ${link} $<TARGET_OBJECTS:${target}_${slice}>)
    list(APPEND libraries ${target}_${slice})
    list(APPEND objects $<TARGET_OBJECTS:${target}_${slice}>)
    list(APPEND slice_files ${slice_file})
  endforeach()
  add_custom_command(OUTPUT ${output} ${slice_files}
    ${links}
    COMMAND ${NATIVEFLUSH_LLVM_LIPO} -create -output ${output} ${slice_files}
    DEPENDS ${objects} ${NATIVEFLUSH_DARWIN64_LIBSYSTEM}
    COMMAND_EXPAND_LISTS VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
  # The object files alone do not order the builds of the targets that make them.
  add_dependencies(${target} ${libraries})
  set(${out} ${libraries} PARENT_SCOPE)
endfunction()
