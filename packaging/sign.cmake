# Run by CPack after packaging/stamp.cmake and before it writes the zip: when a
# code-signing certificate is given, signs the staged program (Authenticode, SHA-256)
# with osslsigncode, so that Windows can name its publisher. Given none, it leaves the
# program as it is. Either way it writes the read-me to match (packaging/readme.cmake):
# it tells the user to check the signature only when the program in the zip has one.
#
# Everything comes from the environment of the package command, never from the cache.
# The key comes one of two ways, never both:
#   SIGN_PFX            the certificate and its private key, a PKCS#12 (.pfx/.p12) file;
# or a key that never leaves its hardware token or signing service:
#   SIGN_PKCS11_MODULE  the token's or the service's PKCS#11 library
#   SIGN_KEY            the key, as a PKCS#11 URI (RFC 7512: pkcs11:token=...;object=...)
#   SIGN_CERTS          the certificate with its chain, a PEM file
# and either way:
#   SIGN_PASSWORD_FILE  a file holding the PKCS#12 file's password or the token's PIN
#                       (osslsigncode reads it itself, so it is on no command line and
#                       in no log)
#   SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, or "none" to sign without a
#                       time-stamp on purpose. Required: an untime-stamped signature
#                       counts as no signature once the certificate expires.
# The signing time is the zip's date (SOURCE_DATE_EPOCH, set by stamp.cmake): with the
# same key and no time-stamp, two signings give the same bytes, whichever way the key
# comes. A time-stamp changes only the signature, never the program under it.

include("${CMAKE_CURRENT_LIST_DIR}/output_folder.cmake")
set(program "${CPACK_TEMPORARY_DIRECTORY}/MorvaneShutdown.exe")
set(signed "${CPACK_TOPLEVEL_DIRECTORY}/MorvaneShutdown.signed.exe")
include("${CMAKE_CURRENT_LIST_DIR}/readme.cmake")

macro(write_readme signed)
  morvane_readme("${CPACK_TEMPORARY_DIRECTORY}/README.txt" "${CPACK_PACKAGE_VERSION}"
                 "${CPACK_PACKAGE_FILE_NAME}.zip" ${signed})
endmacro()

# The little-endian number of `length` bytes at `offset` in a file; 0 past its end.
function(read_number file offset length out)
  file(READ "${file}" hex OFFSET ${offset} LIMIT ${length} HEX)
  string(REGEX MATCHALL ".." bytes "${hex}")
  list(REVERSE bytes)
  string(JOIN "" hex 0x0 ${bytes})
  math(EXPR value "${hex}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# Whether a program carries an Authenticode signature: whether the certificate table
# (the fifth data directory of its PE optional header) has a size.
function(carries_signature out program)
  read_number("${program}" 60 4 pe) # e_lfanew: where the PE header starts
  math(EXPR optional "${pe} + 24")
  read_number("${program}" ${optional} 2 magic)
  if(magic EQUAL 523) # 0x20b, PE32+: 64-bit fields before the data directories
    math(EXPR size "${optional} + 112 + 4 * 8 + 4")
  else()
    math(EXPR size "${optional} + 96 + 4 * 8 + 4")
  endif()
  read_number("${program}" ${size} 4 bytes)
  if(bytes GREATER 0)
    set(${out} ON PARENT_SCOPE)
  else()
    set(${out} OFF PARENT_SCOPE)
  endif()
endfunction()

# A failed signing must not leave a download behind: neither an earlier zip, its
# SHA256SUMS and Store package, which would pass for this build's, nor the unsigned
# program in the zip CPack still writes to its work folder after a failed script (it only
# withholds it).
function(signing_failed why)
  file(REMOVE "${folder}/${CPACK_PACKAGE_FILE_NAME}.zip" "${folder}/SHA256SUMS" "${folder}/${CPACK_MORVANE_MSIX_FILE}"
              "${program}" "${signed}")
  message(FATAL_ERROR "Signing MorvaneShutdown.exe failed: ${why}\nNo zip was made.")
endfunction()

# The names, of those given, whose environment variable is set.
function(settings_given out)
  set(given "")
  foreach(variable ${ARGN})
    if(NOT "$ENV{${variable}}" STREQUAL "")
      list(APPEND given ${variable})
    endif()
  endforeach()
  set(${out} "${given}" PARENT_SCOPE)
endfunction()

settings_given(token_given SIGN_PKCS11_MODULE SIGN_KEY SIGN_CERTS)
if("$ENV{SIGN_PFX}" STREQUAL "" AND "$ENV{SIGN_PKCS11_MODULE}" STREQUAL "" AND "$ENV{SIGN_KEY}" STREQUAL "")
  # No key. A signing setting given without one means a signed download was meant, and a
  # key that did not come (a variable not exported, a typo in its name): an unsigned zip
  # made in silence would go out as if signed.
  settings_given(stray SIGN_CERTS SIGN_PASSWORD_FILE SIGN_TIMESTAMP_URL)
  if(stray)
    string(REPLACE ";" " and " stray "${stray}")
    signing_failed("${stray} set, but no key to sign with. Give SIGN_PFX, or SIGN_PKCS11_MODULE, SIGN_KEY and SIGN_CERTS; or unset ${stray} for an unsigned zip.")
  endif()
  # Signed already, if whoever releases signed the built program with a tool of their own.
  carries_signature(already "${program}")
  write_readme(${already})
  return()
endif()

if(NOT "$ENV{SIGN_PFX}" STREQUAL "" AND token_given)
  string(REPLACE ";" ", " token_given "${token_given}")
  signing_failed("both SIGN_PFX and ${token_given} are set. Give the key one way only: a PKCS#12 file (SIGN_PFX), or a key behind PKCS#11 (SIGN_PKCS11_MODULE, SIGN_KEY and SIGN_CERTS).")
endif()

# What each route needs, and what each setting must name.
if(token_given)
  set(route "Signing with a key behind PKCS#11")
  set(files SIGN_PKCS11_MODULE SIGN_CERTS SIGN_PASSWORD_FILE)
  set(SIGN_PASSWORD_FILE_is "the file holding the token's PIN")
else()
  set(route "Signing with SIGN_PFX")
  set(files SIGN_PFX SIGN_PASSWORD_FILE)
  set(SIGN_PASSWORD_FILE_is "the file holding the certificate's password")
endif()
set(SIGN_PKCS11_MODULE_is "the token's or the signing service's PKCS#11 library")
set(SIGN_CERTS_is "the certificate with its chain, a PEM file")
set(SIGN_KEY_is "the key, as a PKCS#11 URI (pkcs11:token=...;object=...)")

# CPack runs in the build folder, where a relative path would quietly mean something else.
foreach(variable IN LISTS files)
  set(path "$ENV{${variable}}")
  if(path STREQUAL "")
    signing_failed("${route} needs ${variable} too: ${${variable}_is}.")
  elseif(NOT IS_ABSOLUTE "${path}")
    signing_failed("${variable} must be an absolute path, not ${path}.")
  elseif(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    signing_failed("${variable} names ${path}, which is not a file.")
  endif()
  # Hashed only to learn whether it can be read; the hash goes nowhere.
  execute_process(COMMAND "${CMAKE_COMMAND}" -E sha256sum "${path}" RESULT_VARIABLE unreadable OUTPUT_QUIET ERROR_QUIET)
  if(NOT unreadable EQUAL 0)
    signing_failed("${variable} names ${path}, which cannot be read.")
  endif()
endforeach()

if(token_given)
  set(uri "$ENV{SIGN_KEY}")
  if(uri STREQUAL "")
    signing_failed("${route} needs SIGN_KEY too: ${SIGN_KEY_is}.")
  elseif(NOT uri MATCHES "^pkcs11:")
    signing_failed("SIGN_KEY must be ${SIGN_KEY_is}, not ${uri}.")
  elseif(uri MATCHES "[;?&]pin-value=")
    # It would stand on osslsigncode's command line, where other users can read it.
    signing_failed("SIGN_KEY holds the PIN (pin-value). Leave it out of the URI and put it in the file SIGN_PASSWORD_FILE names.")
  endif()
  set(which "the key ${uri} through $ENV{SIGN_PKCS11_MODULE}")
  set(causes "a wrong PIN (which counts against the token's tries), a URI that finds no key, certificates in SIGN_CERTS that are not the key's, or no OpenSSL pkcs11 engine (libengine-pkcs11-openssl)")
  set(module "$ENV{SIGN_PKCS11_MODULE}")
  set(certs "$ENV{SIGN_CERTS}")
  # In an argument list a value keeps its semicolons (a URI's separators) only escaped.
  foreach(value uri module certs)
    string(REPLACE ";" "\\;" ${value} "${${value}}")
  endforeach()
  set(key -pkcs11module "${module}" -certs "${certs}" -key "${uri}")
else()
  set(which "$ENV{SIGN_PFX}")
  set(causes "a wrong password, or a file that is not a PKCS#12 certificate with its private key")
  string(REPLACE ";" "\\;" pfx "$ENV{SIGN_PFX}")
  set(key -pkcs12 "${pfx}")
endif()

# Windows holds an untime-stamped signature valid only while its certificate is: after
# that the program counts as unsigned, and Smart App Control blocks the download.
set(url "$ENV{SIGN_TIMESTAMP_URL}")
if(url STREQUAL "")
  signing_failed("SIGN_TIMESTAMP_URL is not set. Without a time-stamp the signature would count as unsigned once the certificate expires. Set it to the CA's RFC 3161 time-stamp server, or to none to sign without a time-stamp on purpose (a test certificate).")
elseif(url STREQUAL "none")
  set(timestamp "")
elseif(url MATCHES "^https?://[^ ;]+$")
  set(timestamp -ts "${url}")
else()
  signing_failed("SIGN_TIMESTAMP_URL must be the http:// or https:// address of an RFC 3161 time-stamp server, or none, not ${url}.")
endif()

find_program(MORVANE_OSSLSIGNCODE osslsigncode)
if(NOT MORVANE_OSSLSIGNCODE)
  signing_failed("osslsigncode is not installed (bash scripts/deps.sh installs it).")
endif()
if(NOT EXISTS "${program}")
  signing_failed("the staged program is missing: ${program}")
endif()

file(REMOVE "${signed}")
execute_process(
  COMMAND "${MORVANE_OSSLSIGNCODE}" sign ${key} -readpass "$ENV{SIGN_PASSWORD_FILE}"
          -h sha256 -time "$ENV{SOURCE_DATE_EPOCH}" ${timestamp}
          -in "${program}" -out "${signed}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT EXISTS "${signed}")
  if(timestamp)
    string(APPEND causes "; or the time-stamp server ${url} did not answer or refused")
  endif()
  # As it is: the error message below would wrap its lines.
  message(NOTICE "osslsigncode said:\n${output}")
  signing_failed("osslsigncode could not sign with ${which}: ${causes}. What it said is above.")
endif()

# The signed file replaces the staged one with the mode install() gives a program, so
# the zip's entry is the same whatever the umask of whoever signs.
file(RENAME "${signed}" "${program}")
file(CHMOD "${program}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
write_readme(ON)
if(timestamp)
  message(STATUS "Signed MorvaneShutdown.exe with ${which}, time-stamped by ${url}")
else()
  message(STATUS "Signed MorvaneShutdown.exe with ${which}, without a time-stamp (SIGN_TIMESTAMP_URL=none)")
endif()
