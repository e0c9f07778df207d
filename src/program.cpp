#include "program.hpp"

#include "console_dialogue.hpp"

#include <cstdlib>
#include <istream>
#include <ostream>
#include <string_view>
#include <system_error>

namespace membership {
namespace {

void reportFailure(std::ostream& errors, std::string_view what, std::error_code reason)
{
    errors << "membership: " << what;
    if (reason) {
        errors << ": " << reason.message();
    }
    errors << '\n';
}

} // namespace

int runProgram(FailureRecordingBuffer& input, FailureRecordingBuffer& output, std::ostream& errors,
               const PauseAction& pause)
{
    std::istream in(&input);
    std::ostream out(&output);
    in.tie(&out); // every prompt is on screen before the read that follows it

    runConsoleDialogue(in, out);
    out.flush(); // the result is on screen before the pause waits
    pause(out);
    out.flush();

    // A failed write leaves the stream bad for good, so one look suffices.
    const bool outputLost = !out;
    if (outputLost) {
        reportFailure(errors, "cannot write standard output", output.failureReason());
    }
    // Only the buffer knows a failed read from the end of the input.
    if (input.failed()) {
        reportFailure(errors, "cannot read standard input", input.failureReason());
    }
    errors.flush();
    return outputLost || input.failed() ? EXIT_FAILURE : EXIT_SUCCESS;
}

} // namespace membership
