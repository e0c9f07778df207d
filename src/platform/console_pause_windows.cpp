#include "console_pause.hpp"

#include <cstdlib>

namespace membership {

void pauseConsole()
{
    // What the command interpreter answers makes no difference to the run.
    static_cast<void>(std::system("pause"));
}

} // namespace membership
