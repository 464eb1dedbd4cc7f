# cmake -DDIST=dist -DWORK=build/jar -DVERSION=1.0.0 -P cmake/jar.cmake
# Makes DIST/nativeflush-VERSION.jar for Java teams: every deliverable that
# DIST/SHA256SUMS lists, each in a folder named after its preset under
# org/movrek/nativeflush/native/ ("native" is no package name, so the module
# owns no package there), and NativeflushLibrary, which picks one by the
# deliverables' os.name/os.arch and checks it against the listed hash. Java 8
# bytecode; module-info for Java 9 and later in the multi-release part.
# Same inputs, same bytes: a fixed entry order and a fixed time on every entry.
include(${CMAKE_CURRENT_LIST_DIR}/deliverables.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/externals.cmake)
set(javac ${NATIVEFLUSH_JDK}/bin/javac)
set(jar ${NATIVEFLUSH_JDK}/bin/jar)
nativeflush_require(${javac})
nativeflush_require(${jar})
set(java ${CMAKE_CURRENT_LIST_DIR}/../java)
set(class org/movrek/nativeflush/NativeflushLibrary)

get_filename_component(DIST ${DIST} ABSOLUTE)
get_filename_component(WORK ${WORK} ABSOLUTE)
file(REMOVE_RECURSE ${WORK})
file(STRINGS ${DIST}/SHA256SUMS sums)
set(PLATFORMS "")
set(entries ${class}.class)
foreach(name IN LISTS NATIVEFLUSH_DELIVERABLES)
  nativeflush_deliverable(${name} d)
  set(hash "")
  foreach(line IN LISTS sums)
    if(line MATCHES "^([0-9a-f]+)  (.*)$" AND CMAKE_MATCH_2 STREQUAL d_FILE)
      set(hash ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if(hash STREQUAL "")
    continue()  # not built this time
  endif()
  set(entry org/movrek/nativeflush/native/${name}/${d_FILE})
  file(MAKE_DIRECTORY ${WORK}/jar/org/movrek/nativeflush/native/${name})
  file(COPY_FILE ${DIST}/${d_FILE} ${WORK}/jar/${entry})
  list(APPEND entries ${entry})
  foreach(jvm IN LISTS d_JVM)
    string(APPEND PLATFORMS "        {\"${jvm}\", \"${name}\", \"${d_FILE}\", \"${hash}\"},\n")
  endforeach()
endforeach()
configure_file(${java}/${class}.java.in ${WORK}/src/${class}.java @ONLY)

execute_process(COMMAND ${javac} --release 8 -Xlint:all -Werror -d ${WORK}/jar ${WORK}/src/${class}.java
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${javac} --release 9 -Xlint:all -Werror -d ${WORK}/module
                        ${java}/module-info.java ${WORK}/src/${class}.java
                COMMAND_ERROR_IS_FATAL ANY)
# Entries in the order listed here; the jar tool would take a folder's in the
# file system's order.
execute_process(COMMAND ${jar} --create --file ${DIST}/nativeflush-${VERSION}.jar --date=${NATIVEFLUSH_JAR_DATE}
                        ${entries} --release 9 -C ${WORK}/module module-info.class
                WORKING_DIRECTORY ${WORK}/jar
                COMMAND_ERROR_IS_FATAL ANY)
