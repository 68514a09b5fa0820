# What the two cross builds for Windows share, with mingw-w64's win32 thread model;
# included by mingw-w64-x86_64.cmake and mingw-w64-i686.cmake, which name the target's
# prefix and processor and the Wine loader that runs its programs.
#
# The win32 model's runtime is made of Windows' own primitives: the guard of
# function-local statics and the fetch's worker threads (CreateThread) need nothing
# more. The posix model would link winpthread into every program, about 28 KB of
# threads, condition variables and locks that nothing here uses. GCC 12's win32 model
# has no std::thread, std::mutex or std::condition_variable, so neither the program nor
# its tests use them (the tests' own stand-ins are in tests/wine/test_support.h), and
# its std::chrono::steady_clock follows the time of day, so the program measures time
# by toolkit::SteadyClock.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
