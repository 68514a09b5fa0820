# The user's read-me, README.txt: packaging/README.txt.in, with how to check the
# download where it says @CHECKING_THE_DOWNLOAD@. A signed program is checked by its
# signature (README-signed.txt.in); an unsigned one by the zip's SHA-256 alone, and the
# read-me says that Windows may refuse it (README-unsigned.txt.in). Written at configure
# time for an install, which is never signed, and again by packaging/sign.cmake in the
# zip, once it knows whether the program there is signed.
#
# CRLF line ends and the template's BOM, whatever line ends the checkout has, so that
# Notepad shows it right; the mode install() gives a file, whatever the umask or the
# checkout's modes, so that the zip's entry is the same for whoever builds it.
function(morvane_readme out version zip signed)
  set(here "${CMAKE_CURRENT_FUNCTION_LIST_DIR}")
  if(signed)
    set(checking "${here}/README-signed.txt.in")
  else()
    set(checking "${here}/README-unsigned.txt.in")
  endif()
  if(CMAKE_ROLE STREQUAL "PROJECT")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${checking}")
  endif()
  set(PROJECT_VERSION "${version}")
  set(ZIP "${zip}")
  file(READ "${checking}" CHECKING_THE_DOWNLOAD)
  string(CONFIGURE "${CHECKING_THE_DOWNLOAD}" CHECKING_THE_DOWNLOAD @ONLY)
  # configure_file sets the line ends of the template's lines only, not of what it puts in.
  string(REPLACE "\r" "" CHECKING_THE_DOWNLOAD "${CHECKING_THE_DOWNLOAD}")
  string(REPLACE "\n" "\r\n" CHECKING_THE_DOWNLOAD "${CHECKING_THE_DOWNLOAD}")
  configure_file("${here}/README.txt.in" "${out}" @ONLY NEWLINE_STYLE CRLF)
  file(CHMOD "${out}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()
