# What a build calls itself. A released commit (CHANGELOG.md's newest heading a release's)
# keeps its version, bare. A tree with changes under "## Unreleased" is a snapshot after the
# release below it, named so that each format sorts it after that release and before the next,
# and naming its commit where git can:
#   MEMBERSHIP_VERSION          1.2.4+git20261210.1a2b3c4  Debian's form: the .deb, the
#                               archives' names, the page's footer, the .exe's strings
#   MEMBERSHIP_RPM_VERSION      1.2.4^git20261210.1a2b3c4  RPM's (4.15 on)
#   MEMBERSHIP_WINDOWS_VERSION  1.2.4.N, N commits since 1.2.4's: the .exe's and the .msi's
#                               numbers (a release's: 1.2.4). Windows Installer compares the
#                               first three alone, and takes a snapshot and its release as
#                               two products: uninstall one before installing the other.
# Without git: 1.2.4+unreleased, 1.2.4^unreleased and 1.2.4.1.
set(MEMBERSHIP_VERSION ${PROJECT_VERSION})
set(MEMBERSHIP_RPM_VERSION ${PROJECT_VERSION})
set(MEMBERSHIP_WINDOWS_VERSION ${PROJECT_VERSION})
set(MEMBERSHIP_WINDOWS_VERSION_NUMBERS
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
if(MEMBERSHIP_UNRELEASED)
    set(snapshot unreleased)
    set(since_release 1)
    find_package(Git QUIET)
    set(git_dir ${PROJECT_SOURCE_DIR}/.git) # not an enclosing repository's
    if(Git_FOUND AND EXISTS ${git_dir})
        set(git ${CMAKE_COMMAND} -E env TZ=UTC ${GIT_EXECUTABLE} --git-dir=${git_dir})
        execute_process(COMMAND ${git} log -1 --format=%cd.%H --date=format-local:%Y%m%d
                        OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        execute_process(COMMAND ${git} log --format=%H -S "## ${PROJECT_VERSION} ("
                                -- CHANGELOG.md
                        OUTPUT_VARIABLE namings OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        string(REGEX MATCH "[0-9a-f]+$" release_commit "${namings}")
        if(release_commit)
            execute_process(COMMAND ${git} rev-list --count ${release_commit}..HEAD
                            OUTPUT_VARIABLE since_release OUTPUT_STRIP_TRAILING_WHITESPACE)
        endif()
        if(commit MATCHES "^[0-9]+\\.[0-9a-f]+$")
            string(SUBSTRING ${commit} 0 16 day_and_hash) # the hash's first 7
            set(snapshot git${day_and_hash})
        endif()
        # Another commit is another name.
        execute_process(COMMAND ${git} rev-parse --git-path logs/HEAD
                        OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(EXISTS ${head_log})
            set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${head_log})
        endif()
    endif()
    set(MEMBERSHIP_VERSION ${PROJECT_VERSION}+${snapshot})
    set(MEMBERSHIP_RPM_VERSION ${PROJECT_VERSION}^${snapshot})
    set(MEMBERSHIP_WINDOWS_VERSION ${PROJECT_VERSION}.${since_release})
    string(REPLACE "." "," MEMBERSHIP_WINDOWS_VERSION_NUMBERS ${MEMBERSHIP_WINDOWS_VERSION})
endif()
message(STATUS "This build is membership ${MEMBERSHIP_VERSION}")
