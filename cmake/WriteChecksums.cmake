# Run by cpack after each generator, once its packages are final
# (CPACK_POST_BUILD_SCRIPTS, after NormaliseArchives.cmake): SHA256SUMS in
# the package folder lists each package this cpack run made, in the form
# `sha256sum -c SHA256SUMS` checks. The first generator starts it anew. The
# packages are still in cpack's scratch folder here, as they will be copied.
set(sums_file ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS)

set(names "")
list(GET CPACK_MEMBERSHIP_GENERATORS 0 first_generator)
if(NOT CPACK_GENERATOR STREQUAL first_generator AND EXISTS ${sums_file})
    file(STRINGS ${sums_file} lines)
    foreach(line IN LISTS lines)
        if(line MATCHES "^([0-9a-f]+)  (.+)$")
            list(APPEND names ${CMAKE_MATCH_2})
            set(sum_of_${CMAKE_MATCH_2} ${CMAKE_MATCH_1})
        endif()
    endforeach()
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    get_filename_component(name ${package} NAME)
    list(APPEND names ${name})
    file(SHA256 ${package} sum_of_${name})
endforeach()

list(REMOVE_DUPLICATES names)
list(SORT names)
set(sums "")
foreach(name IN LISTS names)
    string(APPEND sums "${sum_of_${name}}  ${name}\n")
endforeach()
file(WRITE ${sums_file} "${sums}")
