// The program with a hook at each call that the pause makes on the terminal
// (and at its start, its wait and the signals it raises): the linker's
// --wrap sends the platform's calls here. Where MEMBERSHIP_CALL_HOOKS is
// "EVENTS,GO" (two descriptors), each call writes its name and a line end to
// EVENTS, then waits for a byte from GO before it is made: 'g' lets it go,
// 'f' too, and every later call goes unreported. So a test acts at the very
// moment a call is due, whatever the timing. Only what is async-signal-safe
// is used: the ending signals' handlers make some of these calls.
//
// At its exit, it checks that every signal's action and the signal mask are
// as it inherited them, and else exits with kSignalsLeftChanged: a pause
// that left a handler of its own would never stop at the last line end,
// written from the background.

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <pthread.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kSignalsLeftChanged = 125;
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
    [[maybe_unused]] const ssize_t named = write(hooks.events, name, std::strlen(name));
    [[maybe_unused]] const ssize_t ended = write(hooks.events, "\n", 1);
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

// A bit for each signal's action, set where it is the default, then one for
// each signal that is blocked.
struct Signals
{
    sigset_t byDefault;
    sigset_t blocked;
};

Signals signalsNow() noexcept
{
    Signals now{};
    sigemptyset(&now.byDefault);
    sigset_t valid{};
    sigfillset(&valid);
    for (int number = 1; number <= kSignalSetBits; ++number) {
        SignalAction action{};
        if (sigismember(&valid, number) == 1 && sigaction(number, nullptr, &action) == 0 &&
            action.sa_handler == SIG_DFL) {
            sigaddset(&now.byDefault, number);
        }
    }
    pthread_sigmask(SIG_SETMASK, nullptr, &now.blocked);
    return now;
}

bool sameSignals(const Signals& one, const Signals& other) noexcept
{
    for (int number = 1; number <= kSignalSetBits; ++number) {
        if (sigismember(&one.byDefault, number) != sigismember(&other.byDefault, number) ||
            sigismember(&one.blocked, number) != sigismember(&other.blocked, number)) {
            return false;
        }
    }
    return true;
}

const Signals kAtStart = signalsNow();

// NOLINTNEXTLINE(cert-err58-cpp): atexit throws nothing
const int kCheckedAtExit = std::atexit([] {
    if (!sameSignals(kAtStart, signalsNow())) {
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

// The linker names them so.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)
extern "C" {
int __real_tcsetattr(int terminal, int when, const termios* settings);
int __real_tcdrain(int terminal);
int __real_pselect(int count, fd_set* readable, fd_set* writable, fd_set* failed,
                   const timespec* timeout, const sigset_t* mask);
int __real_raise(int number);
pid_t __real_tcgetpgrp(int terminal);
int __wrap_tcsetattr(int terminal, int when, const termios* settings);
int __wrap_tcdrain(int terminal);
int __wrap_pselect(int count, fd_set* readable, fd_set* writable, fd_set* failed,
                   const timespec* timeout, const sigset_t* mask);
int __wrap_raise(int number);
pid_t __wrap_tcgetpgrp(int terminal);

int __wrap_tcsetattr(int terminal, int when, const termios* settings)
{
    return hooked("tcsetattr", __real_tcsetattr, terminal, when, settings);
}
int __wrap_tcdrain(int terminal)
{
    return hooked("tcdrain", __real_tcdrain, terminal);
}
int __wrap_pselect(int count, fd_set* readable, fd_set* writable, fd_set* failed,
                   const timespec* timeout, const sigset_t* mask)
{
    return hooked("pselect", __real_pselect, count, readable, writable, failed, timeout, mask);
}
int __wrap_raise(int number)
{
    return hooked("raise", __real_raise, number);
}
pid_t __wrap_tcgetpgrp(int terminal)
{
    return hooked("tcgetpgrp", __real_tcgetpgrp, terminal);
}
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)
