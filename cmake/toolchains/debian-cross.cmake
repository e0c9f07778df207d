# Cross-compiles for Linux on another processor with Debian's cross compilers
# (g++-TRIPLET); the programs built, tests included, run here under qemu-user.
# MEMBERSHIP_PROCESSOR (the linux-cross preset's, from the environment) is
# the processor's Debian name; its other names come from its row of
# packaging/linux-processors.txt. needs.cmake, read before
# project(), has refused an unknown processor and named a missing tool.
include(${CMAKE_CURRENT_LIST_DIR}/../../packaging/LinuxProcessors.cmake)
membership_linux_processor(DEBIAN "${MEMBERSHIP_PROCESSOR}")
# CMake reads this file again for each of its checks: they need it too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MEMBERSHIP_PROCESSOR)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${MEMBERSHIP_UNAME})
set(CMAKE_C_COMPILER ${MEMBERSHIP_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MEMBERSHIP_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${MEMBERSHIP_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: where the dynamically linked tests find their loader and libraries.
find_program(MEMBERSHIP_QEMU_EXECUTABLE ${MEMBERSHIP_QEMU})
if(MEMBERSHIP_QEMU_EXECUTABLE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${MEMBERSHIP_QEMU_EXECUTABLE} -L ${CMAKE_FIND_ROOT_PATH})
endif()
