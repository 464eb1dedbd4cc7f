# The one list of what this project delivers. The build, scripts/build.sh and
# every test read the exported name and the deliverables from here.

# The JNI short name of DurableDiskSession.forceDirectories.
set(NATIVEFLUSH_JNI_NAME Java_org_movrek_filesystem_DurableDiskSession_forceDirectories)

# One entry per deliverable, keyed by its CMake preset:
#   target description; directory-operations family; file name; name in the export table
set(NATIVEFLUSH_DELIVERABLES linux64 linux32 linuxarm64 linuxppc64le linuxarm32 linuxs390x linuxriscv64 mac32 mac64 win64 win32 winarm64)
set(NATIVEFLUSH_DELIVERABLE_linux64 "Linux x86-64;posix;libnativeflush_linux64.so;${NATIVEFLUSH_JNI_NAME}")
set(NATIVEFLUSH_DELIVERABLE_linux32 "Linux i386;posix;libnativeflush_linux32.so;${NATIVEFLUSH_JNI_NAME}")
set(NATIVEFLUSH_DELIVERABLE_linuxarm64 "Linux AArch64;posix;libnativeflush_linuxarm64.so;${NATIVEFLUSH_JNI_NAME}")
set(NATIVEFLUSH_DELIVERABLE_linuxppc64le "Linux ppc64le;posix;libnativeflush_linuxppc64le.so;${NATIVEFLUSH_JNI_NAME}")
set(NATIVEFLUSH_DELIVERABLE_linuxarm32 "Linux armhf;posix;libnativeflush_linuxarm32.so;${NATIVEFLUSH_JNI_NAME}")
set(NATIVEFLUSH_DELIVERABLE_linuxs390x "Linux s390x;posix;libnativeflush_linuxs390x.so;${NATIVEFLUSH_JNI_NAME}")
set(NATIVEFLUSH_DELIVERABLE_linuxriscv64 "Linux riscv64;posix;libnativeflush_linuxriscv64.so;${NATIVEFLUSH_JNI_NAME}")
set(NATIVEFLUSH_DELIVERABLE_mac32 "Mac OS X i386;posix;libnativeflush_mac32.dylib;_${NATIVEFLUSH_JNI_NAME}")
set(NATIVEFLUSH_DELIVERABLE_win64 "Windows x86-64;windows;nativeflush_win64.dll;${NATIVEFLUSH_JNI_NAME}")
set(NATIVEFLUSH_DELIVERABLE_winarm64 "Windows AArch64;windows;nativeflush_winarm64.dll;${NATIVEFLUSH_JNI_NAME}")
# stdcall on i386: the decorated name, with the 12 bytes of its three arguments.
set(NATIVEFLUSH_DELIVERABLE_win32 "Windows i386;windows;nativeflush_win32.dll;_${NATIVEFLUSH_JNI_NAME}@12")
# One universal file: an x86_64 and an arm64 slice, each exporting the name.
set(NATIVEFLUSH_DELIVERABLE_mac64 "macOS 64-bit;posix;libnativeflush_mac64.dylib;_${NATIVEFLUSH_JNI_NAME}")

# The JVMs that load each deliverable, as "os.name/os.arch" the way HotSpot
# reports them, "Windows" standing for every "Windows ...": the jar's
# NativeflushLibrary picks its file by these, as docs/java.md's nativeflushFile()
# does. A new deliverable needs its line here, or the jar is not built.
set(NATIVEFLUSH_JVM_linux64 Linux/amd64)
set(NATIVEFLUSH_JVM_linux32 Linux/i386 Linux/x86)
set(NATIVEFLUSH_JVM_linuxarm64 Linux/aarch64)
set(NATIVEFLUSH_JVM_linuxppc64le Linux/ppc64le)
set(NATIVEFLUSH_JVM_linuxarm32 Linux/arm)
set(NATIVEFLUSH_JVM_linuxs390x Linux/s390x)
set(NATIVEFLUSH_JVM_linuxriscv64 Linux/riscv64)
set(NATIVEFLUSH_JVM_mac32 "Mac OS X/i386")
set(NATIVEFLUSH_JVM_mac64 "Mac OS X/x86_64" "Mac OS X/aarch64")
set(NATIVEFLUSH_JVM_win64 Windows/amd64)
set(NATIVEFLUSH_JVM_win32 Windows/x86)
set(NATIVEFLUSH_JVM_winarm64 Windows/aarch64)

# The jar's coordinates in dist/maven/, the Maven repository that
# cmake/maven.cmake makes, and the time on every entry of the jars made here
# and in that repository's metadata: fixed, so that the same source gives the
# same bytes.
set(NATIVEFLUSH_MAVEN_GROUP org.movrek)
set(NATIVEFLUSH_MAVEN_ARTIFACT nativeflush)
set(NATIVEFLUSH_JAR_DATE 2000-01-01T00:00:00Z)

# Splits the entry of deliverable <name> into <prefix>_TARGET, _FAMILY, _FILE,
# _EXPORT, and gives its one-line description as <prefix>_DESCRIPTION.
function(nativeflush_deliverable name prefix)
  if(NOT DEFINED NATIVEFLUSH_DELIVERABLE_${name})
    message(FATAL_ERROR "unknown deliverable '${name}'; expected one of: ${NATIVEFLUSH_DELIVERABLES}")
  endif()
  set(entry "${NATIVEFLUSH_DELIVERABLE_${name}}")
  list(GET entry 0 target)
  list(GET entry 1 family)
  list(GET entry 2 file)
  list(GET entry 3 export)
  set(${prefix}_TARGET "${target}" PARENT_SCOPE)
  set(${prefix}_FAMILY "${family}" PARENT_SCOPE)
  set(${prefix}_FILE "${file}" PARENT_SCOPE)
  set(${prefix}_EXPORT "${export}" PARENT_SCOPE)
  set(${prefix}_DESCRIPTION "DurableDiskSession.forceDirectories for ${target}" PARENT_SCOPE)
endfunction()
