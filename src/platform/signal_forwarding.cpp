#include "signal_forwarding.hpp"

#include <algorithm>
#include <cerrno>
#include <iterator>

#include <fcntl.h>
#include <unistd.h>

namespace {

// All a signal handler may share with the code it interrupts: the pipe's
// write end, set only while the handlers are installed.
volatile std::sig_atomic_t signalPipeWriteEnd = -1;

} // namespace

extern "C" {
// Async-signal-safe: one write(), and errno as the interrupted code left it.
static void forwardSignal(int number)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    // A full pipe already holds a signal for the wait to see.
    [[maybe_unused]] const ssize_t written = write(signalPipeWriteEnd, &byte, 1);
    errno = savedErrno;
}
}

namespace membership {
namespace {

// The asynchronous signals whose default action ends the process, besides
// the real-time ones. The program's own faults (SIGSEGV and the like) are
// not among them: a handler must never return into a fault.
constexpr std::array kEndingSignals{
    SIGHUP,    SIGINT,  SIGQUIT,   SIGTERM, SIGPIPE, SIGALRM,
    SIGUSR1,   SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// The type is named as the function is, so it always needs its "struct".
using SignalAction = struct sigaction;

SignalAction actionOf(void (*handler)(int))
{
    SignalAction action{};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a signal must end a blocked tcsetattr
    return action;
}

} // namespace

SignalForwarding::SignalForwarding() noexcept
{
    std::array<int, 2> ends{-1, -1};
    if (pipe(ends.data()) != 0) {
        return;
    }
    for (const int end : ends) {
        if (fcntl(end, F_SETFD, FD_CLOEXEC) != 0 ||
            fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK) != 0) {
            close(ends[0]);
            close(ends[1]);
            return;
        }
    }
    pipe_ = ends;
    signalPipeWriteEnd = pipe_[1];
    for (const int number : kEndingSignals) {
        forward(number, Role::ends);
    }
#ifdef SIGRTMIN
    for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) {
        forward(number, Role::ends);
    }
#endif
    forward(SIGTSTP, Role::stops);
    forward(SIGCONT, Role::continues);
}

SignalForwarding::~SignalForwarding()
{
    static_cast<void>(restoreActions());
    if (active()) {
        signalPipeWriteEnd = -1;
        close(pipe_[0]);
        close(pipe_[1]);
    }
}

void SignalForwarding::forward(int number, Role role) noexcept
{
    const auto used = std::next(table_.begin(), static_cast<std::ptrdiff_t>(count_));
    const bool known = std::any_of(
        table_.begin(), used, [number](const Forwarded& entry) { return entry.number == number; });
    Forwarded entry{number, role, {}};
    if (known || used == table_.end() || sigaction(number, nullptr, &entry.previous) != 0 ||
        entry.previous.sa_handler == SIG_IGN) {
        return;
    }
    const SignalAction forwarding = actionOf(forwardSignal);
    if (sigaction(number, &forwarding, nullptr) == 0) {
        *used = entry;
        ++count_;
    }
}

ArrivedSignals SignalForwarding::takeArrived() const noexcept
{
    ArrivedSignals arrived;
    if (!active()) {
        return arrived;
    }
    const auto note = [&](unsigned char number) {
        const auto entry =
            std::find_if(table_.begin(), table_.end(), [number](const Forwarded& candidate) {
                return candidate.number == number;
            });
        if (entry == table_.end()) {
            return;
        }
        switch (entry->role) {
        case Role::ends:
            arrived.ending = arrived.ending != 0 ? arrived.ending : entry->number;
            break;
        case Role::stops:
            arrived.stopping = true;
            break;
        case Role::continues:
            arrived.continued = true;
            break;
        }
    };
    std::array<unsigned char, 16> bytes{};
    ssize_t got = 0;
    while ((got = read(pipe_[0], bytes.data(), bytes.size())) > 0 || (got < 0 && errno == EINTR)) {
        std::for_each(bytes.begin(), std::next(bytes.begin(), std::max<ssize_t>(got, 0)), note);
    }
    return arrived;
}

ArrivedSignals SignalForwarding::suspendProcess() const noexcept
{
    const SignalAction stop = actionOf(SIG_DFL);
    SignalAction forwarding{};
    sigaction(SIGTSTP, &stop, &forwarding);
    static_cast<void>(raise(SIGTSTP));
    sigaction(SIGTSTP, &forwarding, nullptr);
    ArrivedSignals arrived = takeArrived();
    arrived.continued = false; // this stop's own
    return arrived;
}

ArrivedSignals SignalForwarding::restoreActions() noexcept
{
    if (!restored_) {
        for (const Forwarded& entry : table_) {
            if (entry.number != 0) {
                sigaction(entry.number, &entry.previous, nullptr);
            }
        }
        restored_ = true;
    }
    return takeArrived();
}

void endProcessBy(int number) noexcept
{
    const SignalAction byDefault = actionOf(SIG_DFL);
    SignalAction previous{};
    sigaction(number, &byDefault, &previous);
    static_cast<void>(raise(number));
    sigaction(number, &previous, nullptr); // only if it was held back
}

} // namespace membership
