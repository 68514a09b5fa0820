# Run by CPack after it has staged the files and before it writes the zip. What the zip
# would otherwise take from the machine and the moment of the build is fixed here, so
# two builds of one commit give the same bytes.

# The entries' date: SOURCE_DATE_EPOCH when the builder sets it, else the date of the
# commit being packaged, else a fixed date (a source tree without its git history).
# CPack's archive writer takes every entry's time from SOURCE_DATE_EPOCH.
if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(epoch 1577836800) # 2020-01-01 00:00:00 UTC
  find_program(MORVANE_GIT git)
  if(MORVANE_GIT)
    execute_process(
      COMMAND "${MORVANE_GIT}" -C "${CPACK_MORVANE_SOURCE_DIR}" log -1 --format=%ct
      RESULT_VARIABLE result
      OUTPUT_VARIABLE commit_time
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(result EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
      set(epoch ${commit_time})
    endif()
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()

# A zip entry also holds its time as an MS-DOS date in local time: the same instant
# would give other bytes in another time zone.
set(ENV{TZ} UTC0)
