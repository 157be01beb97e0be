# GoogleTest from Debian's source package, built with this build's compiler,
# and apesrc_add_test(), which every test executable is made with.
#
# In the Windows build every test runs under Wine in a prefix of its own inside
# the build tree, with a private HOME whose ALSA configuration sends audio to a
# null device: the user's ~/.wine and sound settings are never touched.

set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# Our warnings are errors; GoogleTest's are not ours to fix (GCC's -O3
# flags false positives in it).
foreach(target gtest gtest_main gmock gmock_main)
    target_compile_options(${target} PRIVATE -Wno-error)
endforeach()

if(WIN32)
    # The prefix has the build's width: a 64-bit prefix (which runs 32-bit
    # programs too, through its WOW64 side) for the x64 build. Debian's `wine`
    # always starts the 32-bit loader, which hands a 64-bit program on to the
    # 64-bit one: a kernel without 32-bit support fails at the first step. The
    # x64 build therefore starts the 64-bit loader itself (which starts the
    # 32-bit one for a 32-bit program, where it can run).
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(APESRC_WINEARCH win64)
        find_program(APESRC_WINE wine64 PATHS /usr/lib/wine REQUIRED)
    else()
        set(APESRC_WINEARCH win32)
        set(APESRC_WINE wine)
    endif()
    # Whether this machine runs 32-bit x86 programs at all. A kernel built
    # without IA-32 emulation refuses them ("Exec format error"), Wine's
    # 32-bit loader among them; there no 32-bit Windows program can start. The
    # 32-bit build then still compiles and links everything, but makes no
    # prefix, and only the tests labelled `static` (which read the built files
    # without starting them) can run in it; in the x64 build the tests
    # labelled `x86` (which start 32-bit programs) cannot. tools/test.sh reads
    # the answer from the build's wine/environment.
    find_program(APESRC_WINE_X86_LOADER wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
    set(APESRC_RUNS_X86 0)
    if(APESRC_WINE_X86_LOADER)
        execute_process(COMMAND ${APESRC_WINE_X86_LOADER} --version
            RESULT_VARIABLE x86_loader_status OUTPUT_QUIET ERROR_QUIET)
        if(x86_loader_status EQUAL 0)
            set(APESRC_RUNS_X86 1)
        endif()
    endif()
    set(APESRC_WINE_HOME ${CMAKE_BINARY_DIR}/wine/home)
    set(APESRC_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine/prefix)
    file(MAKE_DIRECTORY ${APESRC_WINE_HOME})
    file(WRITE ${APESRC_WINE_HOME}/.asoundrc
        "pcm.!default {\n    type null\n}\nctl.!default {\n    type hw\n    card 0\n}\n")
    set(APESRC_WINE_ENV
        HOME=${APESRC_WINE_HOME}
        WINEPREFIX=${APESRC_WINE_PREFIX}
        WINEARCH=${APESRC_WINEARCH}
        WINEDEBUG=-all
        # No Mono or Gecko: nothing may be downloaded, and nothing here needs them.
        WINEDLLOVERRIDES=mscoree,mshtml=
        DISPLAY=)
    set(CMAKE_CROSSCOMPILING_EMULATOR env ${APESRC_WINE_ENV} ${APESRC_WINE})
    # The same environment for scripts that drive the prefix outside CTest,
    # with the loader to start as APESRC_WINE.
    list(JOIN APESRC_WINE_ENV "' '" quoted)
    file(WRITE ${CMAKE_BINARY_DIR}/wine/environment
        "export '${quoted}' 'APESRC_WINE=${APESRC_WINE}' 'APESRC_RUNS_X86=${APESRC_RUNS_X86}'\n")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT APESRC_RUNS_X86)
        message(STATUS "This machine does not run 32-bit x86 programs: no Wine prefix for the 32-bit build")
    else()
        # `wineserver -w` returns once the first boot has really finished;
        # without it the first tests race the prefix's set-up.
        add_custom_command(OUTPUT ${APESRC_WINE_PREFIX}/system.reg
            COMMAND env ${APESRC_WINE_ENV} ${APESRC_WINE} wineboot -i
            COMMAND env ${APESRC_WINE_ENV} wineserver -w
            COMMENT "Creating the private Wine prefix for the tests"
            VERBATIM)
        add_custom_target(wineprefix ALL DEPENDS ${APESRC_WINE_PREFIX}/system.reg)
    endif()
endif()

# apesrc_add_test(<name> SOURCES <files...> [LIBRARIES <targets...>])
# Builds a GoogleTest executable and registers it with CTest (under Wine in
# the Windows build). The executable's directory is the working directory, so
# files a test writes beside itself stay in the build tree.
function(apesrc_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest_main GTest::gmock)
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY $<TARGET_FILE_DIR:${name}>)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
