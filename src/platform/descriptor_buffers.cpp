#include "descriptor_buffers.hpp"

#include <cerrno>
#include <cstddef>

#ifdef _WIN32
#include <io.h> // the C runtime's descriptors, text mode translation included
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace membership {
namespace {

enum class Direction { reading, writing };

// Whether a transfer that failed with `error` is worth another try: one a
// signal interrupted before it moved a byte, or, on a descriptor left
// non-blocking (a terminal shares that flag among all its processes), one
// that would have blocked, once the descriptor is ready.
bool tryAgain([[maybe_unused]] int descriptor, [[maybe_unused]] Direction direction, int error)
{
#ifndef _WIN32
    if (error == EAGAIN || error == EWOULDBLOCK) {
        const short ready = direction == Direction::reading ? POLLIN : POLLOUT;
        pollfd waiting{descriptor, ready, 0};
        int polled = 0;
        do {
            polled = poll(&waiting, 1, -1);
        } while (polled < 0 && errno == EINTR);
        return polled > 0;
    }
#endif
    return error == EINTR;
}

template <typename Transfer>
std::ptrdiff_t uninterrupted(int descriptor, Direction direction, Transfer transfer)
{
    std::ptrdiff_t moved = 0;
    do {
        moved = transfer();
    } while (moved < 0 && tryAgain(descriptor, direction, errno));
    return moved;
}

// One read or write of at most `size` bytes: a byte count, 0 at the end of
// input, or -1 with errno set.
std::ptrdiff_t readSome(int descriptor, char* bytes, std::size_t size)
{
    return uninterrupted(descriptor, Direction::reading, [&]() -> std::ptrdiff_t {
#ifdef _WIN32
        return _read(descriptor, bytes, static_cast<unsigned>(size));
#else
        return read(descriptor, bytes, size);
#endif
    });
}

std::ptrdiff_t writeSome(int descriptor, const char* bytes, std::size_t size)
{
    return uninterrupted(descriptor, Direction::writing, [&]() -> std::ptrdiff_t {
#ifdef _WIN32
        return _write(descriptor, bytes, static_cast<unsigned>(size));
#else
        return write(descriptor, bytes, size);
#endif
    });
}

} // namespace

DescriptorReader::int_type DescriptorReader::underflow()
{
    if (failed()) {
        return traits_type::eof();
    }
    const std::ptrdiff_t got = readSome(descriptor_, block_.data(), block_.size());
    if (got <= 0) {
        if (got < 0) {
            recordFailure(errno);
        }
        return traits_type::eof();
    }
    setg(block_.data(), block_.data(), block_.data() + got);
    return traits_type::to_int_type(*gptr());
}

// NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init): see the header
DescriptorWriter::DescriptorWriter(int descriptor) noexcept : descriptor_(descriptor)
{
    setp(block_.data(), block_.data() + block_.size());
}

DescriptorWriter::~DescriptorWriter()
{
    static_cast<void>(writePending());
}

DescriptorWriter::int_type DescriptorWriter::overflow(int_type byte)
{
    if (!writePending()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(byte, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(byte);
        pbump(1);
    }
    return traits_type::not_eof(byte);
}

int DescriptorWriter::sync()
{
    return writePending() ? 0 : -1;
}

bool DescriptorWriter::writePending()
{
    const char* next = pbase();
    while (!failed() && next < pptr()) {
        const std::ptrdiff_t written =
            writeSome(descriptor_, next, static_cast<std::size_t>(pptr() - next));
        if (written <= 0) {
            recordFailure(written < 0 ? errno : 0);
        } else {
            next += written;
        }
    }
    setp(block_.data(), block_.data() + block_.size());
    return !failed();
}

} // namespace membership
