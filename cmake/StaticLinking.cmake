# The shipped program is linked statically where the system allows it: it
# then runs on any system of its kind with nothing installed beside it, and
# starts without the dynamic loader's work.
include(CheckLinkerFlag)
include(CheckPIESupported)

set(membership_static_default ON)
if(APPLE)
    set(membership_static_default OFF) # macOS has no static executables
endif()
option(MEMBERSHIP_STATIC
       "Link the program statically: static-pie on ELF systems, -static on Windows"
       ${membership_static_default})

# membership_link_statically(TARGET): links the executable TARGET statically,
# or stops with a message saying why the toolchain cannot.
function(membership_link_statically target)
    if(NOT MEMBERSHIP_STATIC)
        return()
    endif()
    if(WIN32)
        # The C++, GCC and winpthread runtimes go into the program, so no
        # MinGW DLL has to travel with it.
        check_linker_flag(CXX -static MEMBERSHIP_LINKER_TAKES_STATIC)
        if(NOT MEMBERSHIP_LINKER_TAKES_STATIC)
            message(FATAL_ERROR "This toolchain cannot link ${target} with -static. "
                                "Configure with -DMEMBERSHIP_STATIC=OFF to link it dynamically.")
        endif()
        target_link_options(${target} PRIVATE -static)
        return()
    endif()

    check_pie_supported(OUTPUT_VARIABLE pie_report LANGUAGES CXX)
    set(CMAKE_REQUIRED_FLAGS -fPIE)
    check_linker_flag(CXX -static-pie MEMBERSHIP_LINKER_TAKES_STATIC_PIE)
    if(NOT CMAKE_CXX_LINK_PIE_SUPPORTED OR NOT MEMBERSHIP_LINKER_TAKES_STATIC_PIE)
        message(FATAL_ERROR "This toolchain cannot link ${target} as a static-pie program "
                            "(it needs a C library built for it, such as glibc 2.27 or later). "
                            "${pie_report} "
                            "Configure with -DMEMBERSHIP_STATIC=OFF to link it dynamically.")
    endif()
    # A static C library is safe here: nothing in the program looks up users,
    # groups or hosts (NSS), loads a library (dlopen), converts a character
    # set (iconv) or uses a locale other than "C", the parts of glibc that
    # would load shared objects at run time.
    # -fPIE by hand: POSITION_INDEPENDENT_CODE would append -pie to the link,
    # and the last of -pie and -static-pie is the one that counts.
    target_compile_options(${target} PRIVATE -fPIE)
    target_link_options(${target} PRIVATE -static-pie)
endfunction()
