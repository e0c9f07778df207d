# CHANGELOG.md is the one place where each release's version and date are written, in one
# form: "## 1.2.0 (2026-12-09)". Its newest heading (the first after the title, of any level
# or style) is a release's, or "## Unreleased" in a tree that has changes since: the build then
# takes the version of the release below it. Any other newest heading ("## [Unreleased]",
# "### Unreleased", "## v1.3.0 - 2026-12-10", a trailing space) is refused, so that no build is
# named after an older release. Read before project(): MEMBERSHIP_RELEASE_VERSION, and
# MEMBERSHIP_RELEASE_DATE, the manual page's. Run as a script (cmake -P), it prints the newest
# release's "VERSION DATE" and refuses "## Unreleased" too: packaging/release's reading. For
# the packages, Debian's changelog comes from it (membership_debian_changelog).
set(membership_changelog ${CMAKE_CURRENT_LIST_DIR}/../CHANGELOG.md)
file(STRINGS ${membership_changelog} membership_changelog_lines)
if(NOT CMAKE_SCRIPT_MODE_FILE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${membership_changelog})
endif()
set(membership_release_heading
    "^## ([0-9]+\\.[0-9]+\\.[0-9]+) \\(([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\\)$")

foreach(line IN LISTS membership_changelog_lines)
    if(line MATCHES "${membership_release_heading}")
        set(MEMBERSHIP_RELEASE_VERSION ${CMAKE_MATCH_1})
        set(MEMBERSHIP_RELEASE_DATE ${CMAKE_MATCH_2})
        break()
    endif()
endforeach()
# A refusal's example: the release after the newest, dated today.
set(next 0.1.0)
if(MEMBERSHIP_RELEASE_VERSION MATCHES "^(.*\\.)([0-9]+)$")
    math(EXPR patch "${CMAKE_MATCH_2} + 1")
    set(next ${CMAKE_MATCH_1}${patch})
endif()
string(TIMESTAMP today "%Y-%m-%d" UTC)
set(membership_form "'## X.Y.Z (YYYY-MM-DD)', such as '## ${next} (${today})'")
set(newest "")
set(previous "")
foreach(line IN LISTS membership_changelog_lines)
    # A heading: "#" to "######" and a space, or a line underlined with "=" or "-".
    if(line MATCHES "^#+( |$)" AND NOT line MATCHES "^# Changelog$")
        set(newest "${line}")
    elseif(line MATCHES "^(=+|-+) *$" AND NOT previous MATCHES "^( *|- .*)$")
        set(newest "${previous} (underlined)")
    endif()
    if(newest)
        break()
    endif()
    set(previous "${line}")
endforeach()
set(refusal "")
if(CMAKE_SCRIPT_MODE_FILE AND newest STREQUAL "## Unreleased")
    set(refusal "CHANGELOG.md has unreleased changes. Turn '## Unreleased' into "
                "${membership_form}, the date of the commit that makes it, then commit and run "
                "again.")
elseif(NOT newest MATCHES "${membership_release_heading}" AND NOT newest STREQUAL "## Unreleased")
    set(refusal "CHANGELOG.md's newest heading, '${newest}', is neither a release's, "
                "${membership_form}, nor '## Unreleased' for changes not yet released.")
endif()
if(refusal AND CMAKE_SCRIPT_MODE_FILE)
    message(NOTICE ${refusal}) # as it is, for packaging/release
    message(FATAL_ERROR "refused")
elseif(refusal)
    message(FATAL_ERROR ${refusal})
endif()
set(MEMBERSHIP_UNRELEASED FALSE)
if(newest STREQUAL "## Unreleased")
    set(MEMBERSHIP_UNRELEASED TRUE) # a snapshot: cmake/BuildVersion.cmake names it
endif()
if(NOT MEMBERSHIP_RELEASE_DATE)
    message(FATAL_ERROR "CHANGELOG.md has no release heading, ${membership_form}.")
endif()
if(CMAKE_SCRIPT_MODE_FILE)
    message(NOTICE "${MEMBERSHIP_RELEASE_VERSION} ${MEMBERSHIP_RELEASE_DATE}")
endif()

# membership_debian_changelog(OUTPUT MAINTAINER): writes Debian's changelog
# of every release in CHANGELOG.md: each heading becomes an entry's first
# line, each item a "*" item, and the date its closing line's. Unreleased
# changes are an UNRELEASED entry of the snapshot, dated by its commit.
function(membership_debian_changelog output maintainer)
    set(text "")
    set(entry_end "")
    set(in_release FALSE)
    foreach(line IN LISTS membership_changelog_lines)
        string(REPLACE "`" "" line "${line}")
        set(heading "")
        if(line MATCHES "${membership_release_heading}")
            set(heading "${CMAKE_MATCH_1} ${CMAKE_MATCH_2} stable")
        elseif(line STREQUAL "## Unreleased")
            set(heading "${MEMBERSHIP_VERSION} @${MEMBERSHIP_SOURCE_DATE_EPOCH} UNRELEASED")
        endif()
        if(heading)
            string(REPLACE " " ";" heading ${heading}) # version, date, distribution
            list(GET heading 1 day)
            execute_process(COMMAND date --utc --rfc-email --date ${day}
                            OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE
                            COMMAND_ERROR_IS_FATAL ANY)
            list(GET heading 0 version)
            list(GET heading 2 distribution)
            string(APPEND text "${entry_end}${PROJECT_NAME} (${version}) ${distribution}; "
                               "urgency=medium\n\n")
            set(entry_end "\n -- ${maintainer}  ${date}\n\n")
            set(in_release TRUE)
        elseif(line MATCHES "^#")
            set(in_release FALSE)
        elseif(line STREQUAL "")
        elseif(in_release AND line MATCHES "^- (.*)$")
            string(APPEND text "  * ${CMAKE_MATCH_1}\n")
        elseif(in_release AND line MATCHES "^  (.*)$")
            string(APPEND text "    ${CMAKE_MATCH_1}\n")
        elseif(in_release)
            string(APPEND text "  ${line}\n")
        endif()
    endforeach()
    string(STRIP "${text}${entry_end}" text)
    file(WRITE ${output} "${text}\n")
endfunction()
