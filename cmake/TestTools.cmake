# What the tests need, each found, or refused with the Debian package that has it.
# A prebuilt GoogleTest only fits the toolchain and standard library it was
# built with; cross and libc++ builds compile it from its sources instead.
option(MEMBERSHIP_GTEST_FROM_SOURCE "Build GoogleTest from its sources with this toolchain" OFF)
if(MEMBERSHIP_GTEST_FROM_SOURCE)
    set(MEMBERSHIP_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's source tree")
    if(NOT EXISTS ${MEMBERSHIP_GTEST_SOURCE_DIR}/CMakeLists.txt)
        message(FATAL_ERROR "This build compiles GoogleTest from its sources: apt-get install "
                            "googletest (Debian, Ubuntu), or set MEMBERSHIP_GTEST_SOURCE_DIR.")
    endif()
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${MEMBERSHIP_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest
                     EXCLUDE_FROM_ALL SYSTEM)
    set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
    target_compile_options(gtest PRIVATE -O0) # the tests' speed is not at stake: a build's is
    membership_quiet_abi_notes(gtest)
else()
    find_package(GTest)
    if(NOT GTest_FOUND)
        message(FATAL_ERROR "GoogleTest was not found: apt-get install libgtest-dev (Debian, "
                            "Ubuntu), or configure with -DBUILD_TESTING=OFF for the program alone.")
    endif()
endif()
# Python 3.9 or newer drives the process tests, with its standard library alone. Not
# FindPython: through a version manager's shim (pyenv's) it costs seconds of every configure,
# and each test started through the shim a third of one; the interpreter names itself.
execute_process(COMMAND python3 -c "import sys; assert sys.version_info >= (3, 9); print(sys.executable)"
                OUTPUT_VARIABLE MEMBERSHIP_PYTHON OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT MEMBERSHIP_PYTHON)
    message(FATAL_ERROR "Python 3.9 or newer runs the process tests: apt-get install python3, "
                        "or configure with -DBUILD_TESTING=OFF.")
endif()
if(CMAKE_CROSSCOMPILING AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    message(FATAL_ERROR "The tests of this cross build run under qemu-user: apt-get install "
                        "qemu-user")
endif()
if(NOT WIN32)
    find_program(GROFF_EXECUTABLE groff) # the manual page's check
    if(NOT GROFF_EXECUTABLE)
        message(FATAL_ERROR "groff checks the manual page: apt-get install groff-base, or "
                            "configure with -DBUILD_TESTING=OFF.")
    endif()
endif()
