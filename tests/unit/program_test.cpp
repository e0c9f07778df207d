#include "program.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <sstream>
#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

namespace membership {
namespace {

// Accepts `capacity` bytes, then fails every write with `errorNumber`, as a
// full disk or a closed descriptor would.
class FailingBuffer : public std::streambuf
{
public:
    FailingBuffer(std::size_t capacity, int errorNumber)
        : capacity_(capacity), errorNumber_(errorNumber)
    {
    }
    [[nodiscard]] const std::string& accepted() const { return accepted_; }

protected:
    int_type overflow(int_type byte) override
    {
        if (traits_type::eq_int_type(byte, traits_type::eof())) {
            return traits_type::not_eof(byte);
        }
        if (accepted_.size() >= capacity_) {
            errno = errorNumber_;
            return traits_type::eof();
        }
        accepted_.push_back(traits_type::to_char_type(byte));
        return byte;
    }

private:
    std::size_t capacity_;
    int errorNumber_;
    std::string accepted_;
};

constexpr const char* kWorkedExample = "a\n6\nAnn\n";
constexpr std::size_t kWorkedExampleOutputSize = 195; // menu, prompts and result line

TEST(RunProgram, SucceedsSilentlyWhenOutputIsWritten)
{
    std::istringstream in(kWorkedExample);
    std::ostringstream out;
    std::ostringstream errors;
    int pauses = 0;
    EXPECT_EQ(runProgram(in, out, errors, [&] { ++pauses; }), 0);
    EXPECT_EQ(out.str().size(), kWorkedExampleOutputSize);
    EXPECT_EQ(errors.str(), "");
    EXPECT_EQ(pauses, 1);
}

struct LostOutputCase
{
    const char* what;
    std::size_t capacity;
    int errorNumber;
    std::string message;
};

// The reason is the failed write's: neither a stale errno from before the
// run nor one the pause leaves behind.
TEST(RunProgram, LostOutputIsReportedWithItsReason)
{
    const std::string prefix = "membership: cannot write standard output";
    const std::vector<LostOutputCase> cases{
        {"nothing written", 0, ENOSPC,
         prefix + ": " + std::generic_category().message(ENOSPC) + "\n"},
        {"menu only", 40, EBADF, prefix + ": " + std::generic_category().message(EBADF) + "\n"},
        {"all but the line end", kWorkedExampleOutputSize - 1, EIO,
         prefix + ": " + std::generic_category().message(EIO) + "\n"},
        {"no reason known", 0, 0, prefix + "\n"},
    };
    for (const LostOutputCase& lost : cases) {
        std::istringstream in(kWorkedExample);
        FailingBuffer buffer(lost.capacity, lost.errorNumber);
        std::ostream out(&buffer);
        std::ostringstream errors;
        int pauses = 0;
        errno = EACCES;
        const int status = runProgram(in, out, errors, [&] {
            ++pauses;
            errno = ENOTTY;
        });
        EXPECT_EQ(status, 1) << lost.what;
        EXPECT_EQ(errors.str(), lost.message) << lost.what;
        EXPECT_EQ(buffer.accepted().size(), lost.capacity) << lost.what;
        EXPECT_EQ(pauses, 1) << lost.what;
    }
}

} // namespace
} // namespace membership
