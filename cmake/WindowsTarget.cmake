# Settings every Windows target shares.

# The Windows 7 level of the API is enough for everything the modules call,
# and keeps the import table free of newer entry points.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)

# SSE2 may be assumed on every i686 machine the module runs on (and is part
# of x86-64).
add_compile_options(-msse2 -mfpmath=sse)

# The object format of this build's modules, as objdump names it: the export
# checks prove each module is of the build's width.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(APESRC_PE_FORMAT pei-x86-64)
else()
    set(APESRC_PE_FORMAT pei-i386)
endif()

# Only Windows system DLLs may be imported: the C and C++ runtimes and
# winpthread are linked into each module.
add_link_options(-static -static-libgcc -static-libstdc++)

# Boost is used header-only. Pointing the cross compiler at /usr/include would
# let it pick up the host's C library headers, so it sees a directory that
# holds nothing but a link to Boost.
set(APESRC_BOOST_DIR ${CMAKE_BINARY_DIR}/boost-include)
file(MAKE_DIRECTORY ${APESRC_BOOST_DIR})
file(CREATE_LINK /usr/include/boost ${APESRC_BOOST_DIR}/boost SYMBOLIC)
add_library(boost_headers INTERFACE)
target_include_directories(boost_headers SYSTEM INTERFACE ${APESRC_BOOST_DIR})

# Every module and tool carries a version resource (VersionResource.cmake).
enable_language(RC)
include(VersionResource)

# Modules carry no link time stamp and no path of the tree they were built
# in, so that the same sources give the same files.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
