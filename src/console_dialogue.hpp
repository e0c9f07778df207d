#pragma once

#include <functional>
#include <iosfwd>

namespace membership {

// What the dialogue does once the result is on screen; on a console, the
// platform's "pause".
using PauseAction = std::function<void()>;

// One whole run: menu, the three prompts and reads, the result line, then
// the pause. Never validates its input; a failed read leaves the entry at
// its initial value, and the run carries on.
void runConsoleDialogue(std::istream& input, std::ostream& output, const PauseAction& pause);

} // namespace membership
