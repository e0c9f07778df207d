#include "platform/console_pause.hpp"
#include "program.hpp"

#include <iostream>

// The shipped main without its sync_with_stdio(false): the baseline.
int main()
{
    return membership::runProgram(std::cin, std::cout, std::cerr, membership::pauseConsole);
}
