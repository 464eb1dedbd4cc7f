# Detached GnuPG signatures (.asc) by the key that NATIVEFLUSH_SIGNING_KEY
# names in the user's keyring: a key id, fingerprint or user id. Without it,
# says what goes unsigned. Signatures carry their time, so a signed dist/ is
# the same bytes only up to them.
#   include(cmake/sign.cmake): nativeflush_sign(WHAT LIST) signs each file of
#     the list variable LIST and appends its .asc to it; WHAT names them.
#   cmake -DWHAT=... -DFILES=a;b -P cmake/sign.cmake: the same for FILES.
include(${CMAKE_CURRENT_LIST_DIR}/externals.cmake)

function(nativeflush_sign what list)
  set(key "$ENV{NATIVEFLUSH_SIGNING_KEY}")
  if(key STREQUAL "")
    execute_process(COMMAND ${CMAKE_COMMAND} -E echo
                    "${what}: not signed (NATIVEFLUSH_SIGNING_KEY names no GnuPG key), so no .asc files")
    return()
  endif()
  nativeflush_require(${NATIVEFLUSH_GPG})
  execute_process(COMMAND ${NATIVEFLUSH_GPG} --batch --list-secret-keys -- ${key}
                  RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
  if(missing)
    message(FATAL_ERROR "NATIVEFLUSH_SIGNING_KEY is '${key}', but the GnuPG keyring (gpg --list-secret-keys) "
                        "holds no secret key by that name; expected a key id, fingerprint or user id of one")
  endif()
  set(files ${${list}})
  foreach(file IN LISTS ${list})
    execute_process(COMMAND ${NATIVEFLUSH_GPG} --batch --yes --armor --detach-sign --local-user ${key}
                            --output ${file}.asc ${file}
                    COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND files ${file}.asc)
  endforeach()
  set(${list} ${files} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  nativeflush_sign("${WHAT}" FILES)
endif()
