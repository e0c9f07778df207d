#pragma once

#include <streambuf>
#include <system_error>

namespace membership {

// A stream buffer that keeps why its first read or write failed, so that the
// reason reported is that failure's own, never an errno some later call left.
// A stream cannot tell a failed read from the end of input; this can.
class FailureRecordingBuffer : public std::streambuf
{
public:
    FailureRecordingBuffer() = default;
    // A copy's get and put areas would point into the original's storage.
    FailureRecordingBuffer(const FailureRecordingBuffer&) = delete;
    FailureRecordingBuffer& operator=(const FailureRecordingBuffer&) = delete;
    FailureRecordingBuffer(FailureRecordingBuffer&&) = delete;
    FailureRecordingBuffer& operator=(FailureRecordingBuffer&&) = delete;
    ~FailureRecordingBuffer() override = default;

    [[nodiscard]] bool failed() const noexcept { return failed_; }
    // The failed transfer's errno as an error code; empty when none is known.
    [[nodiscard]] std::error_code failureReason() const noexcept { return reason_; }

protected:
    void recordFailure(int errorNumber) noexcept
    {
        if (!failed_) {
            failed_ = true;
            if (errorNumber != 0) {
                reason_ = std::error_code(errorNumber, std::generic_category());
            }
        }
    }

private:
    bool failed_ = false;
    std::error_code reason_;
};

} // namespace membership
