#pragma once

#include "console_dialogue.hpp"

#include <iosfwd>

namespace membership {

// Runs the dialogue and returns the process's exit status: 0, or 1 with one
// line on `errors` when `output` could not be written.
[[nodiscard]] int runProgram(std::istream& input, std::ostream& output, std::ostream& errors,
                             const PauseAction& pause);

} // namespace membership
