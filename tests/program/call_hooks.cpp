// The program with a hook at each call that the pause makes on the terminal
// (and at its start, its waits, the stops it sends itself and its writes to
// standard output): the linker's --wrap sends the platform's calls here.
// Where MEMBERSHIP_CALL_HOOKS is "EVENTS,GO" (two descriptors), each call
// writes what it is for and a line end to EVENTS ("pselect on input", say),
// then waits for a byte from GO before it is made: 'g' lets it go, 'f' too,
// and every later call goes unreported. So a test acts at the very moment a
// call is due, whatever the timing. Only what is async-signal-safe is used:
// the ending signals' handlers make some of these calls.
//
// At its exit, it checks that every signal's action (default, ignored or
// handled) and the signal mask are as it inherited them, and else exits with
// kSignalsLeftChanged: a pause that left a handler of its own would never
// stop at the last line end, written from the background. A signal sent to
// another process than itself (its group: `membership | cat`) exits with
// kSignalledAnother.

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <pthread.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

// The write that the hook itself makes (the linker names it so).
extern "C" ssize_t __real_write(int descriptor, const void* bytes, std::size_t size); // NOLINT

namespace {

constexpr int kSignalsLeftChanged = 125;
constexpr int kSignalledAnother = 124;
constexpr int kSignalSetBits = static_cast<int>(sizeof(sigset_t) * CHAR_BIT);

struct Hooks
{
    int events = -1;
    int go = -1;
};

Hooks fromTheEnvironment()
{
    Hooks given;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read once, before main
    const char* const descriptors = std::getenv("MEMBERSHIP_CALL_HOOKS");
    if (descriptors != nullptr) {
        char* end = nullptr;
        given.events = static_cast<int>(std::strtol(descriptors, &end, 10));
        given.go = *end == ',' ? static_cast<int>(std::strtol(end + 1, nullptr, 10)) : -1;
    }
    return given;
}

// Written by reportCall alone, in the one thread (or a handler within it).
Hooks hooks = fromTheEnvironment(); // NOLINT(cert-err58-cpp): getenv and strtol throw nothing

void reportCall(const char* name)
{
    if (hooks.go < 0) {
        return;
    }
    const int savedErrno = errno;
    [[maybe_unused]] const ssize_t named = __real_write(hooks.events, name, std::strlen(name));
    [[maybe_unused]] const ssize_t ended = __real_write(hooks.events, "\n", 1);
    char answer = 0;
    ssize_t got = 0;
    do {
        got = read(hooks.go, &answer, 1); // a signal may come meanwhile: that is the point
    } while (got < 0 && errno == EINTR);
    if (got != 1 || answer == 'f') {
        hooks.go = -1;
    }
    errno = savedErrno;
}

using SignalAction = struct sigaction; // named as the function is

// Each signal's action ('d' the default, 'i' ignored, 'h' a handler), then
// whether each is blocked ('b').
constexpr auto kSlots = static_cast<std::size_t>(kSignalSetBits) + 1;
using Signals = std::array<char, 2 * kSlots>;

Signals signalsNow() noexcept
{
    Signals now{};
    sigset_t blocked{};
    pthread_sigmask(SIG_SETMASK, nullptr, &blocked);
    for (int number = 1; number <= kSignalSetBits; ++number) {
        const auto slot = static_cast<std::size_t>(number);
        SignalAction action{};
        if (sigaction(number, nullptr, &action) == 0) {
            const bool ignored = action.sa_handler == SIG_IGN;
            now.at(slot) = action.sa_handler == SIG_DFL ? 'd' : (ignored ? 'i' : 'h');
        }
        now.at(kSlots + slot) = sigismember(&blocked, number) == 1 ? 'b' : ' ';
    }
    return now;
}

const Signals kAtStart = signalsNow();

// NOLINTNEXTLINE(cert-err58-cpp): atexit throws nothing
const int kCheckedAtExit = std::atexit([] {
    if (kAtStart != signalsNow()) {
        _exit(kSignalsLeftChanged);
    }
});

// Each wrapper reports the call, then makes it.
template <typename Call, typename... Arguments>
auto hooked(const char* name, Call call, Arguments... arguments)
{
    reportCall(name);
    return call(arguments...);
}

} // namespace

// The linker names them so, and declares none of them.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-declarations"
extern "C" {
int __real_tcsetattr(int terminal, int when, const termios* settings);
int __real_tcdrain(int terminal);
int __real_pselect(int count, fd_set* readable, fd_set* writable, fd_set* failed,
                   const timespec* timeout, const sigset_t* mask);
int __real_kill(pid_t process, int number);
pid_t __real_tcgetpgrp(int terminal);

int __wrap_tcsetattr(int terminal, int when, const termios* settings)
{
    const bool keyMode = (settings->c_lflag & (ICANON | ECHO)) == 0;
    return hooked(keyMode ? "tcsetattr to key mode" : "tcsetattr to put back", __real_tcsetattr,
                  terminal, when, settings);
}
int __wrap_tcdrain(int terminal)
{
    return hooked("tcdrain", __real_tcdrain, terminal);
}
int __wrap_pselect(int count, fd_set* readable, fd_set* writable, fd_set* failed,
                   const timespec* timeout, const sigset_t* mask)
{
    return hooked(writable != nullptr ? "pselect on output" : "pselect on input", __real_pselect,
                  count, readable, writable, failed, timeout, mask);
}
int __wrap_kill(pid_t process, int number)
{
    if (process != getpid()) {
        _exit(kSignalledAnother);
    }
    return hooked("kill", __real_kill, process, number);
}
ssize_t __wrap_write(int descriptor, const void* bytes, std::size_t size)
{
    if (descriptor != STDOUT_FILENO) {
        return __real_write(descriptor, bytes, size);
    }
    return hooked("write to output", __real_write, descriptor, bytes, size);
}
pid_t __wrap_tcgetpgrp(int terminal)
{
    return hooked("tcgetpgrp", __real_tcgetpgrp, terminal);
}
}
#pragma GCC diagnostic pop
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)
