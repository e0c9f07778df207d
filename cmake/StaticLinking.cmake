# The shipped program is linked statically where the system allows it: it
# then runs on any system of its kind with nothing installed beside it, and
# starts without the dynamic loader's work.
include(CheckLinkerFlag)

set(membership_static_default ON)
if(APPLE)
    set(membership_static_default OFF) # macOS has no static executables
endif()
option(MEMBERSHIP_STATIC
       "Link the program statically: static-pie where the C library allows, else -static"
       ${membership_static_default})

# membership_link_statically(TARGET): links the executable TARGET statically,
# static-pie where the C library allows it, or stops with a message saying
# why the toolchain cannot.
function(membership_link_statically target)
    if(NOT MEMBERSHIP_STATIC)
        return()
    endif()
    if(NOT WIN32)
        # A static C library is safe here: nothing in the program looks up
        # users, groups or hosts (NSS), loads a library (dlopen), converts a
        # character set (iconv) or uses a locale other than "C", the parts of
        # glibc that would load shared objects at run time.
        set(CMAKE_REQUIRED_FLAGS -fPIE)
        check_linker_flag(CXX -static-pie MEMBERSHIP_LINKER_TAKES_STATIC_PIE)
        unset(CMAKE_REQUIRED_FLAGS)
        if(MEMBERSHIP_LINKER_TAKES_STATIC_PIE)
            # -fPIE by hand: POSITION_INDEPENDENT_CODE would append -pie to the
            # link, and the last of -pie and -static-pie is the one that counts.
            target_compile_options(${target} PRIVATE -fPIE)
            target_link_options(${target} PRIVATE -static-pie)
            message(STATUS "${target}: linked static-pie")
            return()
        endif()
        # Some C libraries have no start file for static-pie (rcrt1.o):
        # Debian's armhf and riscv64 cross libraries, for one.
        message(STATUS "${target}: static-pie is not supported here (no rcrt1.o?), so it is "
                       "linked fully static, at a fixed address")
    endif()
    # On Windows, the C++, GCC and winpthread runtimes go into the program, so
    # no MinGW DLL has to travel with it.
    check_linker_flag(CXX -static MEMBERSHIP_LINKER_TAKES_STATIC)
    if(NOT MEMBERSHIP_LINKER_TAKES_STATIC)
        message(FATAL_ERROR "This toolchain cannot link ${target} statically. "
                            "Configure with -DMEMBERSHIP_STATIC=OFF to link it dynamically.")
    endif()
    target_link_options(${target} PRIVATE -static)
endfunction()
