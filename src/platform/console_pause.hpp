#pragma once

#include <iosfwd>

namespace membership {

// The platform's "pause": on Windows the command interpreter's own command;
// elsewhere a stand-in that writes its prompt to `output` and waits for one
// key when standard input is a terminal, and does nothing otherwise.
void pauseConsole(std::ostream& output);

} // namespace membership
