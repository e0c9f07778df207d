# What `cmake --install` puts where: on Windows one folder a Windows user can
# read; elsewhere the program, its manual page and its documents in the
# usual places under the prefix.
include(GNUInstallDirs)

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(staged ${PROJECT_BINARY_DIR}/packaging)

configure_file(${packaging}/membership.1.in ${staged}/membership.1 @ONLY)
if(WIN32)
    # The program, and the licence, a README and the manual page as plain
    # text (Windows has no man), with CR LF line ends.
    install(TARGETS membership RUNTIME DESTINATION .)
    configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${staged}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
    configure_file(${packaging}/windows/README.txt ${staged}/README.txt @ONLY NEWLINE_STYLE CRLF)
    find_program(GROFF_EXECUTABLE groff)
    if(NOT GROFF_EXECUTABLE)
        message(FATAL_ERROR "groff writes the manual as text for Windows: apt-get install groff-base")
    endif()
    execute_process(COMMAND ${GROFF_EXECUTABLE} -man -Tascii -P-cbou ${staged}/membership.1
                    OUTPUT_VARIABLE manual COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\n" "\r\n" manual "${manual}")
    file(WRITE ${staged}/MANUAL.txt "${manual}")
    install(FILES ${staged}/LICENSE.txt ${staged}/MANUAL.txt ${staged}/README.txt DESTINATION .)
else()
    install(TARGETS membership RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
    install(FILES ${staged}/membership.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manual)
    install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
            COMPONENT documents)
endif()
