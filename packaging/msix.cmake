# Run by CPack after packaging/sign.cmake and before it writes the zip: the Store package,
# MorvaneShutdown-<version>-<x64|x86>.msix, beside where the zip goes (packaging/msix.py).
# It takes the staged program, signed or not, so that the package and the zip hold the
# same bytes; the package itself stays unsigned, for the Store signs what it publishes.
# Its identity comes from the environment, as the signing settings do (msix.py says how).

include("${CMAKE_CURRENT_LIST_DIR}/output_folder.cmake")
set(msix "${folder}/${CPACK_MORVANE_MSIX_FILE}")

find_program(MORVANE_PYTHON NAMES python3 python)
set(failed "")
if(NOT MORVANE_PYTHON)
  set(failed "Python 3 is not installed; the Store package is written by packaging/msix.py.")
else()
  execute_process(
    COMMAND "${MORVANE_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/msix.py"
            --program "${CPACK_TEMPORARY_DIRECTORY}/MorvaneShutdown.exe" --arch ${CPACK_MORVANE_MSIX_ARCH}
            --version ${CPACK_PACKAGE_VERSION} --pictures "${CPACK_MORVANE_SOURCE_DIR}/resources/store"
            --date "$ENV{SOURCE_DATE_EPOCH}" --out "${msix}"
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    set(failed "packaging/msix.py failed, saying why above.")
  endif()
endif()
# As when signing fails: no zip, and nothing of an earlier build that would pass for this one's.
if(failed)
  file(REMOVE "${folder}/${CPACK_PACKAGE_FILE_NAME}.zip" "${folder}/SHA256SUMS" "${msix}")
  message(FATAL_ERROR "${failed}\nNo zip and no Store package were made.")
endif()
