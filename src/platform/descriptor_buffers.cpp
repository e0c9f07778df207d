#include "descriptor_buffers.hpp"

#include <cerrno>
#include <cstddef>

#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace membership {
namespace {

#ifndef _WIN32
// Made again where it failed for a signal, or, on a descriptor left
// non-blocking (a terminal shares that flag among all its processes), once
// the descriptor is ready for it.
template <typename Transfer>
std::ptrdiff_t transferSome(int descriptor, short readiness, Transfer transfer)
{
    ssize_t moved = 0;
    while ((moved = transfer()) < 0 &&
           (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (errno != EINTR) {
            pollfd waiting{descriptor, readiness, 0};
            static_cast<void>(poll(&waiting, 1, -1)); // a failure shows in the next try
        }
    }
    return moved;
}
#endif

// One read or write of at most `size` bytes: a byte count, 0 at the end of
// input, or -1 with errno set. On Windows, through the C runtime's text mode.
std::ptrdiff_t readSome(int descriptor, char* bytes, std::size_t size)
{
#ifdef _WIN32
    return _read(descriptor, bytes, static_cast<unsigned>(size));
#else
    return transferSome(descriptor, POLLIN, [&] { return read(descriptor, bytes, size); });
#endif
}

std::ptrdiff_t writeSome(int descriptor, const char* bytes, std::size_t size)
{
#ifdef _WIN32
    return _write(descriptor, bytes, static_cast<unsigned>(size));
#else
    return transferSome(descriptor, POLLOUT, [&] { return write(descriptor, bytes, size); });
#endif
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

DescriptorReader::~DescriptorReader()
{
#ifndef _WIN32
    // Where the descriptor cannot seek (a pipe, a terminal) what was read is
    // gone. On Windows, text mode reads CR LF as LF: the bytes held are not
    // the file's, and their count cannot say where the file is.
    static_cast<void>(lseek(descriptor_, -static_cast<off_t>(egptr() - gptr()), SEEK_CUR));
#endif
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
    const bool written = writeAll(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(block_.data(), block_.data() + block_.size());
    return written;
}

bool DescriptorWriter::writeAll(const char* bytes, std::size_t size)
{
    const char* const end = bytes + size;
    while (!failed() && bytes < end) {
        const std::ptrdiff_t written =
            writeSome(descriptor_, bytes, static_cast<std::size_t>(end - bytes));
        if (written <= 0) {
            recordFailure(written < 0 ? errno : 0);
        } else {
            bytes += written;
        }
    }
    return !failed();
}

} // namespace membership
