# The mac32 link rule: tools/link_dylib.py in place of an Apple linker. Read
# as CMake's rules override, after its Darwin platform file has set its own.
# The imports are written into the rule itself, quoted for the shell: as link
# options, CMake would escape the $ in _open$UNIX2003 for make, and the link
# line does not go through make.
set(imports "")
foreach(name IN LISTS NATIVEFLUSH_DARWIN_IMPORTS)
  string(APPEND imports " '--import=${name}'")
endforeach()
set(CMAKE_C_CREATE_SHARED_LIBRARY
  "${NATIVEFLUSH_PYTHON} ${NATIVEFLUSH_DARWIN_LINKER} <LINK_FLAGS>${imports} --macos-version-min=${NATIVEFLUSH_DARWIN_MACOS_MIN} -o <TARGET> <OBJECTS>")
set(CMAKE_CXX_CREATE_SHARED_LIBRARY "${CMAKE_C_CREATE_SHARED_LIBRARY}")
# How CMake passes a target's MACHO_CURRENT_VERSION and
# MACHO_COMPATIBILITY_VERSION in <LINK_FLAGS>: the flag, then the version.
foreach(lang C CXX)
  set(CMAKE_${lang}_OSX_CURRENT_VERSION_FLAG "--current-version=")
  set(CMAKE_${lang}_OSX_COMPATIBILITY_VERSION_FLAG "--compatibility-version=")
endforeach()
