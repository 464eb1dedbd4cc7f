# Every program and header outside this repository that the build or the tests
# use, named once. scripts/bootstrap.sh installs the packages named here.

set(NATIVEFLUSH_JDK /usr/lib/jvm/java-17-openjdk-amd64)       # openjdk-17-jdk-headless
set(NATIVEFLUSH_JDK_I386 /usr/lib/jvm/java-17-openjdk-i386)    # openjdk-17-jre-headless:i386
set(NATIVEFLUSH_JNI_INCLUDE ${NATIVEFLUSH_JDK}/include)
set(NATIVEFLUSH_QEMU_I386 /usr/bin/qemu-i386)                  # qemu-user
set(NATIVEFLUSH_QEMU_AARCH64 /usr/bin/qemu-aarch64)            # qemu-user
set(NATIVEFLUSH_JDK_ARM64 /usr/lib/jvm/java-17-openjdk-arm64)  # openjdk-17-jre-headless:arm64
# AArch64 Linux is built with clang, which takes Debian's multiarch triplet as
# its target, against the arm64 C library installed beside the host's.
set(NATIVEFLUSH_AARCH64_TRIPLET aarch64-linux-gnu)
set(NATIVEFLUSH_AARCH64_LIBC /usr/lib/${NATIVEFLUSH_AARCH64_TRIPLET}) # libc6-dev:arm64
set(NATIVEFLUSH_PYTHON /usr/bin/python3)                       # python3
set(NATIVEFLUSH_READELF /usr/bin/readelf)                      # binutils
set(NATIVEFLUSH_SETPRIV /usr/bin/setpriv)                      # util-linux
set(NATIVEFLUSH_CLANG /usr/bin/clang)                          # clang
set(NATIVEFLUSH_CLANGXX /usr/bin/clang++)                      # clang
set(NATIVEFLUSH_LLD /usr/bin/ld.lld)                           # lld
set(NATIVEFLUSH_LLVM_AR /usr/bin/llvm-ar)                      # llvm
set(NATIVEFLUSH_LLVM_OBJDUMP /usr/bin/llvm-objdump)            # llvm
set(NATIVEFLUSH_LLVM_NM /usr/bin/llvm-nm)                      # llvm
set(NATIVEFLUSH_LLVM_READOBJ /usr/bin/llvm-readobj)            # llvm
# The Mach-O linker and the fat-file tool have no unversioned name in /usr/bin.
set(NATIVEFLUSH_LD64_LLD /usr/lib/llvm-14/bin/ld64.lld)        # lld
set(NATIVEFLUSH_LLVM_LIPO /usr/lib/llvm-14/bin/llvm-lipo)      # llvm
# MinGW-w64 cross compilers by target architecture: <prefix>-gcc, <prefix>-g++.
set(NATIVEFLUSH_MINGW_x86_64 /usr/bin/x86_64-w64-mingw32)       # g++-mingw-w64
set(NATIVEFLUSH_MINGW_i686 /usr/bin/i686-w64-mingw32)           # g++-mingw-w64
# MinGW's x86-64 import libraries, whose names serve arm64 test programs too.
set(NATIVEFLUSH_MINGW_LIB_x86_64 /usr/x86_64-w64-mingw32/lib)   # g++-mingw-w64
# Windows on ARM has no MinGW compiler in Debian 12: clang builds it against
# MinGW's headers, which serve every architecture, and the LLVM tools make
# its import libraries and version resource. lld 14 writes an export table
# with ordinal base 0 and an empty slot; lld 16 does not.
set(NATIVEFLUSH_WINDOWS_AARCH64_TRIPLET aarch64-w64-mingw32)
set(NATIVEFLUSH_MINGW_INCLUDE /usr/share/mingw-w64/include)     # mingw-w64-common
set(NATIVEFLUSH_LLVM_DLLTOOL /usr/bin/llvm-dlltool)             # llvm
set(NATIVEFLUSH_LLVM_WINDRES /usr/lib/llvm-14/bin/llvm-windres) # llvm-14
set(NATIVEFLUSH_LLD_16 /usr/bin/ld.lld-16)                      # lld-16
# Wine's 64-bit loader, called directly: /usr/bin/wine would pick the 32-bit one.
set(NATIVEFLUSH_WINE64 /usr/lib/wine/wine64)                   # wine64
set(NATIVEFLUSH_WINESERVER64 /usr/lib/wine/wineserver64)       # wine64
set(NATIVEFLUSH_STRACE /usr/bin/strace)                        # strace
# The Debian 13 tree (its release and packages pinned in scripts/bootstrap.sh),
# for what Debian 12 lacks; scripts/build.sh has bootstrap.sh make it. It lives
# outside the checkout, so that every clone reuses it.
set(NATIVEFLUSH_TREE /var/cache/nativeflush/trixie)            # debootstrap, in bootstrap.sh
# Inside that tree: Wine's i386 side and the qemu-i386 that runs it where the
# kernel cannot.
set(NATIVEFLUSH_TREE_WINE_I386 /usr/lib/wine/wine)                 # wine32:i386
set(NATIVEFLUSH_TREE_WINESERVER_I386 /usr/lib/wine/wineserver)     # wine32:i386
set(NATIVEFLUSH_TREE_QEMU_I386 /usr/bin/qemu-i386)                 # qemu-user
# Wine for Windows on ARM, in a Debian 12 tree of its own (why: see
# scripts/bootstrap.sh): its arm64 loader and server, and the qemu-aarch64
# that runs them.
set(NATIVEFLUSH_WINE_ARM64_TREE /var/cache/nativeflush/bookworm-wine-arm64)  # debootstrap, in bootstrap.sh
set(NATIVEFLUSH_WINE_ARM64_TREE_WINE /usr/lib/wine/wine64)              # wine64:arm64
set(NATIVEFLUSH_WINE_ARM64_TREE_WINESERVER /usr/lib/wine/wineserver64)  # wine64:arm64
set(NATIVEFLUSH_WINE_ARM64_TREE_QEMU /usr/bin/qemu-aarch64)             # qemu-user
# HotSpot 25, and the tree's own dynamic loader, which starts it on the host
# with the tree's libraries.
set(NATIVEFLUSH_TREE_JDK25 /usr/lib/jvm/java-25-openjdk-amd64)     # openjdk-25-jre-headless
set(NATIVEFLUSH_TREE_LOADER /usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2)  # libc6
# An i386 program of this machine's (libc6-i386, from gcc-multilib), run once
# per configure to learn whether the kernel runs i386 code itself.
set(NATIVEFLUSH_I386_PROBE /usr/lib32/ld-linux.so.2)
# The same for arm64 (libc6:arm64, from libc6-dev:arm64).
set(NATIVEFLUSH_AARCH64_PROBE /lib/ld-linux-aarch64.so.1)
# The user that tests drop to where root would bypass a permission check.
set(NATIVEFLUSH_UNPRIVILEGED_ID 65534)

# Stops the configure step with a message naming what is missing and how to get it.
function(nativeflush_require path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "${path} is missing; run scripts/bootstrap.sh as root to install it")
  endif()
endfunction()

# cmake -D print=NAME -P cmake/externals.cmake prints the value of NAME, for
# the scripts.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED print)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${${print}}")
endif()
