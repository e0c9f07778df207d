#include "console_pause.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ostream>
#include <string_view>

#include <poll.h>
#include <pthread.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

// POSIX shells have no "pause" command, so this stands in for the Windows
// one: prompt, wait for a single key without echo, then end the line.
//
// While the terminal is in key mode, each signal that would end or stop the
// process runs a handler that puts the terminal back and then lets the
// signal take its default action, wherever it arrives: in the wait, or in a
// write of the prompt that cannot go through. Only a continue comes back to
// the wait, which then takes the terminal again.
//
// The pause acts on the terminal only while it is the process's: in its
// foreground process group, or not its controlling terminal at all. A
// terminal that another job holds is that job's, settings and typed-ahead
// keys alike; from the background, taking it stops the process (SIGTTOU)
// until it is brought to the foreground, whatever was ignored at the start.

namespace {

// All that the handlers share with the code they interrupt: the terminal's
// settings before the pause, which they put back (set before they are
// installed), and whether a continue has come since the wait last looked.
termios settingsBefore{};
volatile std::sig_atomic_t continued = 0;

// Async-signal-safe.
bool terminalIsOurs() noexcept
{
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    return foreground == getpgrp() || (foreground == -1 && errno == ENOTTY);
}

// Async-signal-safe. What is left of a key is dropped, so that none of it
// reaches the shell. SIGTTOU is held back meanwhile: a terminal taken from
// the process between the look and the act must not stop a handler.
void putTerminalBack() noexcept
{
    sigset_t terminalOutput{};
    sigemptyset(&terminalOutput);
    sigaddset(&terminalOutput, SIGTTOU);
    sigset_t maskBefore{};
    pthread_sigmask(SIG_BLOCK, &terminalOutput, &maskBefore);
    if (terminalIsOurs()) {
        while (tcsetattr(STDIN_FILENO, TCSANOW, &settingsBefore) != 0 && errno == EINTR) {
        }
        tcflush(STDIN_FILENO, TCIFLUSH);
    }
    pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
}

// The type is named as the function is, so it always needs its "struct".
using SignalAction = struct sigaction;

// A handler installed so runs once: inside it the action is the default
// again. Nested, the signal is not held back while it runs either.
constexpr int kOnce = static_cast<int>(SA_RESETHAND);
constexpr int kOnceNested = static_cast<int>(SA_RESETHAND | SA_NODEFER);

void setAction(int number, void (*handler)(int), int flags) noexcept
{
    SignalAction action{};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a continue must end the wait.
    action.sa_flags = flags;
    sigaction(number, &action, nullptr);
}

extern "C" {

// Installed to run once, so the action is the default again here. The
// signal, held back while this runs, takes it as soon as this returns: the
// process ends by it, with a core dump where the system makes one, and a
// fault of the program's own recurs where it happened.
void endByDefault(int number)
{
    const int savedErrno = errno;
    putTerminalBack();
    static_cast<void>(raise(number));
    errno = savedErrno;
}

// Installed to run once, nested, for SIGTSTP, SIGTTIN and SIGTTOU: the signal stops the process
// here. Continued, or never stopped (an orphaned group, which no shell could continue), it is
// caught again, and the wait is told to take the terminal again as after any continue.
void stopByDefault(int number)
{
    const int savedErrno = errno;
    putTerminalBack();
    static_cast<void>(raise(number));
    setAction(number, stopByDefault, kOnceNested);
    static_cast<void>(raise(SIGCONT));
    errno = savedErrno;
}

// Held back but in the wait, which it interrupts.
void noteContinue(int /*number*/)
{
    continued = 1;
}
}

} // namespace

namespace membership {
namespace {

constexpr std::string_view kPausePrompt = "Press any key to continue . . . ";

// The bytes of one key (an escape sequence for an arrow or function key)
// arrive together. What comes this soon after a key's first byte is taken as
// part of it, or as a repeat of a held key, and dropped with it.
constexpr std::chrono::milliseconds kKeyWindow{50};

// The signals whose default action ends the process, besides the real-time
// ones. Those the C library keeps for itself (32 and 33 with glibc) cannot
// be caught.
constexpr std::array kEndingSignals{
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS, SIGFPE,  SIGUSR1,   SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGSYS, SIGPROF, SIGVTALRM,
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

// While it lives, the handlers above replace the default actions of the
// ending signals and of the stop signals SIGTSTP and SIGTTIN (one ignored or
// handled is left so). SIGTTOU and SIGCONT are taken even where ignored, and
// SIGTTOU is let through: from the background, the terminal stops the
// process by it, and a continue, which comes whatever its action, must reach
// the wait. SIGCONT is held back but in the wait. Once it is gone, every
// action and the signal mask are as they were.
class PauseSignals
{
public:
    PauseSignals() noexcept
    {
        sigemptyset(&taken_);
        sigemptyset(&ignoredBefore_);
        for (const int number : kEndingSignals) {
            take(number, endByDefault, kOnce);
        }
#ifdef SIGRTMIN
        for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) {
            take(number, endByDefault, kOnce);
        }
#endif
        take(SIGTSTP, stopByDefault, kOnceNested);
        take(SIGTTIN, stopByDefault, kOnceNested);
        take(SIGTTOU, stopByDefault, kOnceNested, kEvenIgnored);
        take(SIGCONT, noteContinue, 0, kEvenIgnored);
        pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore_);
        sigset_t pauseMask = maskBefore_;
        sigaddset(&pauseMask, SIGCONT);
        sigdelset(&pauseMask, SIGTTOU);
        pthread_sigmask(SIG_SETMASK, &pauseMask, nullptr);
        waitMask_ = pauseMask;
        sigdelset(&waitMask_, SIGCONT);
    }
    PauseSignals(const PauseSignals&) = delete;
    PauseSignals& operator=(const PauseSignals&) = delete;
    PauseSignals(PauseSignals&&) = delete;
    PauseSignals& operator=(PauseSignals&&) = delete;
    ~PauseSignals()
    {
        for (int number = 1; number <= highestTaken_; ++number) {
            if (sigismember(&taken_, number) == 1) {
                setAction(number, sigismember(&ignoredBefore_, number) == 1 ? SIG_IGN : SIG_DFL, 0);
            }
        }
        pthread_sigmask(SIG_SETMASK, &maskBefore_, nullptr);
    }

    // The mask before, which lets SIGCONT through: the wait's.
    [[nodiscard]] const sigset_t& waitMask() const noexcept
    {
        return waitMask_;
    }

private:
    static constexpr bool kEvenIgnored = true;

    void take(int number, void (*handler)(int), int flags, bool evenIgnored = false) noexcept
    {
        SignalAction current{};
        if (sigaction(number, nullptr, &current) != 0) {
            return;
        }
        const bool ignored = current.sa_handler == SIG_IGN;
        if (current.sa_handler == SIG_DFL || (ignored && evenIgnored)) {
            setAction(number, handler, flags);
            sigaddset(&taken_, number);
            if (ignored) {
                sigaddset(&ignoredBefore_, number);
            }
            highestTaken_ = std::max(highestTaken_, number);
        }
    }

    sigset_t taken_{};
    sigset_t ignoredBefore_{};
    int highestTaken_ = 0;
    sigset_t maskBefore_{};
    sigset_t waitMask_{};
};

// One key at a time, no echo; signal keys such as Ctrl-C keep working. What
// was typed ahead is dropped in the same step, so that only a key pressed
// after the prompt ends the pause, none reaches the shell, and nothing is
// dropped once key mode shows. Then the prompt, written again over its own
// line after a stop. From the background, SIGTTOU stops the process first,
// and the wait hears of the continue that follows. False where it never can
// be taken: an orphaned group in the background, which nothing can bring to
// the foreground.
bool takeTerminal(std::ostream& output, bool again)
{
    termios keyMode = settingsBefore;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &keyMode) != 0) {
        return errno == EINTR;
    }
    if (terminalIsOurs()) { // moved to the background since: the wait hears of it
        output << (again ? "\r" : "") << kPausePrompt << std::flush;
    }
    return true;
}

ssize_t readTerminal(std::array<char, 64>& bytes)
{
    ssize_t got = 0;
    do {
        got = read(STDIN_FILENO, bytes.data(), bytes.size());
    } while (got < 0 && errno == EINTR);
    return got;
}

// Reads one key press: its first bytes, then whatever follows within the
// window (the rest of the key, or repeats of a held one), never longer.
// False when a stop came before the key could be read: the terminal must be
// taken again.
bool consumeKey()
{
    std::array<char, 64> bytes{};
    const ssize_t got = read(STDIN_FILENO, bytes.data(), bytes.size());
    if (got <= 0) {
        return got == 0 || errno != EINTR;
    }
    const auto deadline = std::chrono::steady_clock::now() + kKeyWindow;
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = left.count() > 0 ? poll(&input, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (input.revents & POLLIN) == 0 || readTerminal(bytes) <= 0) {
            return true;
        }
    }
}

// Waits for a key and consumes it whole. False when a continue came first:
// the terminal must be taken again. SIGCONT gets through only here, so none
// goes unseen between a look and the wait (a stop handler raises it once
// continued).
bool waitForKey(const PauseSignals& signals)
{
    while (true) {
        fd_set input;
        FD_ZERO(&input);
        FD_SET(STDIN_FILENO, &input);
        const int ready =
            pselect(STDIN_FILENO + 1, &input, nullptr, nullptr, nullptr, &signals.waitMask());
        if (ready < 0 && errno == EINTR) {
            if (continued == 0) {
                continue; // interrupted by nothing of the pause's (an emulator can do that)
            }
            continued = 0;
            return false;
        }
        if (ready > 0 && !consumeKey()) {
            continue; // the continue that follows the stop is waiting
        }
        return true; // a key, or a terminal that can no longer be read
    }
}

} // namespace

void pauseConsole(std::ostream& output)
{
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &settingsBefore) != 0) {
        return; // scripted run: nobody to press a key
    }
    bool taken = false;
    {
        const PauseSignals signals;
        bool again = false;
        do {
            taken = takeTerminal(output, again);
            again = true;
        } while (taken && !waitForKey(signals));
        putTerminalBack();
    }
    if (taken) {
        output << std::endl;
    }
}

} // namespace membership
