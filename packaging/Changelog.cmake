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

# membership_epoch_of(DATE VARIABLE): the Unix time of midnight UTC on DATE
# (YYYY-MM-DD, from 1970 on), by Howard Hinnant's days_from_civil.
function(membership_epoch_of date variable)
    string(REGEX MATCH "^([0-9]+)-0*([0-9]+)-0*([0-9]+)$" parts "${date}")
    set(year ${CMAKE_MATCH_1})
    if(CMAKE_MATCH_2 LESS_EQUAL 2)
        math(EXPR year "${year} - 1")
        math(EXPR month "${CMAKE_MATCH_2} + 9")
    else()
        math(EXPR month "${CMAKE_MATCH_2} - 3")
    endif()
    math(EXPR days "${year} * 365 + ${year} / 4 - ${year} / 100 + ${year} / 400
                    + (153 * ${month} + 2) / 5 + ${CMAKE_MATCH_3} - 1 - 719468")
    math(EXPR epoch "${days} * 86400")
    set(${variable} ${epoch} PARENT_SCOPE)
endfunction()

# membership_debian_changelog(OUTPUT MAINTAINER): writes Debian's changelog
# of every release in CHANGELOG.md: each heading becomes an entry's first
# line, each item a "*" item, and the date its closing line's.
function(membership_debian_changelog output maintainer)
    set(text "")
    set(entry_end "")
    set(in_release FALSE)
    set(caller_epoch "$ENV{SOURCE_DATE_EPOCH}")
    foreach(line IN LISTS membership_changelog_lines)
        string(REPLACE "`" "" line "${line}")
        if(line MATCHES "${membership_release_heading}")
            set(version ${CMAKE_MATCH_1})
            membership_epoch_of(${CMAKE_MATCH_2} epoch)
            set(ENV{SOURCE_DATE_EPOCH} ${epoch}) # what string(TIMESTAMP) reads
            string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
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
    set(ENV{SOURCE_DATE_EPOCH} "${caller_epoch}")
    string(STRIP "${text}${entry_end}" text)
    file(WRITE ${output} "${text}\n")
endfunction()
