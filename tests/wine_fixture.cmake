# One persistent wineserver for the whole test run. Without it, each
# program's Wine helper processes can hold the test's pipes open for seconds
# after the program has exited (one already running for the prefix will do).
# Every Windows test requires this fixture.
if(NOT WINESERVER_EXECUTABLE OR NOT CMAKE_CROSSCOMPILING_EMULATOR)
    message(FATAL_ERROR "The Windows tests run under Wine: apt-get install wine64")
endif()
add_test(NAME wine.start
    COMMAND /bin/sh -c [["$0" -p </dev/null >/dev/null 2>&1; "$1" wineboot -i </dev/null >/dev/null 2>&1]] ${WINESERVER_EXECUTABLE} ${WINE64_EXECUTABLE})
add_test(NAME wine.stop COMMAND ${WINESERVER_EXECUTABLE} -k)
set_tests_properties(wine.start wine.stop PROPERTIES ENVIRONMENT "${MEMBERSHIP_WINE_ENVIRONMENT}")
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
