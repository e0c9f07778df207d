#pragma once

#include "failure_recording_buffer.hpp"

#include <array>
#include <cstddef>

namespace membership {

inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// Each buffer reads or writes its descriptor this much at a time.
inline constexpr std::size_t kDescriptorBlockSize = std::size_t{16} << 10U;

// Reads a file descriptor in blocks, waiting on one left non-blocking. A
// failed read ends the input, as its end would, and is recorded with its
// errno. What was read ahead and never taken goes back to a file when the
// buffer goes: its next reader starts just past the last byte taken. Neither
// buffer is copied nor moved (the base says why).
// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): see the base
class DescriptorReader final : public FailureRecordingBuffer
{
public:
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init): see block_
    explicit DescriptorReader(int descriptor) noexcept : descriptor_(descriptor) {}
    ~DescriptorReader() override;

protected:
    int_type underflow() override;

private:
    int descriptor_;
    // Not zeroed: a run would pay for clearing it, and read() fills it first.
    std::array<char, kDescriptorBlockSize> block_;
};

// Writes a file descriptor in blocks, on overflow and on flush, waiting on
// one left non-blocking; what is not flushed is not written. The first
// failed write is recorded with its errno; what it held is dropped.
// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): see the base
class DescriptorWriter final : public FailureRecordingBuffer
{
public:
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init): as the reader's
    explicit DescriptorWriter(int descriptor) noexcept : descriptor_(descriptor) {}

protected:
    int_type overflow(int_type byte) override;
    int sync() override;

private:
    bool writePending();
    bool writeAll(const char* bytes, std::size_t size);

    int descriptor_;
    std::array<char, kDescriptorBlockSize> block_; // not zeroed: as the reader's
};

} // namespace membership
