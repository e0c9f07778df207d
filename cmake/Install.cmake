# What `cmake --install` puts where: on Windows one folder a Windows user can
# read; elsewhere the program, its manual page and its documents in the
# usual places under the prefix.
include(GNUInstallDirs)

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(staged ${PROJECT_BINARY_DIR}/packaging)

if(WIN32)
    # The program, and the licence and a README with CR LF line ends.
    install(TARGETS membership RUNTIME DESTINATION .)
    configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${staged}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
    configure_file(${packaging}/windows/README.txt ${staged}/README.txt @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${staged}/LICENSE.txt ${staged}/README.txt DESTINATION .)
else()
    configure_file(${packaging}/membership.1.in ${staged}/membership.1 @ONLY)
    install(TARGETS membership RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
    install(FILES ${staged}/membership.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manual)
    install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
            COMPONENT documents)
endif()
