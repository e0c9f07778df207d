#pragma once

#include "failure_recording_buffer.hpp"

#include <array>
#include <cstddef>

namespace membership {

inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// Reads a file descriptor in blocks, waiting on one left non-blocking. A
// failed read ends the input, as its end would, and is recorded with its errno.
class DescriptorReader final : public FailureRecordingBuffer
{
public:
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init): see block_
    explicit DescriptorReader(int descriptor) noexcept : descriptor_(descriptor) {}

protected:
    int_type underflow() override;

private:
    int descriptor_;
    // Not zeroed: a run would pay for clearing it, and nothing is read from
    // it before a read() fills it.
    std::array<char, std::size_t{16} << 10U> block_;
};

// Writes a file descriptor in blocks, on overflow and on flush, waiting on
// one left non-blocking. The first failed write is recorded with its errno;
// what it held is dropped.
class DescriptorWriter final : public FailureRecordingBuffer
{
public:
    explicit DescriptorWriter(int descriptor) noexcept;
    DescriptorWriter(const DescriptorWriter&) = delete;
    DescriptorWriter& operator=(const DescriptorWriter&) = delete;
    DescriptorWriter(DescriptorWriter&&) = delete;
    DescriptorWriter& operator=(DescriptorWriter&&) = delete;
    ~DescriptorWriter() override; // writes what is still held

protected:
    int_type overflow(int_type byte) override;
    int sync() override;

private:
    bool writePending();

    int descriptor_;
    std::array<char, std::size_t{16} << 10U> block_; // not zeroed: as the reader's
};

} // namespace membership
