# Run by CPack after packaging/stamp.cmake and before it writes the zip: when SIGN_PFX
# names a PKCS#12 file, signs the staged program (Authenticode, SHA-256) with
# osslsigncode, so that Windows can name its publisher. Without SIGN_PFX it does nothing.
#
# Everything comes from the environment of the package command, never from the cache:
#   SIGN_PFX            the certificate and its private key, a PKCS#12 (.pfx/.p12) file
#   SIGN_PASSWORD_FILE  a file holding that file's password (osslsigncode reads it itself,
#                       so the password is on no command line and in no log)
#   SIGN_TIMESTAMP_URL  optional, an RFC 3161 time-stamp server
# The signing time is the zip's date (SOURCE_DATE_EPOCH, set by stamp.cmake): with the
# same certificate and no time-stamp server, two signings give the same bytes.

if("$ENV{SIGN_PFX}" STREQUAL "")
  return()
endif()

include("${CMAKE_CURRENT_LIST_DIR}/output_folder.cmake")
set(program "${CPACK_TEMPORARY_DIRECTORY}/MorvaneShutdown.exe")
set(signed "${CPACK_TOPLEVEL_DIRECTORY}/MorvaneShutdown.signed.exe")

# A failed signing must not leave a download behind: neither an earlier zip and its
# SHA256SUMS, which would pass for this build's, nor the unsigned program in the zip
# CPack still writes to its work folder after a failed script (it only withholds it).
function(signing_failed why)
  file(REMOVE "${folder}/${CPACK_PACKAGE_FILE_NAME}.zip" "${folder}/SHA256SUMS" "${program}" "${signed}")
  message(FATAL_ERROR "Signing MorvaneShutdown.exe failed: ${why}\nNo zip was made.")
endfunction()

# CPack runs in the build folder, where a relative path would quietly mean something else.
foreach(variable SIGN_PFX SIGN_PASSWORD_FILE)
  set(path "$ENV{${variable}}")
  if(path STREQUAL "")
    signing_failed("SIGN_PFX is set, so ${variable} must name the file holding the certificate's password.")
  elseif(NOT IS_ABSOLUTE "${path}")
    signing_failed("${variable} must be an absolute path, not ${path}.")
  elseif(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    signing_failed("${variable} names ${path}, which is not a file.")
  endif()
endforeach()

find_program(MORVANE_OSSLSIGNCODE osslsigncode)
if(NOT MORVANE_OSSLSIGNCODE)
  signing_failed("osslsigncode is not installed (bash scripts/deps.sh installs it).")
endif()
if(NOT EXISTS "${program}")
  signing_failed("the staged program is missing: ${program}")
endif()

set(timestamp "")
if(NOT "$ENV{SIGN_TIMESTAMP_URL}" STREQUAL "")
  set(timestamp -ts "$ENV{SIGN_TIMESTAMP_URL}")
endif()

file(REMOVE "${signed}")
execute_process(
  COMMAND "${MORVANE_OSSLSIGNCODE}" sign
          -pkcs12 "$ENV{SIGN_PFX}" -readpass "$ENV{SIGN_PASSWORD_FILE}"
          -h sha256 -time "$ENV{SOURCE_DATE_EPOCH}" ${timestamp}
          -in "${program}" -out "${signed}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT EXISTS "${signed}")
  signing_failed("osslsigncode could not sign with $ENV{SIGN_PFX}: a wrong password, a file that is not a PKCS#12 certificate with its private key, or an unreachable time-stamp server. It said:\n${output}")
endif()

# The signed file replaces the staged one with the mode install() gives a program, so
# the zip's entry is the same whatever the umask of whoever signs.
file(RENAME "${signed}" "${program}")
file(CHMOD "${program}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
message(STATUS "Signed MorvaneShutdown.exe with $ENV{SIGN_PFX}")
