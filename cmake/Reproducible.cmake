# Two builds of one commit give the same bytes, wherever and whenever they
# run: one date for everything dated, the commit's, and no path of the
# machine that built them.

# SOURCE_DATE_EPOCH (https://reproducible-builds.org/specs/source-date-epoch/):
# the caller's; else, where the source folder is the top of a git checkout, its
# last commit's time; else CHANGELOG.md's, which in a source archive made by git
# archive is the commit's too, wherever it is unpacked (git would otherwise walk
# up to an enclosing repository, and take its last commit's time).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(MEMBERSHIP_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CHANGELOG.md MEMBERSHIP_SOURCE_DATE_EPOCH "%s" UTC)
    find_package(Git QUIET)
    if(Git_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
        execute_process(COMMAND ${GIT_EXECUTABLE} --git-dir=${PROJECT_SOURCE_DIR}/.git
                                log -1 --format=%ct
                        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE git_status ERROR_QUIET)
        if(git_status EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
            set(MEMBERSHIP_SOURCE_DATE_EPOCH ${commit_time})
        endif()
    endif()
endif()

# membership_map_build_paths(TARGET): source and build directories written as
# "." in everything TARGET's objects record of them (debug information, and
# __FILE__ in assertions).
function(membership_map_build_paths target)
    if(NOT MSVC)
        target_compile_options(${target} PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                                                 -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
    endif()
endfunction()
