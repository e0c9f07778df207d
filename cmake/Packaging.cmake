# What `cmake --install` puts where, and the packages CPack makes of it:
# on Linux a .tar.gz of the install tree and a .deb; on Windows a .zip of a
# folder a Windows user can read.
include(GNUInstallDirs)

set(MEMBERSHIP_MAINTAINER "The membership authors <membership@example.org>")
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(staged ${PROJECT_BINARY_DIR}/packaging)

if(WIN32)
    # One folder: the program, and the licence and a README with CR LF line ends.
    install(TARGETS membership RUNTIME DESTINATION .)
    configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${staged}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
    configure_file(${packaging}/windows/README.txt ${staged}/README.txt @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${staged}/LICENSE.txt ${staged}/README.txt DESTINATION .)
    set(CPACK_GENERATOR ZIP)
else()
    configure_file(${packaging}/membership.1.in ${staged}/membership.1 @ONLY)
    install(TARGETS membership RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
    install(FILES ${staged}/membership.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manual)
    install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
            COMPONENT documents)
    set(CPACK_GENERATOR TGZ)
endif()

# On Linux, Debian's name for the processor (the .deb's Architecture, set
# once the tests read it): from the table, else, built for this machine, dpkg's.
set(MEMBERSHIP_DEBIAN_ARCHITECTURE "")
set(debian_architectures x86_64=amd64 AMD64=amd64 aarch64=arm64 arm64=arm64)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    foreach(pair IN LISTS debian_architectures)
        if(pair MATCHES "^${CMAKE_SYSTEM_PROCESSOR}=(.+)$")
            set(MEMBERSHIP_DEBIAN_ARCHITECTURE ${CMAKE_MATCH_1})
        endif()
    endforeach()
    find_program(DPKG_EXECUTABLE dpkg)
    if(NOT MEMBERSHIP_DEBIAN_ARCHITECTURE AND NOT CMAKE_CROSSCOMPILING AND DPKG_EXECUTABLE)
        execute_process(COMMAND ${DPKG_EXECUTABLE} --print-architecture
                        OUTPUT_VARIABLE MEMBERSHIP_DEBIAN_ARCHITECTURE
                        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    if(NOT MEMBERSHIP_DEBIAN_ARCHITECTURE)
        message(STATUS "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}: no .deb")
    endif()
endif()

if(MEMBERSHIP_DEBIAN_ARCHITECTURE)
    # A .deb holds Debian's forms of these instead: a gzipped manual page, the
    # licence as a machine-readable copyright file, the changelog in Debian's
    # format. Installed only into the .deb (component debian).
    find_program(GZIP_EXECUTABLE gzip REQUIRED)
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
    string(FIND "${license}" "Permission is hereby granted" terms_start)
    string(SUBSTRING "${license}" ${terms_start} -1 terms)
    string(STRIP "${terms}" terms)
    string(REPLACE "\n\n" "\n.\n" terms "${terms}")
    string(REPLACE "\n" "\n " MEMBERSHIP_LICENSE_TERMS " ${terms}")
    configure_file(${packaging}/debian/copyright.in ${staged}/debian/copyright @ONLY)
    # -n: no name or time in the gzip header.
    foreach(source IN ITEMS ${staged}/membership.1 ${packaging}/debian/changelog)
        get_filename_component(name ${source} NAME)
        execute_process(COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${source}
                        OUTPUT_FILE ${staged}/debian/${name}.gz COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${packaging}/debian/changelog)
    install(FILES ${staged}/debian/membership.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES ${staged}/debian/copyright README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
            COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES ${staged}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
            COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES ${packaging}/debian/lintian-overrides DESTINATION share/lintian/overrides
            RENAME membership COMPONENT debian EXCLUDE_FROM_ALL)
    list(APPEND CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The membership authors")
set(CPACK_PACKAGE_CONTACT ${MEMBERSHIP_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "prices a membership at the console")
# Lines of Debian's extended description: under 80 columns each.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "An interactive console program that shows a menu of four membership plans"
    "(adult, child, senior and family), asks for a plan letter, the number of"
    "months and the member's name, and prints the name with the total charge in"
    "dollars to two decimals. Then it waits for a key press at a terminal, and"
    "exits. Unusual entries are priced rather than refused, as membership(1) says.")
set(CPACK_PACKAGE_FILE_NAME
    "${PROJECT_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MEMBERSHIP_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${MEMBERSHIP_DEBIAN_ARCHITECTURE})

# The commit's time for the packages, and each generator's own components.
configure_file(${PROJECT_SOURCE_DIR}/cmake/CPackProjectConfig.cmake.in
               ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
find_package(Python3 COMPONENTS Interpreter QUIET)
set(CPACK_MEMBERSHIP_PYTHON ${Python3_EXECUTABLE})
set(CPACK_MEMBERSHIP_NORMALISER ${packaging}/normalise_archive.py)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/NormaliseArchives.cmake)
include(CPack)
