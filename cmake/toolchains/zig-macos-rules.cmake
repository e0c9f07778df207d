# Loaded after CMake's Apple rules (see zig-macos.cmake): probe without -Wl,-v.
set(CMAKE_C_VERBOSE_FLAG "-v")
set(CMAKE_CXX_VERBOSE_FLAG "-v")
