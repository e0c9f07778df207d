// Linked into the statically linked unit tests of the Linux cross builds
// alone. GoogleTest can stream its results to a socket, which these tests
// never ask it to; glibc's static getaddrinfo, linked for that, makes the
// linker warn that it needs glibc's shared libraries at run time. These two
// take its place, and refuse: no name is ever looked up.

#include <netdb.h>

extern "C" {
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): glibc's are reserved
int getaddrinfo(const char* /*name*/, const char* /*service*/, const addrinfo* /*hints*/,
                addrinfo** found)
{
    *found = nullptr;
    return EAI_FAIL;
}

void freeaddrinfo(addrinfo* /*found*/) noexcept {}
}
