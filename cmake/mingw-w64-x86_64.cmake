# Cross build for 64-bit Windows with mingw-w64, posix thread model.
# The program itself uses no C++ threads: its worker is a Win32 thread. The posix model
# stays because the window tests and the UI driver use std::thread, which GCC 12's
# win32 thread model does not provide. In the program, the posix model's winpthread
# (linked in statically) still serves steady_clock and the guard of function-local
# statics, a few kilobytes.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
