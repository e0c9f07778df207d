#include "program.hpp"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <system_error>

namespace membership {
namespace {

// Flushes and reports why the stream lost output, if it did. The reason is
// errno as the failed write left it; a zero errno means no reason is known.
std::optional<std::error_code> flushFailure(std::ostream& output)
{
    output.flush();
    if (output) {
        return std::nullopt;
    }
    return std::error_code(errno, std::generic_category());
}

} // namespace

int runProgram(std::istream& input, std::ostream& output, std::ostream& errors,
               const PauseAction& pause)
{
    errno = 0; // so that a stale value is never given as the reason
    std::optional<std::error_code> writeFailure;
    runConsoleDialogue(input, output, [&] {
        // Checked before the pause, whose own system calls may change errno.
        writeFailure = flushFailure(output);
        pause();
    });
    if (!writeFailure) {
        writeFailure = flushFailure(output);
    }
    if (!writeFailure) {
        return EXIT_SUCCESS;
    }

    errors << "membership: cannot write standard output";
    if (*writeFailure) {
        errors << ": " << writeFailure->message();
    }
    errors << '\n' << std::flush;
    return EXIT_FAILURE;
}

} // namespace membership
