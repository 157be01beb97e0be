# Cross build for 64-bit Windows (x64) with Debian's MinGW-w64 compilers.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(APESRC_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
