# What the cross builds for Windows share, given APESRC_MINGW_TRIPLE (the
# compilers' prefix) by the toolchain file of each width. The -posix flavour
# is required: the -win32 one has no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${APESRC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${APESRC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${APESRC_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${APESRC_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${APESRC_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${APESRC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
