# Cross-compiles for macOS with zig's C++ driver, which brings clang, libc++
# and the macOS headers and libraries it links against: no Apple SDK needed.
# The result is compiled and linked, never run here. MEMBERSHIP_ZIG_TARGET,
# which the macos-* presets set, is zig's target (aarch64-macos or
# x86_64-macos). Needs zig 0.11 on PATH (needs.cmake says so where it is missing).
set(CMAKE_SYSTEM_NAME Darwin)
string(REGEX REPLACE "^aarch64-.*" "arm64" CMAKE_SYSTEM_PROCESSOR "${MEMBERSHIP_ZIG_TARGET}")
string(REGEX REPLACE "-macos$" "" CMAKE_SYSTEM_PROCESSOR "${CMAKE_SYSTEM_PROCESSOR}")
# CMake reads this file again for each of its checks: they need it too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MEMBERSHIP_ZIG_TARGET)

find_program(ZIG_EXECUTABLE zig REQUIRED) # its version is checked before (needs.cmake)
set(CMAKE_C_COMPILER ${ZIG_EXECUTABLE} cc -target ${MEMBERSHIP_ZIG_TARGET})
set(CMAKE_CXX_COMPILER ${ZIG_EXECUTABLE} c++ -target ${MEMBERSHIP_ZIG_TARGET})
set(CMAKE_OSX_SYSROOT "") # zig's own, not an SDK's
# CMake's checks compile alone: linking would have zig build libc++ for them (a minute).
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

foreach(language C CXX)
    set(CMAKE_${language}_ARCHIVE_CREATE "${ZIG_EXECUTABLE} ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${language}_ARCHIVE_APPEND "${ZIG_EXECUTABLE} ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${language}_ARCHIVE_FINISH "${ZIG_EXECUTABLE} ranlib <TARGET>")
endforeach()

# CMake probes an Apple compiler with -Wl,-v, which zig's linker refuses.
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/zig-macos-rules.cmake)
