# Where CPack puts the zip, for the scripts it runs: `folder`.
if(CPACK_OUTPUT_FILE_PREFIX)
  set(folder "${CPACK_OUTPUT_FILE_PREFIX}")
else()
  set(folder "${CPACK_PACKAGE_DIRECTORY}")
endif()
