# Run by cpack before each generator packs (CPACK_PRE_BUILD_SCRIPTS): what an
# .rpm will hold is given the modes and the time every build gives it, as
# the other archives are afterwards (NormaliseArchives.cmake); an .rpm cannot
# be rewritten once made, since its header holds digests of it all. Modes:
# 0755 for folders and programs, 0644 for the rest, whatever the umask. Time:
# the commit's, for rpmbuild only lowers times later than SOURCE_DATE_EPOCH.
if(NOT CPACK_GENERATOR STREQUAL "RPM")
    return()
endif()
file(GLOB_RECURSE staged LIST_DIRECTORIES TRUE "${CPACK_TEMPORARY_DIRECTORY}/*")
if(staged)
    execute_process(COMMAND chmod u=rwX,go=rX ${staged} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" ${staged}
                    COMMAND_ERROR_IS_FATAL ANY)
endif()
