# membership_harden(TARGET): the protections Debian's default build flags give
# a package (dpkg-buildflags' hardening=+all), on ELF systems with GCC or
# Clang: stack protector, fortified libc calls where the optimiser sees the
# sizes, control-flow protection on x86-64, a read-only GOT resolved at
# start-up, and a stack that is never executable.
function(membership_harden target)
    if(MSVC OR NOT CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")
        return()
    endif()
    target_compile_options(${target} PRIVATE
        -fstack-protector-strong
        # _FORTIFY_SOURCE needs optimisation, and a toolchain may predefine it.
        "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
        target_compile_options(${target} PRIVATE -fcf-protection)
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        target_link_options(${target} PRIVATE LINKER:-z,relro LINKER:-z,now LINKER:-z,noexecstack)
    endif()
endfunction()
