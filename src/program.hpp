#pragma once

#include "failure_recording_buffer.hpp"

#include <functional>
#include <iosfwd>

namespace membership {

// What runs once the result is on screen: on a console, the platform's
// "pause", which may write its own prompt to `output`.
using PauseAction = std::function<void(std::ostream& output)>;

// The whole run over the two buffers: dialogue, pause, exit status. The
// status is 0, or 1 with a line on `errors` for output that could not be
// written and another for input that could not be read.
[[nodiscard]] int runProgram(FailureRecordingBuffer& input, FailureRecordingBuffer& output,
                             std::ostream& errors, const PauseAction& pause);

} // namespace membership
