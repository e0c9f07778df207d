# membership_linux_processor(COLUMN VALUE): reads the row of
# linux-processors.txt whose COLUMN (DEBIAN, TRIPLET, UNAME, QEMU or RPM) is
# VALUE into MEMBERSHIP_<COLUMN> for each column; all are "" when no row has
# it, and a "-" in the table reads as "".
function(membership_linux_processor column value)
    set(columns DEBIAN TRIPLET UNAME QEMU RPM)
    list(FIND columns ${column} key)
    file(STRINGS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/linux-processors.txt rows REGEX "^[^#]")
    set(found "")
    foreach(row IN LISTS rows)
        string(REGEX MATCHALL "[^ \t]+" fields "${row}")
        list(GET fields ${key} field)
        if(field STREQUAL value)
            set(found "${fields}")
        endif()
    endforeach()
    list(TRANSFORM found REPLACE "^-$" "")
    foreach(name IN LISTS columns)
        list(POP_FRONT found field)
        set(MEMBERSHIP_${name} "${field}" PARENT_SCOPE)
    endforeach()
endfunction()
