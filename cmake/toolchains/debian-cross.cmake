# Cross-compiles for Linux on another processor with Debian's cross compilers
# (g++-TRIPLET); the programs built, tests included, run here under qemu-user.
# Its inputs, cache variables that the presets set:
#   MEMBERSHIP_CROSS_TRIPLET    the GNU triplet, such as aarch64-linux-gnu
#   MEMBERSHIP_CROSS_PROCESSOR  the processor as `uname -m` names it there
#   MEMBERSHIP_CROSS_QEMU       qemu-user's program for it, such as qemu-aarch64
foreach(input MEMBERSHIP_CROSS_TRIPLET MEMBERSHIP_CROSS_PROCESSOR MEMBERSHIP_CROSS_QEMU)
    if(NOT ${input})
        message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE} needs ${input}: use a linux-* preset")
    endif()
endforeach()
# CMake reads this file again for each of its checks: they need the inputs too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     MEMBERSHIP_CROSS_TRIPLET MEMBERSHIP_CROSS_PROCESSOR MEMBERSHIP_CROSS_QEMU)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${MEMBERSHIP_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${MEMBERSHIP_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MEMBERSHIP_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${MEMBERSHIP_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: where the dynamically linked tests find their loader and libraries.
find_program(MEMBERSHIP_QEMU_EXECUTABLE ${MEMBERSHIP_CROSS_QEMU})
if(MEMBERSHIP_QEMU_EXECUTABLE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${MEMBERSHIP_QEMU_EXECUTABLE} -L ${CMAKE_FIND_ROOT_PATH})
endif()
