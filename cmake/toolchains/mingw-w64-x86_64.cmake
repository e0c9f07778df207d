# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (POSIX threads
# flavour). Programs run here under Wine when wine64 is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the built programs (tests included) in a prefix of the build's
# own, quietly, so that a build never touches the user's ~/.wine, nor (no
# winemenubuilder) their desktop's menus.
find_program(WINE64_EXECUTABLE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(WINE64_EXECUTABLE NAMES wine64)
find_program(WINESERVER_EXECUTABLE NAMES wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(WINESERVER_EXECUTABLE NAMES wineserver)
set(WINE_PREFIX_DIR ${CMAKE_BINARY_DIR}/wine-prefix CACHE PATH "Wine prefix for running built programs")
set(MEMBERSHIP_WINE_ENVIRONMENT WINEPREFIX=${WINE_PREFIX_DIR} WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=)
if(WINE64_EXECUTABLE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env ${MEMBERSHIP_WINE_ENVIRONMENT} ${WINE64_EXECUTABLE})
endif()
