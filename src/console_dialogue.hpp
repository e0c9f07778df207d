#pragma once

#include <iosfwd>

namespace membership {

// The dialogue from the menu to the result line. Never validates its input:
// a read that takes nothing leaves its entry at its initial value, a month
// count out of range is stored as the nearest limit, and the run carries on.
void runConsoleDialogue(std::istream& input, std::ostream& output);

} // namespace membership
