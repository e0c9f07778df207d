#pragma once

namespace membership {

// The platform's "pause": on Windows the command interpreter's own command;
// elsewhere a stand-in that waits for one key when standard input is a
// terminal and does nothing otherwise.
void pauseConsole();

} // namespace membership
