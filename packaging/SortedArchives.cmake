# Run by cpack after each generator (CPACK_POST_BUILD_SCRIPTS): makes the .tar.gz or the .zip
# again with its files in name order. CPack's archives take them in the order the file system
# lists them, which differs between file systems (ext4 orders names by a hash seeded for each
# one), so that the same commit built on two machines gave two archives; no CPack setting
# sorts them. Files alone are listed (cmake -E tar would walk a folder in that same order);
# every time in them is SOURCE_DATE_EPOCH, as in CPack's.
if(NOT CPACK_GENERATOR MATCHES "^(TGZ|ZIP)$")
    return()
endif()
get_filename_component(top "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
get_filename_component(folder "${CPACK_TEMPORARY_DIRECTORY}" NAME)
file(GLOB_RECURSE files RELATIVE "${top}" "${CPACK_TEMPORARY_DIRECTORY}/*") # sorted
set(format paxr)
set(mode cfz)
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(format zip)
    set(mode cf)
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar ${mode} "${package}" --format=${format} --
                            ${files}
                    WORKING_DIRECTORY "${top}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
