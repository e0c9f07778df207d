#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <system_error>

namespace membership {

// The dialogue from the menu to the result line. Never validates its input:
// a read that takes nothing leaves its entry at its initial value, a month
// count out of range is stored as the nearest limit, and the run carries on.
// A name it cannot hold marks `input` bad: one too long for a string, whose
// reason is returned, as no stream can say it; or too long for the memory
// left, as the extraction itself does. Else the reason is empty.
std::error_code runConsoleDialogue(std::istream& input, std::ostream& output);

// The member's name, one word, as `input >> name` reads it, but never cut: a
// word longer than `longest` (for the dialogue, what a string holds) is a
// read that failed, `input` marked bad, and the reason returned; else empty.
std::error_code readName(std::istream& input, std::string& name, std::size_t longest);

} // namespace membership
