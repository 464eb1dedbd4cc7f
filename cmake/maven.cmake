# cmake -DDIST=dist -DWORK=build/jar -DVERSION=1.0.0 -P cmake/maven.cmake
# Makes DIST/maven/, a Maven repository holding one release of the jar, for
# build tools to resolve by its coordinates (cmake/deliverables.cmake): DIST's
# jar as it is, its POM, a sources jar (the loader's source as cmake/jar.cmake
# filled it in, in WORK/src, and module-info.java), a javadoc jar of the public
# API, the SBOM (tools/release_records.py writes it into DIST first) with the
# classifier cyclonedx, and the artifact's maven-metadata.xml. Beside every
# file its .md5, .sha1, .sha256 and .sha512, as Maven's deploy writes them
# (bare hex). When NATIVEFLUSH_SIGNING_KEY names a secret key in the user's
# GnuPG keyring, each of those files also gets a detached .asc
# (cmake/sign.cmake), with its own checksums.
# Same inputs, same bytes (signatures aside, which carry their time): sorted
# entries at the jar's fixed time, javadoc without its time stamp and in one
# locale, lastUpdated from that fixed time rather than the clock.
include(${CMAKE_CURRENT_LIST_DIR}/deliverables.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/externals.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
foreach(tool jar javadoc)
  set(${tool} ${NATIVEFLUSH_JDK}/bin/${tool})
  nativeflush_require(${${tool}})
endforeach()
set(java ${CMAKE_CURRENT_LIST_DIR}/../java)
set(group ${NATIVEFLUSH_MAVEN_GROUP})
set(artifact ${NATIVEFLUSH_MAVEN_ARTIFACT})

get_filename_component(DIST ${DIST} ABSOLUTE)
get_filename_component(WORK ${WORK} ABSOLUTE)
set(scratch ${WORK}/maven)
string(REPLACE . / folder ${group}/${artifact})
set(folder ${DIST}/maven/${folder})
set(base ${folder}/${VERSION}/${artifact}-${VERSION})
file(REMOVE_RECURSE ${scratch} ${DIST}/maven)
file(MAKE_DIRECTORY ${folder}/${VERSION})
file(COPY_FILE ${DIST}/${artifact}-${VERSION}.jar ${base}.jar)

# The SBOM, in DIST and attached as the CycloneDX Maven plugin attaches one.
execute_process(COMMAND ${NATIVEFLUSH_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/../tools/release_records.py sbom
                        ${DIST} ${group} ${artifact} ${VERSION}
                COMMAND_ERROR_IS_FATAL ANY)
file(COPY_FILE ${DIST}/${artifact}-${VERSION}.cdx.json ${base}-cyclonedx.json)

# The POM: what Central asks for that this project knows. Licence,
# developers and SCM are the publisher's to add (README.md, "Releasing").
file(STRINGS ${java}/module-info.java module REGEX "^module ")
string(REGEX REPLACE "^module ([A-Za-z0-9_.]+).*" "\\1" module "${module}")
file(CONFIGURE OUTPUT ${base}.pom @ONLY CONTENT [[<?xml version="1.0" encoding="UTF-8"?>
<project xmlns="http://maven.apache.org/POM/4.0.0" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"
         xsi:schemaLocation="http://maven.apache.org/POM/4.0.0 https://maven.apache.org/xsd/maven-4.0.0.xsd">
  <modelVersion>4.0.0</modelVersion>
  <groupId>@group@</groupId>
  <artifactId>@artifact@</artifactId>
  <version>@VERSION@</version>
  <packaging>jar</packaging>
  <name>@artifact@</name>
  <description>The native side of org.movrek.filesystem.DurableDiskSession.forceDirectories(String[]) for Linux, macOS and Windows, with NativeflushLibrary, which puts this JVM's library file on disk for the caller to load. Java 8 and later; Java module @module@.</description>
</project>
]])

# A jar of FOLDER's files, entries sorted.
function(make_jar file folder)
  file(GLOB_RECURSE entries RELATIVE ${folder} ${folder}/*)
  list(SORT entries)
  execute_process(COMMAND ${jar} --create --no-manifest --file ${file} --date=${NATIVEFLUSH_JAR_DATE} ${entries}
                  WORKING_DIRECTORY ${folder}
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()
file(COPY ${WORK}/src/ ${java}/module-info.java DESTINATION ${scratch}/sources)
make_jar(${base}-sources.jar ${scratch}/sources)
file(GLOB_RECURSE sources ${scratch}/sources/*.java)
execute_process(COMMAND ${javadoc} -d ${scratch}/javadoc -notimestamp -locale en -quiet -Xdoclint:all,-missing -Werror
                        ${sources}
                COMMAND_ERROR_IS_FATAL ANY)
make_jar(${base}-javadoc.jar ${scratch}/javadoc)

string(REGEX REPLACE "[-T:Z]" "" updated ${NATIVEFLUSH_JAR_DATE})
file(CONFIGURE OUTPUT ${folder}/maven-metadata.xml @ONLY CONTENT [[<?xml version="1.0" encoding="UTF-8"?>
<metadata>
  <groupId>@group@</groupId>
  <artifactId>@artifact@</artifactId>
  <versioning>
    <latest>@VERSION@</latest>
    <release>@VERSION@</release>
    <versions>
      <version>@VERSION@</version>
    </versions>
    <lastUpdated>@updated@</lastUpdated>
  </versioning>
</metadata>
]])

set(files ${base}.jar ${base}.pom ${base}-sources.jar ${base}-javadoc.jar ${base}-cyclonedx.json
    ${folder}/maven-metadata.xml)
nativeflush_sign(dist/maven/ files)
foreach(file IN LISTS files)
  foreach(algorithm MD5 SHA1 SHA256 SHA512)
    file(${algorithm} ${file} hash)
    string(TOLOWER ${algorithm} extension)
    file(WRITE ${file}.${extension} ${hash})
  endforeach()
endforeach()
