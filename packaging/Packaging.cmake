# The release packages CPack makes of the install tree (Install.cmake), all
# of them or none: on Linux a .tar.gz, a .deb and, on the processors RPM
# users run, an .rpm; on Windows a .zip and an .msi of the same folder. A
# tool they need that is missing stops the configure with its Debian package.
# MEMBERSHIP_PACKAGES_MADE: their names, as they are in the build's
# packages/ folder, which their test checks and the release ships.
include(${CMAKE_CURRENT_LIST_DIR}/LinuxProcessors.cmake)
set(CPACK_PACKAGE_FILE_NAME
    "${PROJECT_NAME}-${MEMBERSHIP_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_PACKAGE_VERSION ${MEMBERSHIP_VERSION})
set(CPACK_RPM_PACKAGE_VERSION ${MEMBERSHIP_RPM_VERSION})
set(CPACK_MEMBERSHIP_WINDOWS_VERSION ${MEMBERSHIP_WINDOWS_VERSION})

set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/SortedArchives.cmake) # then the .msi
set(MEMBERSHIP_MAINTAINER "The membership authors <membership@example.org>")
set(CPACK_PACKAGE_VENDOR "The membership authors")

# membership_require_program(VARIABLE PROGRAM PACKAGE)
function(membership_require_program variable program package)
    find_program(${variable} ${program})
    if(NOT ${variable})
        message(FATAL_ERROR "The packages need ${program}: apt-get install ${package} "
                            "(or configure with -DMEMBERSHIP_PACKAGES=OFF for none)")
    endif()
endfunction()

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_MEMBERSHIP_MSI ${CPACK_PACKAGE_FILE_NAME}.msi)
    set(MEMBERSHIP_PACKAGES_MADE ${CPACK_PACKAGE_FILE_NAME}.zip ${CPACK_MEMBERSHIP_MSI})
    # The .msi, of the .zip's files, comes after it (WindowsInstaller.cmake).
    membership_require_program(CPACK_MEMBERSHIP_WIXL wixl wixl)
    membership_require_program(CPACK_MEMBERSHIP_MSIBUILD msibuild msitools)
    membership_require_program(CPACK_MEMBERSHIP_FAKETIME faketime faketime)
    set(CPACK_MEMBERSHIP_WXS ${packaging}/windows/membership.wxs.in)
    set(CPACK_MEMBERSHIP_SUMMARY ${PROJECT_DESCRIPTION})
    # Never changes: Windows Installer knows every version by it.
    set(CPACK_MEMBERSHIP_UPGRADE_CODE 6B1B3A47-8E2E-4C41-9B0E-2F4C5A0D9E11)
    list(APPEND CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/WindowsInstaller.cmake)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    membership_linux_processor(UNAME ${CMAKE_SYSTEM_PROCESSOR})
    if(NOT MEMBERSHIP_DEBIAN)
        message(FATAL_ERROR "No row for ${CMAKE_SYSTEM_PROCESSOR} in "
                            "packaging/linux-processors.txt: its packages would have no names")
    endif()
    set(CPACK_GENERATOR TGZ DEB)
    set(CPACK_DEBIAN_FILE_NAME ${PROJECT_NAME}_${MEMBERSHIP_VERSION}_${MEMBERSHIP_DEBIAN}.deb)
    set(MEMBERSHIP_PACKAGES_MADE ${CPACK_PACKAGE_FILE_NAME}.tar.gz ${CPACK_DEBIAN_FILE_NAME})

    # Both install the manual page gzipped; -n: no name or time in its header.
    membership_require_program(GZIP_EXECUTABLE gzip gzip)
    function(membership_gzip source destination)
        execute_process(COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${source}
                        OUTPUT_FILE ${destination} COMMAND_ERROR_IS_FATAL ANY)
    endfunction()
    membership_gzip(${staged}/membership.1 ${staged}/membership.1.gz)

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
    membership_debian_changelog(${staged}/debian/changelog ${MEMBERSHIP_MAINTAINER})
    membership_gzip(${staged}/debian/changelog ${staged}/debian/changelog.gz)
    install(FILES ${staged}/membership.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES ${staged}/debian/copyright README.md ${staged}/debian/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES ${packaging}/debian/lintian-overrides DESTINATION share/lintian/overrides
            RENAME membership COMPONENT debian EXCLUDE_FROM_ALL)

    if(MEMBERSHIP_RPM AND PROJECT_BINARY_DIR MATCHES " ")
        message(FATAL_ERROR "rpmbuild cannot build in '${PROJECT_BINARY_DIR}', whose path "
                            "holds a space: build in a folder whose path has none, or configure "
                            "with -DMEMBERSHIP_PACKAGES=OFF.")
    endif()
    if(MEMBERSHIP_RPM)
        # The manual page gzipped, the README, and the licence where RPM-based
        # systems keep licences (component rpm).
        membership_require_program(RPMBUILD_EXECUTABLE rpmbuild rpm)
        install(FILES ${staged}/membership.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
                COMPONENT rpm EXCLUDE_FROM_ALL)
        install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT rpm
                EXCLUDE_FROM_ALL)
        install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/licenses/${PROJECT_NAME}
                COMPONENT rpm EXCLUDE_FROM_ALL)
        list(APPEND CPACK_GENERATOR RPM)
        set(CPACK_RPM_FILE_NAME ${PROJECT_NAME}-${MEMBERSHIP_RPM_VERSION}-1.${MEMBERSHIP_RPM}.rpm)
        list(APPEND MEMBERSHIP_PACKAGES_MADE ${CPACK_RPM_FILE_NAME})
    endif()
else()
    message(FATAL_ERROR "Packages are made for Linux and Windows, not ${CMAKE_SYSTEM_NAME}")
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_CONTACT ${MEMBERSHIP_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "prices a membership at the console")
# Lines of Debian's extended description: under 80 columns each.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "An interactive console program that shows a menu of four membership plans"
    "(adult, child, senior and family), asks for a plan letter, the number of"
    "months and the member's name, and prints the name with the total charge in"
    "dollars to two decimals. Then it waits for a key press at a terminal, and"
    "exits. Unusual entries are priced rather than refused, as membership(1) says.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# An earlier version's packages go, which the folder would hold beside these.
file(GLOB earlier LIST_DIRECTORIES false RELATIVE ${CPACK_PACKAGE_DIRECTORY}
     ${CPACK_PACKAGE_DIRECTORY}/*)
list(REMOVE_ITEM earlier ${MEMBERSHIP_PACKAGES_MADE})
list(TRANSFORM earlier PREPEND ${CPACK_PACKAGE_DIRECTORY}/)
if(earlier)
    file(REMOVE ${earlier})
endif()
set(CPACK_STRIP_FILES TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MEMBERSHIP_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${MEMBERSHIP_DEBIAN})

set(CPACK_RPM_PACKAGE_ARCHITECTURE ${MEMBERSHIP_RPM})
# RPM's summaries are capitalised, and do not repeat the package's name.
set(CPACK_RPM_PACKAGE_SUMMARY "Prices a Brenmoor plan for a number of months at the console")
set(CPACK_RPM_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP Applications/Productivity)
# A static program needs nothing: rpmbuild would still require the dynamic
# loader's features (rtld(GNU_HASH)) of a static-pie one.
set(CPACK_RPM_PACKAGE_AUTOREQ no)
set(CPACK_RPM_USER_FILELIST "%license /usr/share/licenses/${PROJECT_NAME}/LICENSE")
# These folders belong to the system, not to this package.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1 /usr/share/licenses)
# The same bytes from every build of a commit: the build time is the commit's
# (SOURCE_DATE_EPOCH), later file times are lowered to it, and the host is a
# fixed name. No debug package and no rpmbuild post-processing: cpack has
# stripped the program, and the build host's tools may not know its processor.
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
configure_file(${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake.in
               ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
include(CPack)
