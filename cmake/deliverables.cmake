# The one list of what this project delivers: one row per deliverable, keyed
# by its preset name. The build, scripts/build.sh, the presets, the jar and
# every test read the deliverables and the exported name from here.
#
# A new deliverable needs:
# - its row below, then `cmake -P cmake/write-presets.cmake`, which writes its
#   two presets into CMakePresets.json (build.sh and the test `presets`
#   refuse a stale file);
# - its line in the README's table of deliverables (the test
#   `readme.deliverables` compares file, os.name/os.arch and export with the
#   row), in nativeflushFile() of docs/java.md (`jvm.*` compares it with JVM), and
#   its line in CHANGELOG.md.
# A Linux one for a processor already built here (x86_64, i386, aarch64,
# ppc64le, arm, s390x, riscv64) gets its build and its abi, cases and jvm
# tests from the row alone. Beyond that, a new
# - processor for Linux needs its row in cmake/externals.cmake (clang's
#   target, root, linker, qemu, HotSpot), its packages in scripts/bootstrap.sh
#   and what its files must be (ELF_<ARCH>) in tests/CMakeLists.txt;
# - family or toolchain needs its sources in native/ and native/CMakeLists.txt,
#   or its file in cmake/toolchains/;
# - Windows or Mac deliverable needs its tests, which name each deliverable,
#   in tests/windows/CMakeLists.txt or tests/macho/macho.cmake.
#
# The fields of a row:
#   PLATFORM   what it runs on, in words: build.sh's listing, the DLL's description
#   FAMILY     its directory operations, native/<FAMILY>/: posix or windows
#   TOOLCHAIN  cmake/toolchains/<TOOLCHAIN>.cmake, which builds it
#   ARCH       that toolchain's NATIVEFLUSH_ARCH
#   FILE       its file name in dist/
#   EXPORT     the one name in its export table
#   JVM        the JVMs that load it, as "os.name/os.arch" the way HotSpot
#              reports them, "Windows" standing for every "Windows ...": the
#              jar's NativeflushLibrary picks its file by these, so each JVM
#              is in one row only
#   HARDENING  COMPILE and LINK options: what its format and processor allow
#              without a new import; the ABI checks read each back (tests/abi/)

# The JNI short name of DurableDiskSession.forceDirectories.
set(NATIVEFLUSH_JNI_NAME Java_org_movrek_filesystem_DurableDiskSession_forceDirectories)

# nativeflush_row(<name> PLATFORM ... FAMILY ... TOOLCHAIN ... ARCH ... FILE ...
#                 EXPORT ... JVM ... [HARDENING [COMPILE ...] [LINK ...]])
# Appends <name> to NATIVEFLUSH_DELIVERABLES and keeps its row.
function(nativeflush_row name)
  cmake_parse_arguments(PARSE_ARGV 1 row "" "PLATFORM;FAMILY;TOOLCHAIN;ARCH;FILE;EXPORT" "JVM;HARDENING")
  set(where "cmake/deliverables.cmake: the row of '${name}'")
  if(row_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${where} has '${row_UNPARSED_ARGUMENTS}' outside any field; expected only the fields listed at the top")
  endif()
  foreach(field PLATFORM FAMILY TOOLCHAIN ARCH FILE EXPORT JVM)
    if("${row_${field}}" STREQUAL "")
      message(FATAL_ERROR "${where} has no ${field}; every row needs PLATFORM, FAMILY, TOOLCHAIN, ARCH, FILE, EXPORT and JVM")
    endif()
  endforeach()
  if(NOT row_FAMILY MATCHES "^(posix|windows)$")
    message(FATAL_ERROR "${where} has FAMILY '${row_FAMILY}'; expected posix or windows")
  endif()
  if(NOT EXISTS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/toolchains/${row_TOOLCHAIN}.cmake)
    message(FATAL_ERROR "${where} has TOOLCHAIN '${row_TOOLCHAIN}'; expected a file cmake/toolchains/${row_TOOLCHAIN}.cmake")
  endif()
  foreach(other IN LISTS NATIVEFLUSH_DELIVERABLES)
    nativeflush_deliverable(${other} other)
    if(other STREQUAL name OR other_FILE STREQUAL row_FILE)
      message(FATAL_ERROR "${where} has the name or FILE of the row of '${other}'; expected both its own")
    endif()
    foreach(jvm IN LISTS row_JVM)
      list(FIND other_JVM "${jvm}" at)
      if(at GREATER -1)  # the jar would only ever offer the first
        message(FATAL_ERROR "${where} has JVM ${jvm}, which the row of '${other}' has; expected each JVM in one row")
      endif()
    endforeach()
  endforeach()
  set(NATIVEFLUSH_ROW_${name} "${ARGN}" PARENT_SCOPE)
  set(NATIVEFLUSH_DELIVERABLES ${NATIVEFLUSH_DELIVERABLES} ${name} PARENT_SCOPE)
endfunction()

# The jar's coordinates in dist/maven/, the Maven repository that
# cmake/maven.cmake makes, and the time on every entry of the jars made here
# and in that repository's metadata: fixed, so that the same source gives the
# same bytes.
set(NATIVEFLUSH_MAVEN_GROUP org.movrek)
set(NATIVEFLUSH_MAVEN_ARTIFACT nativeflush)
set(NATIVEFLUSH_JAR_DATE 2000-01-01T00:00:00Z)

# Gives the row of deliverable <name> as <prefix>_<FIELD> for each field,
# its hardening as <prefix>_COMPILE and <prefix>_LINK, and its one-line
# description as <prefix>_DESCRIPTION.
function(nativeflush_deliverable name prefix)
  if(NOT DEFINED NATIVEFLUSH_ROW_${name})
    message(FATAL_ERROR "unknown deliverable '${name}'; expected one of: ${NATIVEFLUSH_DELIVERABLES}")
  endif()
  cmake_parse_arguments(row "" "PLATFORM;FAMILY;TOOLCHAIN;ARCH;FILE;EXPORT" "JVM;HARDENING" ${NATIVEFLUSH_ROW_${name}})
  cmake_parse_arguments(hardening "" "" "COMPILE;LINK" ${row_HARDENING})
  foreach(field PLATFORM FAMILY TOOLCHAIN ARCH FILE EXPORT JVM)
    set(${prefix}_${field} "${row_${field}}" PARENT_SCOPE)
  endforeach()
  set(${prefix}_COMPILE ${hardening_COMPILE} PARENT_SCOPE)
  set(${prefix}_LINK ${hardening_LINK} PARENT_SCOPE)
  set(${prefix}_DESCRIPTION "DurableDiskSession.forceDirectories for ${row_PLATFORM}" PARENT_SCOPE)
endfunction()

# Toolchain files read this file again on every compiler check.
set(NATIVEFLUSH_DELIVERABLES "")

# The hardening, by format:
# - ELF: the GOT read-only after relocation (full RELRO: relro, and now, which
#   binds every import at load time), and the code marked for the processor's
#   control-flow protection (x86: IBT and shadow stack; AArch64: branch target
#   identification and pointer authentication, BTI and PAC). The linker ANDs
#   the marking over every object it links, so one unmarked object would
#   silently unmark the library; on x86 cet-report=error makes that a link
#   error instead. ppc64le, armv7, s390x, riscv64: no control-flow marking
#   that these compilers and linkers know exists for them; full RELRO only.
# - win32: the DLL has no exception handlers, so it says so (NO_SEH), and
#   needs no unwind tables (.eh_frame) either: nothing unwinds through it.
#   win64 keeps its .pdata/.xdata: x86-64 Windows unwinds by those tables.
nativeflush_row(linux64 PLATFORM "Linux x86-64" FAMILY posix TOOLCHAIN linux ARCH x86_64
  FILE libnativeflush_linux64.so EXPORT ${NATIVEFLUSH_JNI_NAME} JVM Linux/amd64
  HARDENING COMPILE -fcf-protection=full LINK -Wl,-z,relro,-z,now,-z,cet-report=error)
nativeflush_row(linux32 PLATFORM "Linux i386" FAMILY posix TOOLCHAIN linux ARCH i386
  FILE libnativeflush_linux32.so EXPORT ${NATIVEFLUSH_JNI_NAME} JVM Linux/i386 Linux/x86
  HARDENING COMPILE -fcf-protection=full LINK -Wl,-z,relro,-z,now,-z,cet-report=error)
nativeflush_row(linuxarm64 PLATFORM "Linux AArch64" FAMILY posix TOOLCHAIN linux ARCH aarch64
  FILE libnativeflush_linuxarm64.so EXPORT ${NATIVEFLUSH_JNI_NAME} JVM Linux/aarch64
  HARDENING COMPILE -mbranch-protection=standard LINK -Wl,-z,relro,-z,now)
nativeflush_row(linuxppc64le PLATFORM "Linux ppc64le" FAMILY posix TOOLCHAIN linux ARCH ppc64le
  FILE libnativeflush_linuxppc64le.so EXPORT ${NATIVEFLUSH_JNI_NAME} JVM Linux/ppc64le
  HARDENING LINK -Wl,-z,relro,-z,now)
nativeflush_row(linuxarm32 PLATFORM "Linux armhf" FAMILY posix TOOLCHAIN linux ARCH arm
  FILE libnativeflush_linuxarm32.so EXPORT ${NATIVEFLUSH_JNI_NAME} JVM Linux/arm
  HARDENING LINK -Wl,-z,relro,-z,now)
nativeflush_row(linuxs390x PLATFORM "Linux s390x" FAMILY posix TOOLCHAIN linux ARCH s390x
  FILE libnativeflush_linuxs390x.so EXPORT ${NATIVEFLUSH_JNI_NAME} JVM Linux/s390x
  HARDENING LINK -Wl,-z,relro,-z,now)
nativeflush_row(linuxriscv64 PLATFORM "Linux riscv64" FAMILY posix TOOLCHAIN linux ARCH riscv64
  FILE libnativeflush_linuxriscv64.so EXPORT ${NATIVEFLUSH_JNI_NAME} JVM Linux/riscv64
  HARDENING LINK -Wl,-z,relro,-z,now)
nativeflush_row(mac32 PLATFORM "Mac OS X i386" FAMILY posix TOOLCHAIN darwin ARCH i386
  FILE libnativeflush_mac32.dylib EXPORT _${NATIVEFLUSH_JNI_NAME} JVM "Mac OS X/i386")
# One universal file: an x86_64 and an arm64 slice, each exporting the name.
nativeflush_row(mac64 PLATFORM "macOS 64-bit" FAMILY posix TOOLCHAIN darwin ARCH universal
  FILE libnativeflush_mac64.dylib EXPORT _${NATIVEFLUSH_JNI_NAME} JVM "Mac OS X/x86_64" "Mac OS X/aarch64")
nativeflush_row(win64 PLATFORM "Windows x86-64" FAMILY windows TOOLCHAIN mingw ARCH x86_64
  FILE nativeflush_win64.dll EXPORT ${NATIVEFLUSH_JNI_NAME} JVM Windows/amd64)
# stdcall on i386: the decorated name, with the 12 bytes of its three arguments.
nativeflush_row(win32 PLATFORM "Windows i386" FAMILY windows TOOLCHAIN mingw ARCH i686
  FILE nativeflush_win32.dll EXPORT _${NATIVEFLUSH_JNI_NAME}@12 JVM Windows/x86
  HARDENING COMPILE -fno-asynchronous-unwind-tables LINK -Wl,--no-seh)
nativeflush_row(winarm64 PLATFORM "Windows AArch64" FAMILY windows TOOLCHAIN mingw ARCH aarch64
  FILE nativeflush_winarm64.dll EXPORT ${NATIVEFLUSH_JNI_NAME} JVM Windows/aarch64)
