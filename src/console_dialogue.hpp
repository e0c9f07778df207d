#pragma once

#include <iosfwd>

namespace membership {

// The dialogue from the menu to the result line. Never validates its input;
// a failed read leaves the entry at its initial value, and the run carries on.
void runConsoleDialogue(std::istream& input, std::ostream& output);

} // namespace membership
