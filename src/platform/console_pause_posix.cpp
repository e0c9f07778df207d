#include "console_pause.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ostream>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

// POSIX shells have no "pause" command, so this stands in for the Windows
// one: prompt, wait for a single key without echo, then end the line. It
// waits at the process's controlling terminal alone: at any other, nothing
// tells whose keys those are.
//
// Signals follow one rule: a handler that returns only records; a handler
// that never returns may act. Each signal that would end the process puts
// the terminal back and ends it by that signal, wherever it arrives. The
// job-control signals (SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT) are held back but
// in the one wait and in each call on the terminal, and their handler notes
// the last that came. The pause itself then puts the terminal back and stops
// by that signal, unless a continue came after it, and once continued takes
// the terminal again. So a stop never leaves it blocked in line mode, and
// stops that come together cost no continue.
//
// The pause acts on the terminal (settings, flushes, reads, the prompt) only
// while its job holds it: the kernel decides, as each call on the terminal
// from the background stops the job by SIGTTOU or SIGTTIN, whatever was
// ignored at the start. The keys are read through a descriptor of the
// pause's own, non-blocking (the shell's open file keeps its flags), so no
// read can block.

namespace {

// All that the handlers share with the code they interrupt: the terminal and
// its settings before the pause, which they put back (the descriptor is set
// once the settings are read, in the foreground), and the job-control signal
// that came last, 0 once it has been obeyed.
termios settingsBefore{};
volatile std::sig_atomic_t terminalToRestore = -1;
volatile std::sig_atomic_t lastJobControl = 0;

// Async-signal-safe.
bool terminalIsOurs(int terminal) noexcept
{
    return tcgetpgrp(terminal) == getpgrp();
}

sigset_t only(int number) noexcept
{
    sigset_t signals{};
    sigemptyset(&signals);
    sigaddset(&signals, number);
    return signals;
}

// Async-signal-safe, for the handlers of the ending signals. What is left of
// a key is dropped, so that none of it reaches the shell. SIGTTOU is held
// back meanwhile: a terminal taken from the process between the look and the
// act must not stop a handler.
void putTerminalBack() noexcept
{
    const int terminal = terminalToRestore;
    if (terminal < 0) {
        return;
    }
    const sigset_t terminalOutput = only(SIGTTOU);
    sigset_t maskBefore{};
    pthread_sigmask(SIG_BLOCK, &terminalOutput, &maskBefore);
    if (terminalIsOurs(terminal)) {
        while (tcsetattr(terminal, TCSANOW, &settingsBefore) != 0 && errno == EINTR) {
        }
        tcflush(terminal, TCIFLUSH);
    }
    pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
}

// The type is named as the function is, so it always needs its "struct".
using SignalAction = struct sigaction;

constexpr std::array kJobControlSignals{SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT};

// A handler installed so runs once: inside it the action is the default again.
constexpr int kOnce = static_cast<int>(SA_RESETHAND);

// No SA_RESTART: a signal must end the wait. No job-control signal interrupts
// a handler.
void setAction(int number, void (*handler)(int), int flags) noexcept
{
    SignalAction action{};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (const int jobControl : kJobControlSignals) {
        sigaddset(&action.sa_mask, jobControl);
    }
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

void noteJobControl(int number)
{
    lastJobControl = number;
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
// ending signals and of SIGTSTP and SIGTTIN (one ignored or handled is left
// so). SIGTTOU and SIGCONT are taken even where ignored, and let through in
// the wait even where blocked: from the background, the terminal stops the
// process by SIGTTOU, and a continue, which comes whatever its action, must
// reach the wait. Once it is gone, every action and the mask are as they were.
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
        take(SIGTSTP, noteJobControl, 0);
        take(SIGTTIN, noteJobControl, 0);
        take(SIGTTOU, noteJobControl, 0, kEvenIgnored);
        take(SIGCONT, noteJobControl, 0, kEvenIgnored);
        pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore_);
        heldMask_ = maskBefore_;
        waitMask_ = maskBefore_;
        for (const int number : kJobControlSignals) {
            sigaddset(&heldMask_, number);
        }
        sigdelset(&waitMask_, SIGTTOU);
        sigdelset(&waitMask_, SIGCONT);
        pthread_sigmask(SIG_SETMASK, &heldMask_, nullptr);
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

    // Runs `call` with the job-control signals let through: one that comes
    // meanwhile is noted, and ends a call that waits (EINTR).
    template <typename Call> [[nodiscard]] auto letThrough(Call call) const
    {
        pthread_sigmask(SIG_SETMASK, &waitMask_, nullptr);
        const auto result = call();
        const int savedErrno = errno;
        pthread_sigmask(SIG_SETMASK, &heldMask_, nullptr);
        errno = savedErrno;
        return result;
    }

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
    sigset_t heldMask_{};
    sigset_t waitMask_{};
};

// Puts the terminal back, as the pause's own step: the kernel decides that
// the terminal is still the job's (from the background, SIGTTOU is noted and
// nothing changes), so no other job's settings or keys are touched.
void putTerminalBack(const PauseSignals& signals)
{
    const int terminal = terminalToRestore;
    if (terminal >= 0) {
        static_cast<void>(signals.letThrough([&] {
            return tcsetattr(terminal, TCSANOW, &settingsBefore) == 0 &&
                   tcflush(terminal, TCIFLUSH) == 0;
        }));
    }
}

// Puts the terminal back, then stops by the stop signal noted last, as its
// default action would, unless a continue is already waiting (raising a stop
// would discard it). A group that no shell could continue is not stopped.
void obeyJobControl(const PauseSignals& signals)
{
    if (lastJobControl != SIGCONT) { // else never stopped since the terminal was taken
        putTerminalBack(signals);    // which hears of what comes meanwhile
    }
    const int number = lastJobControl;
    lastJobControl = 0;
    sigset_t pending{};
    sigpending(&pending);
    if (number == SIGCONT || sigismember(&pending, SIGCONT) == 1) {
        return;
    }
    const sigset_t stop = only(number);
    setAction(number, SIG_DFL, 0);
    static_cast<void>(raise(number));
    pthread_sigmask(SIG_UNBLOCK, &stop, nullptr); // stopped here until continued
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    setAction(number, noteJobControl, 0);
    // The continue that ended the stop, and what was noted before it: the
    // terminal is taken again anyway.
    const sigset_t continued = only(SIGCONT);
    pthread_sigmask(SIG_UNBLOCK, &continued, nullptr);
    pthread_sigmask(SIG_BLOCK, &continued, nullptr);
    if (lastJobControl == SIGCONT) {
        lastJobControl = 0;
    }
}

enum class Take { taken, interrupted, impossible };

// Reads the settings to put back, once and in the foreground, then sets key
// mode: one key at a time, no echo, signal keys such as Ctrl-C still working.
// What was typed ahead is dropped in the same step, so that only a key
// pressed after the prompt ends the pause, none reaches the shell, and
// nothing is dropped once key mode shows. A no-op tcsetattr first asks the
// kernel whether the terminal is the job's: from the background it stops
// the job (SIGTTOU, noted), and in a group that no shell could ever bring to
// the foreground it fails.
Take takeTerminal(int terminal, const PauseSignals& signals)
{
    termios now{};
    if (tcgetattr(terminal, &now) != 0 ||
        signals.letThrough([&] { return tcsetattr(terminal, TCSANOW, &now); }) != 0) {
        return errno == EINTR ? Take::interrupted : Take::impossible;
    }
    if (terminalToRestore < 0) {
        settingsBefore = now;
        terminalToRestore = terminal;
    }
    termios keyMode = settingsBefore;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    if (signals.letThrough([&] { return tcsetattr(terminal, TCSAFLUSH, &keyMode); }) != 0) {
        return errno == EINTR ? Take::interrupted : Take::impossible;
    }
    return Take::taken;
}

// Reads one key press: its first bytes, then whatever follows within the
// window (the rest of the key, or repeats of a held one), never longer. True
// once read, or once the terminal has hung up. From the background, a read
// stops the job (SIGTTIN, or SIGTTOU where SIGTTIN is ignored) and takes
// nothing.
bool readKey(int terminal, const PauseSignals& signals)
{
    std::array<char, 64> bytes{};
    const ssize_t got =
        signals.letThrough([&] { return read(terminal, bytes.data(), bytes.size()); });
    if (got <= 0) {
        const int failure = got == 0 ? 0 : errno;
        if (failure == EIO && !terminalIsOurs(terminal)) {
            lastJobControl = SIGTTOU;
        }
        return got == 0 || (failure != EINTR && failure != EAGAIN && lastJobControl == 0);
    }
    const auto deadline = std::chrono::steady_clock::now() + kKeyWindow;
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd input{terminal, POLLIN, 0};
        const int ready = left.count() > 0 ? poll(&input, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (input.revents & POLLIN) == 0 ||
            read(terminal, bytes.data(), bytes.size()) <= 0) {
            return true;
        }
    }
}

// The one wait: for standard output to take the prompt (so that Ctrl-Z
// works while it cannot), then for a key. Each job-control signal is obeyed
// as the wait hears of it, and the terminal taken again; the prompt is
// written anew over its own line. False where the terminal can never be
// taken: an orphaned group in the background.
bool waitForKey(int terminal, std::ostream& output, const PauseSignals& signals)
{
    bool taken = false;
    bool promptDue = false;
    bool prompted = false;
    while (true) {
        if (lastJobControl != 0) {
            obeyJobControl(signals);
            taken = false;
        }
        if (!taken) {
            const Take take = takeTerminal(terminal, signals);
            if (take == Take::impossible) {
                return prompted;
            }
            taken = take == Take::taken;
            promptDue = taken && output.good();
            continue;
        }
        fd_set input;
        fd_set writable;
        FD_ZERO(&input);
        FD_ZERO(&writable);
        FD_SET(promptDue ? STDOUT_FILENO : terminal, promptDue ? &writable : &input);
        const int ready = pselect(std::max(terminal, STDOUT_FILENO) + 1, &input, &writable, nullptr,
                                  nullptr, &signals.waitMask());
        if (ready < 0 && errno == EINTR) {
            continue; // a signal noted, or nothing of the pause's (an emulator can do that)
        }
        if (promptDue) { // or standard output cannot be waited on: the write then fails
            output << (prompted ? "\r" : "") << kPausePrompt << std::flush;
            promptDue = false;
            prompted = true;
        } else if (ready < 0 || readKey(terminal, signals)) {
            return true;
        }
    }
}

} // namespace

void pauseConsole(std::ostream& output)
{
    if (tcgetpgrp(STDIN_FILENO) == -1) {
        return; // a scripted run, or a terminal that is not this session's controlling one
    }
    const int terminal = open("/dev/tty", O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) {
        return;
    }
    bool prompted = false;
    {
        const PauseSignals signals;
        prompted = waitForKey(terminal, output, signals);
        // Put back only as the terminal's job: a stop that came with the key,
        // or the background, is obeyed first.
        putTerminalBack(signals);
        while (lastJobControl != 0) {
            obeyJobControl(signals);
            putTerminalBack(signals);
        }
        terminalToRestore = -1;
    }
    close(terminal);
    if (prompted) {
        output << std::endl;
    }
}

} // namespace membership
