# CHANGELOG.md is the one place where each release's version and date are
# written ("## 1.1.1 (2026-12-08)"). Read before project(), which takes the
# newest release's version from it: MEMBERSHIP_RELEASE_VERSION, and
# MEMBERSHIP_RELEASE_DATE, the manual page's. For the packages, Debian's
# changelog comes from it too (membership_debian_changelog).
set(membership_changelog ${CMAKE_CURRENT_LIST_DIR}/../CHANGELOG.md)
file(STRINGS ${membership_changelog} membership_changelog_lines)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${membership_changelog})
set(membership_release_heading "^## ([0-9.]+) \\(([0-9]+-[0-9]+-[0-9]+)\\)$")
foreach(line IN LISTS membership_changelog_lines)
    if(line MATCHES "${membership_release_heading}")
        set(MEMBERSHIP_RELEASE_VERSION ${CMAKE_MATCH_1})
        set(MEMBERSHIP_RELEASE_DATE ${CMAKE_MATCH_2})
        break()
    endif()
endforeach()
if(NOT MEMBERSHIP_RELEASE_DATE)
    message(FATAL_ERROR "CHANGELOG.md has no release heading such as '## 1.0.0 (2026-12-08)'")
endif()

# membership_debian_changelog(OUTPUT MAINTAINER): writes Debian's changelog
# of every release in CHANGELOG.md: each heading becomes an entry's first
# line, each item a "*" item, and the date its closing line's.
function(membership_debian_changelog output maintainer)
    set(text "")
    set(entry_end "")
    set(in_release FALSE)
    foreach(line IN LISTS membership_changelog_lines)
        string(REPLACE "`" "" line "${line}")
        if(line MATCHES "${membership_release_heading}")
            set(version ${CMAKE_MATCH_1})
            execute_process(COMMAND date --utc --rfc-email --date ${CMAKE_MATCH_2}
                            OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE
                            COMMAND_ERROR_IS_FATAL ANY)
            string(APPEND text "${entry_end}${PROJECT_NAME} (${version}) stable; urgency=medium\n\n")
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
