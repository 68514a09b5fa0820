# Run by CPack once the zip is written: SHA256SUMS beside it, in sha256sum's format
# ("<hash>  <name>", LF line ends), so `sha256sum -c SHA256SUMS` checks the download.
# The zip is still in CPack's work folder here; CPack then copies it, bytes unchanged,
# to the output folder, where SHA256SUMS goes.
include("${CMAKE_CURRENT_LIST_DIR}/output_folder.cmake")
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 "${package}" hash)
  get_filename_component(name "${package}" NAME)
  string(APPEND sums "${hash}  ${name}\n")
  message(STATUS "${hash}  ${name}")
endforeach()
if(sums)
  file(CONFIGURE OUTPUT "${folder}/SHA256SUMS" CONTENT "${sums}" @ONLY NEWLINE_STYLE LF)
endif()
