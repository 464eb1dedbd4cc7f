# cmake -P cmake/list-deliverables.cmake
# Prints one tab-separated line per deliverable: preset, platform, file, exported name,
# and its JVMs, comma-separated.
include(${CMAKE_CURRENT_LIST_DIR}/deliverables.cmake)
foreach(name IN LISTS NATIVEFLUSH_DELIVERABLES)
  nativeflush_deliverable(${name} d)
  string(JOIN , jvms ${d_JVM})
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${name}\t${d_PLATFORM}\t${d_FILE}\t${d_EXPORT}\t${jvms}")
endforeach()
