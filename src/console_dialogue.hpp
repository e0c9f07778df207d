#pragma once

#include <iosfwd>
#include <system_error>

namespace membership {

// The dialogue from the menu to the result line. Never validates its input:
// a read that takes nothing leaves its entry at its initial value, a month
// count out of range is stored as the nearest limit, and the run carries on.
// A name it cannot hold marks `input` bad: one too long for a string, whose
// reason is returned, as no stream can say it; or too long for the memory
// left, as the extraction itself does. Else the reason is empty.
std::error_code runConsoleDialogue(std::istream& input, std::ostream& output);

} // namespace membership
