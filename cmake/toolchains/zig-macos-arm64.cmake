# macOS on Apple silicon, with zig (see zig-macos.cmake).
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(MEMBERSHIP_ZIG_TARGET aarch64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
