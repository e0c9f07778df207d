# Run by cpack before each generator packs (CPACK_PRE_BUILD_SCRIPTS): the
# staged files of the packages that cannot be rewritten afterwards, as the
# other archives are (NormaliseArchives.cmake), get the modes and the time
# every build gives them. An .rpm's header holds digests of it all; the .msi
# made of the .zip's files (WindowsInstaller.cmake) keeps their times in its
# cabinet. Modes: 0755 for folders and programs, 0644 for the rest, whatever
# the umask. Time: the commit's (rpmbuild only lowers later ones to it).
if(NOT CPACK_GENERATOR MATCHES "^(RPM|ZIP)$")
    return()
endif()
file(GLOB_RECURSE staged LIST_DIRECTORIES TRUE "${CPACK_TEMPORARY_DIRECTORY}/*")
if(staged)
    execute_process(COMMAND chmod u=rwX,go=rX ${staged} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" ${staged}
                    COMMAND_ERROR_IS_FATAL ANY)
endif()
