# Run by cpack after each generator (CPACK_POST_BUILD_SCRIPTS): once the .zip
# is made, makes the .msi (CPACK_MEMBERSHIP_MSI) of its files beside it, from
# windows/membership.wxs.in with msitools' wixl, then adds with msibuild what
# wixl cannot write: the install folder on the system PATH. The same bytes
# from every build of a commit: both tools' clocks and the files' own times
# (wixl copies them into the cabinet; no CPack setting reaches them) are the
# commit's, and the codes that would be random derive from the package: the
# product code from the version (a major upgrade needs a new one), the
# package code from the version and the files.
if(NOT CPACK_GENERATOR STREQUAL "ZIP")
    return()
endif()

file(GLOB_RECURSE program "${CPACK_TEMPORARY_DIRECTORY}/*membership.exe")
get_filename_component(staged_folder "${program}" DIRECTORY)
file(GLOB files RELATIVE "${staged_folder}" "${staged_folder}/*") # the .zip's, the .wxs's
execute_process(COMMAND touch -d "@$ENV{SOURCE_DATE_EPOCH}" ${files}
                WORKING_DIRECTORY "${staged_folder}" COMMAND_ERROR_IS_FATAL ANY)
set(namespace ${CPACK_MEMBERSHIP_UPGRADE_CODE})
set(contents "${CPACK_PACKAGE_VERSION}")
foreach(file IN LISTS files)
    file(SHA256 "${staged_folder}/${file}" sum)
    string(APPEND contents " ${file}=${sum}")
endforeach()
string(UUID MEMBERSHIP_PRODUCT_CODE NAMESPACE ${namespace}
       NAME "product ${CPACK_PACKAGE_VERSION}" TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE ${namespace} NAME "package ${contents}" TYPE SHA1 UPPER)

set(work "${CPACK_TOPLEVEL_DIRECTORY}/msi")
set(installer "${CPACK_PACKAGE_DIRECTORY}/${CPACK_MEMBERSHIP_MSI}")
file(MAKE_DIRECTORY "${work}")
configure_file("${CPACK_MEMBERSHIP_WXS}" "${work}/membership.wxs" @ONLY)

string(TIMESTAMP commit_time "%Y-%m-%d %H:%M:%S" UTC) # SOURCE_DATE_EPOCH's
set(at_commit_time ${CMAKE_COMMAND} -E env TZ=UTC
                   ${CPACK_MEMBERSHIP_FAKETIME} -f "@${commit_time}")

# wixl finds each file's Source in the folder it works in.
execute_process(COMMAND ${at_commit_time} ${CPACK_MEMBERSHIP_WIXL} --arch x64
                        --output "${installer}" "${work}/membership.wxs"
                WORKING_DIRECTORY "${staged_folder}" COMMAND_ERROR_IS_FATAL ANY)
# The folder goes at the end of PATH ([~] is what is there), as Windows
# installers put theirs. WriteEnvironmentStrings and RemoveEnvironmentStrings
# run where Windows Installer's own sequence has them.
execute_process(COMMAND ${at_commit_time} ${CPACK_MEMBERSHIP_MSIBUILD} "${installer}"
    -q "CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)"
    -q "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('PATH', '=-*PATH', '[~];[INSTALLDIR]', 'Program')"
    -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
    -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)"
    -s membership "${CPACK_PACKAGE_VENDOR}" "x64;1033" "{${package_code}}"
    COMMAND_ERROR_IS_FATAL ANY)

