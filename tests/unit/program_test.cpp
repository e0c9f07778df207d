#include "dialogue_texts.hpp"
#include "failure_recording_buffer.hpp"
#include "program.hpp"
#include "same_text.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace membership {
namespace {

// Serves `text`; the read after it fails with `errorNumber`, as reading a
// directory or a closed descriptor would, or, given 0, finds the end.
class ScriptedInput : public FailureRecordingBuffer
{
public:
    ScriptedInput(std::string text, int errorNumber)
        : text_(std::move(text)), errorNumber_(errorNumber)
    {
        setg(text_.data(), text_.data(), text_.data() + text_.size());
    }

protected:
    int_type underflow() override
    {
        if (errorNumber_ != 0) {
            recordFailure(errorNumber_);
        }
        return traits_type::eof();
    }

private:
    std::string text_;
    int errorNumber_;
};

// Delivers `capacity` bytes, then fails with `errorNumber` as a full disk or
// a closed descriptor would. It holds nothing back: what is written is there.
class LimitedOutput : public FailureRecordingBuffer
{
public:
    LimitedOutput(std::size_t capacity, int errorNumber)
        : capacity_(capacity), errorNumber_(errorNumber)
    {
    }
    [[nodiscard]] const std::string& delivered() const { return delivered_; }

protected:
    int_type overflow(int_type byte) override
    {
        if (failed() || delivered_.size() == capacity_) {
            recordFailure(errorNumber_);
            return traits_type::eof();
        }
        delivered_.push_back(traits_type::to_char_type(byte));
        return byte;
    }

private:
    std::size_t capacity_;
    int errorNumber_;
    std::string delivered_;
};

const std::string kWorkedExample(expected::kWorkedExampleInput);
constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();
const std::size_t kWorkedExampleOutputSize = expected::runDialogue(kWorkedExample).size();

std::string report(const char* what, int errorNumber)
{
    return std::string("membership: cannot ") + what + ": " +
           std::generic_category().message(errorNumber) + "\n";
}
std::string lostOutput(int errorNumber)
{
    return report("write standard output", errorNumber);
}
std::string unreadableInput(int errorNumber)
{
    return report("read standard input", errorNumber);
}

struct RunCase
{
    const char* what;
    std::string input;
    int readError; // of the read after the input; 0: the input just ends
    std::size_t outputCapacity;
    int writeError;
    std::string pauseWrites;
    int status;
    std::string errors;
    bool failsInThePause = false; // else all of `errors` is reported before it waits
};

// Whatever fails, the output is the dialogue's for the input that could be
// read, cut where writing failed; the pause runs once, after all of it; each
// failure is reported with its own reason, never errno's, as soon as it is
// known.
TEST(RunProgram, ExitStatusAndReportForEachFailure)
{
    const std::vector<RunCase> cases{
        {"all read and written", kWorkedExample, 0, kUnlimited, 0, "", 0, ""},
        {"the pause writes", kWorkedExample, 0, kUnlimited, 0, "Press a key\n", 0, ""},
        {"menu only", kWorkedExample, 0, 40, EBADF, "", 1, lostOutput(EBADF)},
        {"all but the line end", kWorkedExample, 0, kWorkedExampleOutputSize - 1, EIO, "", 1,
         lostOutput(EIO)},
        {"no reason known", kWorkedExample, 0, 0, 0, "", 1,
         "membership: cannot write standard output\n"},
        {"the pause's own output lost", kWorkedExample, 0, kWorkedExampleOutputSize, ENOSPC,
         "Press a key\n", 1, lostOutput(ENOSPC), true},
        {"unreadable after the months", "a\n6\n", EIO, kUnlimited, 0, "", 1, unreadableInput(EIO)},
        {"unreadable within the name", "a\n6\nAnn", EIO, kUnlimited, 0, "", 1,
         unreadableInput(EIO)},
        {"the name ends before the failing read", kWorkedExample, EIO, kUnlimited, 0, "", 0, ""},
    };
    for (const RunCase& run : cases) {
        ScriptedInput input(run.input, run.readError);
        LimitedOutput output(run.outputCapacity, run.writeError);
        std::ostringstream errors;
        std::vector<std::size_t> deliveredAtEachPause;
        std::string reportedBeforeThePause;
        errno = EACCES; // stale: must never be given as a reason
        const int status = runProgram(input, output, errors, [&](std::ostream& out) {
            deliveredAtEachPause.push_back(output.delivered().size());
            reportedBeforeThePause = errors.str();
            errno = ENOTTY; // what a terminal call would leave
            out << run.pauseWrites;
        });

        const std::string dialogue = expected::runDialogue(run.input);
        const std::string whole = dialogue + run.pauseWrites;
        EXPECT_PRED_FORMAT2(expected::sameText, output.delivered(),
                            whole.substr(0, std::min(whole.size(), run.outputCapacity)))
            << run.what;
        EXPECT_EQ(status, run.status) << run.what;
        EXPECT_EQ(errors.str(), run.errors) << run.what;
        EXPECT_EQ(reportedBeforeThePause, run.failsInThePause ? "" : run.errors) << run.what;
        ASSERT_EQ(deliveredAtEachPause.size(), 1U) << run.what;
        EXPECT_EQ(deliveredAtEachPause.front(), std::min(dialogue.size(), run.outputCapacity))
            << run.what << ": the pause ran before the result line";
    }
}

} // namespace
} // namespace membership
