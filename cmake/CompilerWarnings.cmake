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
    membership_quiet_abi_notes(${target})
endfunction()

# membership_quiet_abi_notes(TARGET): on 32-bit ARM, GCC notes each argument whose passing
# changed in GCC 7.1; all that is linked here comes from one compiler: they tell nothing.
function(membership_quiet_abi_notes target)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
        target_compile_options(${target} PRIVATE -Wno-psabi)
    endif()
endfunction()
