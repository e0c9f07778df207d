#include "console_pause.hpp"

#include <cstdlib>

namespace membership {

void pauseConsole(std::ostream& /*output*/)
{
    // The command interpreter writes its own prompt, and what it answers
    // makes no difference to the run.
    static_cast<void>(std::system("pause"));
}

} // namespace membership
