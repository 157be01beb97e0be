# apesrc_version_resource(<target> <description>)
# Gives a Windows module the version resource that Explorer's Properties
# show: file and product version from the project's version, one company,
# product and copyright text for all, and the module's own description and
# file name.
set(APESRC_COPYRIGHT_YEAR 2026)

function(apesrc_version_resource target description)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        set(APESRC_FILE_TYPE VFT_APP)
        set(suffix .exe)
    else()
        set(APESRC_FILE_TYPE VFT_DLL)
        set(suffix .dll)
    endif()
    get_target_property(output_name ${target} OUTPUT_NAME)
    if(NOT output_name)
        set(output_name ${target})
    endif()
    set(APESRC_ORIGINAL_NAME ${output_name}${suffix})
    set(APESRC_DESCRIPTION "${description}")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
