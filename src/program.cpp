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

    std::error_code nameUnread;
    bool outputLost = false;
    bool inputUnreadable = false;
    // Each failure is reported once, as soon as it is known: a person at a
    // terminal reads it before the pause waits, whatever then ends the run.
    const auto reportNewFailures = [&]() {
        // A failed write leaves the stream bad for good.
        if (!out && !outputLost) {
            outputLost = true;
            reportFailure(errors, "cannot write standard output", output.failureReason());
        }
        // A stream cannot tell a failed read from the end of the input; its
        // buffer can. The stream goes bad otherwise only for a name it cannot
        // hold (the dialogue says why) or when an extraction throws, which it
        // catches: the only throw there is std::bad_alloc, as memory runs out.
        if ((input.failed() || in.bad()) && !inputUnreadable) {
            inputUnreadable = true;
            std::error_code reason = input.failed() ? input.failureReason() : nameUnread;
            reportFailure(errors, "cannot read standard input",
                          reason ? reason : std::make_error_code(std::errc::not_enough_memory));
        }
        errors.flush();
    };

    nameUnread = runConsoleDialogue(in, out); // which flushes its result line
    reportNewFailures();
    pause(out);
    out.flush();
    reportNewFailures();
    return outputLost || inputUnreadable ? EXIT_FAILURE : EXIT_SUCCESS;
}

} // namespace membership
