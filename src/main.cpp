#include "platform/console_pause.hpp"
#include "program.hpp"

#include <iostream>

int main()
{
    // Nothing here mixes C stdio with the streams, and unsynchronised
    // streams read and write in blocks instead of a byte at a time.
    std::ios::sync_with_stdio(false);
    return membership::runProgram(std::cin, std::cout, std::cerr, membership::pauseConsole);
}
