# cmake -P cmake/write-presets.cmake            writes CMakePresets.json
# cmake -D CHECK=ON -P cmake/write-presets.cmake  fails if it is not current
# CMake reads the presets before any configure, so they are a file in the
# tree; this writes it from the rows of cmake/deliverables.cmake: for each
# deliverable a configure preset (its toolchain, its NATIVEFLUSH_ARCH) and a
# build preset, and then the tests preset.
include(${CMAKE_CURRENT_LIST_DIR}/deliverables.cmake)
set(presets ${CMAKE_CURRENT_LIST_DIR}/../CMakePresets.json)

set(configure "")
set(build "")
foreach(name IN LISTS NATIVEFLUSH_DELIVERABLES)
  nativeflush_deliverable(${name} d)
  string(APPEND configure "    {
      \"name\": \"${name}\", \"inherits\": \"base\", \"displayName\": \"${d_PLATFORM}\",
      \"toolchainFile\": \"\${sourceDir}/cmake/toolchains/${d_TOOLCHAIN}.cmake\",
      \"cacheVariables\": {\"NATIVEFLUSH_ARCH\": \"${d_ARCH}\"}
    },
")
  string(APPEND build "    {\"name\": \"${name}\", \"configurePreset\": \"${name}\"},\n")
endforeach()
string(CONFIGURE [=[{
  "version": 6,
  "cmakeMinimumRequired": {"major": 3, "minor": 25, "patch": 0},
  "configurePresets": [
    {
      "name": "base", "hidden": true,
      "description": "Written by cmake -P cmake/write-presets.cmake from the rows of cmake/deliverables.cmake",
      "binaryDir": "${sourceDir}/build/${presetName}",
      "generator": "Unix Makefiles",
      "cacheVariables": {"NATIVEFLUSH_DELIVERABLE": "${presetName}"}
    },
@configure@    {
      "name": "tests",
      "description": "Test programs and the CTest suite; reads the deliverables from dist/",
      "binaryDir": "${sourceDir}/build/tests",
      "generator": "Unix Makefiles"
    }
  ],
  "buildPresets": [
@build@    {"name": "tests", "configurePreset": "tests"}
  ],
  "testPresets": [
    {"name": "tests", "configurePreset": "tests", "output": {"outputOnFailure": true}}
  ]
}
]=] text @ONLY)

if(NOT CHECK)
  file(WRITE ${presets} "${text}")
  return()
endif()
file(READ ${presets} committed)
if(NOT committed STREQUAL text)
  message(FATAL_ERROR "CMakePresets.json is not what the rows of cmake/deliverables.cmake give; "
                      "expected it rewritten by: cmake -P cmake/write-presets.cmake")
endif()
