# Read before project(), which loads the toolchain: what the cross toolchains need, each
# missing one named with where to get it. Here, before project() tries the compiler, a
# refusal caches nothing: once it is installed, the same command builds.
if(CMAKE_TOOLCHAIN_FILE MATCHES "zig-macos\\.cmake$")
    find_program(ZIG_EXECUTABLE zig)
    set(zig_version "no zig")
    if(ZIG_EXECUTABLE)
        execute_process(COMMAND ${ZIG_EXECUTABLE} version OUTPUT_VARIABLE zig_version
                        OUTPUT_STRIP_TRAILING_WHITESPACE)
    endif()
    if(NOT zig_version MATCHES "^0\\.11\\.")
        message(FATAL_ERROR "The macOS presets build with zig 0.11, and PATH has ${zig_version}: "
                            ".ci/jobs/macos.sh installs it from npm (.ci/zig/) and puts it on PATH.")
    endif()
endif()
# debian-cross.cmake's: the processor that MEMBERSHIP_PROCESSOR names, its cross compiler and
# its qemu-user program, each missing one named with its Debian package.
if(NOT CMAKE_TOOLCHAIN_FILE MATCHES "debian-cross\\.cmake$")
    return()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/../../packaging/LinuxProcessors.cmake)
membership_linux_processor(DEBIAN "${MEMBERSHIP_PROCESSOR}")
if(NOT MEMBERSHIP_QEMU)
    file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../../packaging/linux-processors.txt rows
         REGEX "^[a-z].* qemu-")
    list(TRANSFORM rows REPLACE " .*" "")
    list(JOIN rows ", " names)
    if(MEMBERSHIP_DEBIAN)
        set(why "${MEMBERSHIP_PROCESSOR} is this machine's processor: cmake --workflow --preset package builds it")
    else()
        set(why "No processor is named '${MEMBERSHIP_PROCESSOR}' in packaging/linux-processors.txt")
    endif()
    message(FATAL_ERROR "${why}. MEMBERSHIP_PROCESSOR names one of ${names}, as in "
                        "MEMBERSHIP_PROCESSOR=arm64 cmake --workflow --preset linux-cross.")
endif()
find_program(MEMBERSHIP_CROSS_COMPILER ${MEMBERSHIP_TRIPLET}-g++)
if(NOT MEMBERSHIP_CROSS_COMPILER)
    string(REPLACE "_" "-" package "g++-${MEMBERSHIP_TRIPLET}")
    message(FATAL_ERROR "The ${MEMBERSHIP_PROCESSOR} build needs ${MEMBERSHIP_TRIPLET}-g++: "
                        "apt-get install ${package}")
endif()
find_program(MEMBERSHIP_QEMU_EXECUTABLE ${MEMBERSHIP_QEMU})
if(NOT MEMBERSHIP_QEMU_EXECUTABLE)
    message(FATAL_ERROR "The ${MEMBERSHIP_PROCESSOR} build's tests run under ${MEMBERSHIP_QEMU}: "
                        "apt-get install qemu-user")
endif()
