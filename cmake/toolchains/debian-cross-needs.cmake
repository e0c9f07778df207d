# Read before project() when the toolchain is debian-cross.cmake: the processor that
# MEMBERSHIP_PROCESSOR names, and the cross compiler and qemu-user program it needs, each
# missing one named with its Debian package. Here, before project() tries the compiler, a
# refusal caches nothing: once the package is installed, the same command builds.
if(NOT CMAKE_TOOLCHAIN_FILE MATCHES "debian-cross\\.cmake$")
    return()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/../../packaging/LinuxProcessors.cmake)
membership_linux_processor(DEBIAN "${MEMBERSHIP_PROCESSOR}")
if(NOT MEMBERSHIP_QEMU)
    message(FATAL_ERROR "No processor to cross-build for: MEMBERSHIP_PROCESSOR is "
                        "'${MEMBERSHIP_PROCESSOR}'. Give a Debian name from a row of "
                        "packaging/linux-processors.txt with a qemu program, as in "
                        "MEMBERSHIP_PROCESSOR=arm64 cmake --workflow --preset linux-cross")
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
