# How the library's own sources are compiled, for every deliverable. Tests
# that build a variant of the library on purpose use the same list, so that
# the variant differs only in what it sets out to change.
set(NATIVEFLUSH_COMPILE_OPTIONS
  -O2 -Wall -Wextra -Werror -fvisibility=hidden
  # No C++ runtime: no exceptions, no RTTI, and no C++ library headers.
  -fno-exceptions -fno-rtti -nostdinc++
  # Each of these would add an import beyond the four calls the code makes.
  -fno-stack-protector -U_FORTIFY_SOURCE
  # Same source, same bytes, wherever the tree is checked out.
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
# Each deliverable adds its own hardening, from its row in
# cmake/deliverables.cmake.
