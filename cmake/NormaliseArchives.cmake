# Run by cpack after each generator (CPACK_POST_BUILD_SCRIPTS): the packages
# it made are rewritten with fixed owners, order, modes and times (see
# packaging/normalise_archive.py).
set(archives ${CPACK_PACKAGE_FILES})
list(FILTER archives INCLUDE REGEX "\\.(tar\\.gz|zip|deb)$")
if(NOT archives)
    return()
endif()
if(NOT CPACK_MEMBERSHIP_PYTHON)
    message(FATAL_ERROR "python3 rewrites the archives reproducibly: install it "
                        "(Debian/Ubuntu: apt-get install python3) and configure again.")
endif()
execute_process(COMMAND ${CPACK_MEMBERSHIP_PYTHON} ${CPACK_MEMBERSHIP_NORMALISER}
                        $ENV{SOURCE_DATE_EPOCH} ${archives}
                COMMAND_ERROR_IS_FATAL ANY)
