# membership_harden(TARGET): the protections of Debian's default build flags
# (dpkg-buildflags' hardening=+all) that the program carries, on ELF systems
# with GCC or Clang: stack protector, fortified libc calls where the sizes
# are not known to fit, a read-only GOT resolved at start-up, and a stack
# that is never executable. Not -fcf-protection: Debian's C library, static
# or shared, has no IBT/SHSTK property, so no program linked with it has one.
function(membership_harden target)
    if(MSVC OR NOT CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")
        return()
    endif()
    target_compile_options(${target} PRIVATE -fstack-protector-strong)
    # _FORTIFY_SOURCE needs optimisation. A level that a packager gives
    # (CXXFLAGS) stays; else 3, which the C library lowers to the highest
    # level it and the compiler have. A toolchain may predefine a lower one.
    if(NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
        target_compile_options(${target} PRIVATE
            "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3>")
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        target_link_options(${target} PRIVATE LINKER:-z,relro LINKER:-z,now LINKER:-z,noexecstack)
    endif()
endfunction()
