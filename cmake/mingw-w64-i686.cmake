# Cross build for 32-bit Windows with mingw-w64 (mingw-w64.cmake says which thread model
# and why). Its programs run in Wine's 32-bit half (Debian's wine32, i386).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
