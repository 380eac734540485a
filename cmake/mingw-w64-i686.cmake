# Cross build for 32-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-i686-posix).
# The runtime is linked statically, so the programs import only Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OSTRELIN_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
