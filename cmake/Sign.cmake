# Authenticode signing (SHA-256, osslsigncode) of the images a maker ships,
# only when asked for:
#   -DQLX_SIGN_PFX=<certificate with its key, PKCS#12>
#   -DQLX_SIGN_PASSWORD_FILE=<file holding the PKCS#12 password>
#   [-DQLX_SIGN_TIMESTAMP_URL=<RFC 3161 time-stamp server>]
# Without them nothing is signed.
#
# Included: qlx_sign(<target>...) signs each target's file after every link.
# As a script, signs one file in place:
#   cmake -DFILE=<image> -DOSSLSIGNCODE=<tool> -DPFX=<pfx> -DPASSWORD_FILE=<file>
#         [-DTIMESTAMP_URL=<url>] -P Sign.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  set(signed ${FILE}.signed)
  file(REMOVE ${signed})
  # The password only ever travels in its file, never on a command line.
  set(args sign -pkcs12 ${PFX} -readpass ${PASSWORD_FILE} -h sha256)
  if(TIMESTAMP_URL)
    list(APPEND args -ts ${TIMESTAMP_URL})
  elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
    # A reproducible build's signature too: the signing time is the only
    # thing that differs between two signings of the same image.
    list(APPEND args -time $ENV{SOURCE_DATE_EPOCH})
  endif()
  execute_process(COMMAND ${OSSLSIGNCODE} ${args} -in ${FILE} -out ${signed}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR NOT EXISTS ${signed})
    # The unsigned image goes too, so that the next build links and signs it
    # again instead of taking it for up to date.
    file(REMOVE ${signed} ${FILE})
    message(FATAL_ERROR "Signing ${FILE} failed:\n${output}")
  endif()
  # Executable, as the linker left it.
  file(CHMOD ${signed} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                        GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  file(RENAME ${signed} ${FILE})
  return()
endif()

include_guard(GLOBAL)

set(QLX_SIGN_PFX "" CACHE FILEPATH "PKCS#12 file to sign the product and the setup program with")
set(QLX_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of QLX_SIGN_PFX")
set(QLX_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signatures")

if(QLX_SIGN_PFX OR QLX_SIGN_PASSWORD_FILE)
  if(NOT QLX_SIGN_PFX OR NOT QLX_SIGN_PASSWORD_FILE)
    message(FATAL_ERROR "Signing needs both QLX_SIGN_PFX and QLX_SIGN_PASSWORD_FILE")
  endif()
  foreach(file QLX_SIGN_PFX QLX_SIGN_PASSWORD_FILE)
    if(NOT EXISTS "${${file}}" OR IS_DIRECTORY "${${file}}")
      message(FATAL_ERROR "${file}: no such file: ${${file}}")
    endif()
  endforeach()
  find_program(QLX_OSSLSIGNCODE osslsigncode REQUIRED)
  message(STATUS "Signing with ${QLX_SIGN_PFX}")
endif()

function(qlx_sign)
  if(NOT QLX_SIGN_PFX)
    return()
  endif()
  foreach(target ${ARGN})
    # Another certificate, password or way of signing: the target links and
    # is signed again.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QLX_SIGN_PFX}
                 ${QLX_SIGN_PASSWORD_FILE} ${CMAKE_CURRENT_FUNCTION_LIST_FILE})
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${target}> -DOSSLSIGNCODE=${QLX_OSSLSIGNCODE}
              -DPFX=${QLX_SIGN_PFX} -DPASSWORD_FILE=${QLX_SIGN_PASSWORD_FILE}
              -DTIMESTAMP_URL=${QLX_SIGN_TIMESTAMP_URL} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      COMMENT "Signing ${target}"
      VERBATIM)
  endforeach()
endfunction()
