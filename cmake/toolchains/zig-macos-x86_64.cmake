# macOS on Intel processors, with zig (see zig-macos.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MEMBERSHIP_ZIG_TARGET x86_64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
