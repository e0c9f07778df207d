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
    # And an installer of the same files, where msitools and faketime are at
    # hand: made after the .zip (see WindowsInstaller.cmake).
    find_program(WIXL_EXECUTABLE wixl)
    find_program(MSIBUILD_EXECUTABLE msibuild)
    find_program(FAKETIME_EXECUTABLE faketime)
    set(MEMBERSHIP_WINDOWS_INSTALLER OFF)
    if(WIXL_EXECUTABLE AND MSIBUILD_EXECUTABLE AND FAKETIME_EXECUTABLE)
        set(MEMBERSHIP_WINDOWS_INSTALLER ON)
        set(CPACK_MEMBERSHIP_WXS ${packaging}/windows/membership.wxs.in)
        set(CPACK_MEMBERSHIP_SUMMARY ${PROJECT_DESCRIPTION})
        set(CPACK_MEMBERSHIP_WIXL ${WIXL_EXECUTABLE})
        set(CPACK_MEMBERSHIP_MSIBUILD ${MSIBUILD_EXECUTABLE})
        set(CPACK_MEMBERSHIP_FAKETIME ${FAKETIME_EXECUTABLE})
    else()
        message(STATUS "wixl, msibuild or faketime not found (Debian/Ubuntu: apt-get install "
                       "wixl msitools faketime): no .msi")
    endif()
else()
    configure_file(${packaging}/membership.1.in ${staged}/membership.1 @ONLY)
    install(TARGETS membership RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
    install(FILES ${staged}/membership.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manual)
    install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
            COMPONENT documents)
    set(CPACK_GENERATOR TGZ)
endif()

# membership_architecture(TABLE VARIABLE): sets VARIABLE to what TABLE, a
# list of PROCESSOR=NAME, names the processor built for; to "" if nothing.
function(membership_architecture table variable)
    set(name "")
    foreach(pair IN LISTS ${table})
        if(pair MATCHES "^${CMAKE_SYSTEM_PROCESSOR}=(.+)$")
            set(name ${CMAKE_MATCH_1})
        endif()
    endforeach()
    set(${variable} "${name}" PARENT_SCOPE)
endfunction()

# On Linux, a .deb for every processor Debian names (from the table, else,
# built for this machine, as dpkg names it), and an .rpm for those RPM users
# run this on, where rpmbuild is at hand. The tests read both names.
set(debian_architectures x86_64=amd64 AMD64=amd64 aarch64=arm64 arm64=arm64 armv7l=armhf
                         riscv64=riscv64 i686=i386)
set(rpm_architectures x86_64=x86_64 AMD64=x86_64 aarch64=aarch64 arm64=aarch64)
set(MEMBERSHIP_DEBIAN_ARCHITECTURE "")
set(MEMBERSHIP_RPM_ARCHITECTURE "")
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    membership_architecture(debian_architectures MEMBERSHIP_DEBIAN_ARCHITECTURE)
    find_program(DPKG_EXECUTABLE dpkg)
    if(NOT MEMBERSHIP_DEBIAN_ARCHITECTURE AND NOT CMAKE_CROSSCOMPILING AND DPKG_EXECUTABLE)
        execute_process(COMMAND ${DPKG_EXECUTABLE} --print-architecture
                        OUTPUT_VARIABLE MEMBERSHIP_DEBIAN_ARCHITECTURE
                        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    if(NOT MEMBERSHIP_DEBIAN_ARCHITECTURE)
        message(STATUS "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}: no .deb")
    endif()

    membership_architecture(rpm_architectures rpm_architecture)
    find_program(RPMBUILD_EXECUTABLE rpmbuild)
    if(rpm_architecture AND RPMBUILD_EXECUTABLE)
        set(MEMBERSHIP_RPM_ARCHITECTURE ${rpm_architecture})
    elseif(rpm_architecture)
        message(STATUS "rpmbuild not found (Debian/Ubuntu: apt-get install rpm): no .rpm")
    endif()
endif()

if(MEMBERSHIP_DEBIAN_ARCHITECTURE OR MEMBERSHIP_RPM_ARCHITECTURE)
    # Both install the manual page gzipped; -n: no name or time in its header.
    find_program(GZIP_EXECUTABLE gzip REQUIRED)
    function(membership_gzip source destination)
        execute_process(COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${source}
                        OUTPUT_FILE ${destination} COMMAND_ERROR_IS_FATAL ANY)
    endfunction()
    membership_gzip(${staged}/membership.1 ${staged}/membership.1.gz)
endif()

if(MEMBERSHIP_DEBIAN_ARCHITECTURE)
    # A .deb holds Debian's forms of these instead: a gzipped manual page, the
    # licence as a machine-readable copyright file, the changelog in Debian's
    # format. Installed only into the .deb (component debian).
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
    string(FIND "${license}" "Permission is hereby granted" terms_start)
    string(SUBSTRING "${license}" ${terms_start} -1 terms)
    string(STRIP "${terms}" terms)
    string(REPLACE "\n\n" "\n.\n" terms "${terms}")
    string(REPLACE "\n" "\n " MEMBERSHIP_LICENSE_TERMS " ${terms}")
    configure_file(${packaging}/debian/copyright.in ${staged}/debian/copyright @ONLY)
    membership_gzip(${packaging}/debian/changelog ${staged}/debian/changelog.gz)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${packaging}/debian/changelog)
    install(FILES ${staged}/membership.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES ${staged}/debian/copyright README.md ${staged}/debian/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES ${packaging}/debian/lintian-overrides DESTINATION share/lintian/overrides
            RENAME membership COMPONENT debian EXCLUDE_FROM_ALL)
    list(APPEND CPACK_GENERATOR DEB)
endif()

if(MEMBERSHIP_RPM_ARCHITECTURE)
    # The manual page gzipped, the README and the licence (component rpm).
    install(FILES ${staged}/membership.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT rpm EXCLUDE_FROM_ALL)
    install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
            COMPONENT rpm EXCLUDE_FROM_ALL)
    list(APPEND CPACK_GENERATOR RPM)
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

set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${MEMBERSHIP_RPM_ARCHITECTURE})
# RPM's summaries are capitalised, and do not repeat the package's name.
set(CPACK_RPM_PACKAGE_SUMMARY "Prices a Brenmoor plan for a number of months at the console")
set(CPACK_RPM_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP Applications/Productivity)
# The manual page's folders belong to the system, not to this package.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1)
# The same bytes from every build of a commit: the build time is the commit's
# (SOURCE_DATE_EPOCH), as are the files' times (StagedFiles.cmake), and the
# host is a fixed name. No debug package and no rpmbuild post-processing:
# cpack has stripped the program, and the build host's tools may not know
# its processor.
string(JOIN "\n" CPACK_RPM_SPEC_MORE_DEFINE
    "%define packager ${MEMBERSHIP_MAINTAINER}"
    "%define _buildhost reproducible"
    "%define use_source_date_epoch_as_buildtime 1"
    "%define clamp_mtime_to_source_date_epoch 1"
    "%define source_date_epoch_from_changelog 0"
    "%define _build_id_links none"
    "%define debug_package %{nil}"
    "%define __spec_install_post %{nil}")

# The commit's time for the packages, and each generator's own components.
configure_file(${PROJECT_SOURCE_DIR}/cmake/CPackProjectConfig.cmake.in
               ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
find_package(Python3 COMPONENTS Interpreter QUIET)
set(CPACK_MEMBERSHIP_PYTHON ${Python3_EXECUTABLE})
set(CPACK_MEMBERSHIP_NORMALISER ${packaging}/normalise_archive.py)
set(CPACK_MEMBERSHIP_GENERATORS ${CPACK_GENERATOR})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/StagedFiles.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/NormaliseArchives.cmake
                             ${PROJECT_SOURCE_DIR}/cmake/WindowsInstaller.cmake
                             ${PROJECT_SOURCE_DIR}/cmake/WriteChecksums.cmake)
include(CPack)
