# Strict warnings for the project's own targets. Whether they stop the build
# is CMAKE_COMPILE_WARNING_AS_ERROR's business (set by the presets).
function(membership_enable_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /permissive-)
    else()
        target_compile_options(${target} PRIVATE
            -Wall -Wextra -Wpedantic
            -Wconversion -Wsign-conversion -Wdouble-promotion
            -Wshadow -Wold-style-cast -Wcast-align -Wcast-qual
            -Wnon-virtual-dtor -Woverloaded-virtual
            -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough
            -Wundef -Wmissing-declarations)
    endif()
endfunction()
