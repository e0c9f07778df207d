#include "console_pause.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <initializer_list>
#include <ostream>
#include <string_view>
#include <thread>

#include <pthread.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

// POSIX shells have no "pause" command, so this stands in for the Windows
// one: prompt, wait for a single key without echo, then end the line.
//   pauseConsole: takeSignals, waitForKey, putTerminalBack, putSignalsBack
//   waitForKey: takeTerminal, waitUntilReady, read; obeyJobControl as noted
//   handlers: endByDefault (signals that end a process), noteJobControl
//
// POSIX facts it rests on: tcgetattr works from the background; there, a
// tcsetattr, tcflush, tcdrain or a write under TOSTOP raises SIGTTOU (a read,
// SIGTTIN) and fails with EINTR once it is handled, but goes through where
// SIGTTOU is ignored or blocked. A continue discards a pending stop, and a
// stop a pending continue. A signal a process kills itself with names it as
// the sender, and is taken before kill() returns where it is not blocked.
//
// Its rules: it waits only where standard input is the controlling terminal
// (at any other, nothing tells whose keys those are), and works on standard
// input itself, opening nothing. The kernel, not a look of its own, decides
// at each call that the job holds the terminal: every call on it lets SIGTTOU
// and SIGTTIN through. A handler that returns only records (and a continue
// as the pause stops itself turns that stop into one to note); one that ends
// the process may act: each signal that would end it puts the terminal back
// and ends it by that signal (where none can, notes a continue instead). A
// job-control signal ends the wait; the pause puts the terminal back and
// stops by it, unless a continue came after it, and once continued takes the
// terminal again.

namespace membership {
namespace {

// Shared with the handlers: the terminal's settings before the pause (once
// read), the job-control signal noted last, and the stop being obeyed.
termios settingsBefore{};
volatile std::sig_atomic_t settingsRead = 0;
volatile std::sig_atomic_t lastJobControl = 0;
volatile std::sig_atomic_t stopObeyed = 0;

sigset_t signalsOf(std::initializer_list<int> numbers) noexcept
{
    sigset_t signals{};
    sigemptyset(&signals);
    for (const int number : numbers) {
        sigaddset(&signals, number);
    }
    return signals;
}

sigset_t jobControlSignals() noexcept
{
    return signalsOf({SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT});
}

// Async-signal-safe. From the background the kernel refuses it (EINTR): no
// other job's settings or keys are touched. What is left of a key is dropped.
void putTerminalBack() noexcept
{
    if (settingsRead == 0) {
        return;
    }
    const sigset_t terminalOutput = signalsOf({SIGTTOU});
    sigset_t maskBefore{};
    pthread_sigmask(SIG_UNBLOCK, &terminalOutput, &maskBefore);
    if (tcsetattr(STDIN_FILENO, TCSANOW, &settingsBefore) == 0) {
        tcflush(STDIN_FILENO, TCIFLUSH);
    }
    pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
}

// The type is named as the function is, so it always needs its "struct".
using SignalAction = struct sigaction;

// No SA_RESTART: a signal must end the wait. No job-control signal interrupts
// a handler.
bool setAction(int number, SignalAction action) noexcept
{
    action.sa_mask = jobControlSignals();
    return sigaction(number, &action, nullptr) == 0;
}

// SIG_DFL, SIG_IGN or endByDefault.
bool setAction(int number, void (*handler)(int)) noexcept
{
    SignalAction action{};
    action.sa_handler = handler;
    return setAction(number, action);
}

// noteJobControl, which is told who sent the signal.
bool setAction(int number, void (*noting)(int, siginfo_t*, void*)) noexcept
{
    SignalAction action{};
    action.sa_sigaction = noting;
    action.sa_flags = SA_SIGINFO;
    return setAction(number, action);
}

// The first process of a PID namespace: no signal at its default action that
// it sends itself ends or stops it. In the background, it can never take the
// terminal. Async-signal-safe.
bool neverStopped() noexcept
{
    return getpid() == 1;
}

extern "C" {

// Notes the job-control signal, but the stop that the pause sends itself. A
// continue that comes as it stops makes that stop one to note (and drop), so
// that a stop sent after the continue is noted, never merged with it.
void noteJobControl(int number, siginfo_t* sender, void* /*context*/)
{
    if (sender->si_code == SI_USER && sender->si_pid == getpid()) {
        return;
    }
    if (number == SIGCONT && stopObeyed != 0) {
        setAction(stopObeyed, noteJobControl);
    }
    lastJobControl = number;
}

// The signal, held back meanwhile, takes its default action as this returns,
// and a fault of the program's own recurs. The default is set here, not by
// SA_RESETHAND, which sets it as the signal is taken: a second one (Ctrl-C
// held) would then end the process before the terminal is put back. A
// refused put-back must not stop the dying process (a stop of the pause's
// own leaves SIGTTOU's action the default for a moment). What never stops
// goes on: the terminal is taken again, as after a continue.
void endByDefault(int number)
{
    const int savedErrno = errno;
    setAction(SIGTTOU, noteJobControl);
    putTerminalBack();
    setAction(number, SIG_DFL);
    static_cast<void>(raise(number));
    if (neverStopped()) {
        lastJobControl = SIGCONT;
    }
    errno = savedErrno;
}
}

constexpr std::string_view kPausePrompt = "Press any key to continue . . . ";

// What comes this soon after a key's first byte is the rest of it, or a
// repeat of a held key, and is dropped with it.
constexpr std::chrono::milliseconds kKeyWindow{50};

// No program can ask what a signal's default action is, so every signal is
// taken but those that POSIX (and macOS's SIGINFO) ignore, stop or continue
// by default: one that only a processor has (MIPS's SIGEMT) counts too. Not
// SIGKILL, SIGSTOP, nor those that the C library keeps (not in a full set).
constexpr std::array kNotEnding{
    SIGCHLD, SIGURG, SIGWINCH, SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT,
#ifdef SIGINFO
    SIGINFO,
#endif
};
constexpr int kSignalSetBits = static_cast<int>(sizeof(sigset_t) * CHAR_BIT);

// Runs `action` with the job-control signals held back until it returns; it
// is given the mask from before, to let them through where it waits.
template <typename Action> void holding(Action action)
{
    const sigset_t jobControl = jobControlSignals();
    sigset_t maskBefore{};
    pthread_sigmask(SIG_BLOCK, &jobControl, &maskBefore);
    action(maskBefore);
    pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
}

struct SignalsBefore
{
    sigset_t taken;
    sigset_t ignored;
    sigset_t mask;
};

constexpr bool kEvenIgnored = true;

template <typename Handler>
void takeSignal(SignalsBefore& before, int number, Handler handler,
                bool evenIgnored = false) noexcept
{
    SignalAction current{}; // SIG_DFL where it cannot be read: then it cannot be set
    sigaction(number, nullptr, &current);
    const bool ignored = current.sa_handler == SIG_IGN;
    if ((current.sa_handler == SIG_DFL || (ignored && evenIgnored)) && setAction(number, handler)) {
        sigaddset(&before.taken, number);
        if (ignored) {
            sigaddset(&before.ignored, number);
        }
    }
}

// The handlers above replace the default actions of the ending signals and of
// SIGTSTP and SIGTTIN (one ignored or blocked is left so); SIGTTOU and SIGCONT
// are taken and let through even where ignored or blocked, as the kernel
// stops a background job by SIGTTOU, and a continue comes whatever its action.
SignalsBefore takeSignals() noexcept
{
    SignalsBefore before{};
    sigemptyset(&before.taken);
    sigemptyset(&before.ignored);
    sigset_t valid{};
    sigfillset(&valid);
    for (int number = 1; number <= kSignalSetBits; ++number) {
        if (sigismember(&valid, number) == 1 &&
            std::find(kNotEnding.begin(), kNotEnding.end(), number) == kNotEnding.end()) {
            takeSignal(before, number, endByDefault);
        }
    }
    takeSignal(before, SIGTSTP, noteJobControl);
    takeSignal(before, SIGTTIN, noteJobControl);
    takeSignal(before, SIGTTOU, noteJobControl, kEvenIgnored);
    takeSignal(before, SIGCONT, noteJobControl, kEvenIgnored);
    const sigset_t letThrough = signalsOf({SIGTTOU, SIGCONT});
    pthread_sigmask(SIG_UNBLOCK, &letThrough, &before.mask);
    return before;
}

void putSignalsBack(const SignalsBefore& before) noexcept
{
    for (int number = 1; number <= kSignalSetBits; ++number) {
        if (sigismember(&before.taken, number) == 1) {
            setAction(number, sigismember(&before.ignored, number) == 1 ? SIG_IGN : SIG_DFL);
        }
    }
    pthread_sigmask(SIG_SETMASK, &before.mask, nullptr);
}

// Puts the terminal back and stops by the job-control signal noted, as its
// default action would (where the system stops the process at all), unless
// it was a continue. The stop is sent with itself and continues let through:
// a continue that came first makes it one that is dropped (noteJobControl);
// one that comes after it continues the process, as the kernel does.
void obeyJobControl()
{
    holding([](const sigset_t& /*maskBefore*/) {
        const int number = lastJobControl;
        lastJobControl = 0;
        if (number == SIGCONT) {
            return; // continued, but not after a stop of its own: the terminal is taken again
        }
        putTerminalBack();
        const sigset_t stopAndContinues = signalsOf({number, SIGCONT});
        stopObeyed = number;
        setAction(number, SIG_DFL);
        pthread_sigmask(SIG_UNBLOCK, &stopAndContinues, nullptr);
        static_cast<void>(kill(getpid(), number)); // stopped here until continued
        pthread_sigmask(SIG_BLOCK, &stopAndContinues, nullptr);
        stopObeyed = 0;
        setAction(number, noteJobControl); // (meanwhile, a stop finds it put back)
    });
}

// What a call on the terminal says: made, in the foreground; interrupted (a
// signal came first: from the background, a stop); or refused for good (a
// hang-up, or the background of a group that no shell could continue).
enum class Call { made, interrupted, refused };

Call outcome(int result)
{
    return result >= 0 ? Call::made : errno == EINTR ? Call::interrupted : Call::refused;
}

// Key mode: one key at a time, no echo, Ctrl-C still working, and a read
// that never blocks (standard input is the shell's open file, whose flags
// are not the pause's to change); what was typed ahead is dropped in the
// same step. The settings to put back are read once tcdrain (which changes
// nothing) has gone through: never another job's.
Call takeTerminal()
{
    if (settingsRead == 0) {
        const Call proof = outcome(tcdrain(STDIN_FILENO));
        if (proof != Call::made) {
            return proof;
        }
        if (tcgetattr(STDIN_FILENO, &settingsBefore) != 0) {
            return Call::refused;
        }
        settingsRead = 1;
    }
    termios keyMode = settingsBefore;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 0;
    keyMode.c_cc[VTIME] = 0;
    return outcome(tcsetattr(STDIN_FILENO, TCSAFLUSH, &keyMode));
}

// Waits until standard output can take the prompt, or a key has come; a
// job-control signal, noted as it began or while it lasted, interrupts it.
// Standard input and output are descriptors 0 and 1, which an fd_set holds.
Call waitUntilReady(bool forThePrompt)
{
    Call outcomeOfTheWait = Call::interrupted;
    holding([&](const sigset_t& maskBefore) {
        if (lastJobControl != 0) {
            return;
        }
        fd_set watched{}; // empty
        FD_SET(forThePrompt ? STDOUT_FILENO : STDIN_FILENO, &watched);
        const int ready = pselect(STDOUT_FILENO + 1, forThePrompt ? nullptr : &watched,
                                  forThePrompt ? &watched : nullptr, nullptr, nullptr, &maskBefore);
        outcomeOfTheWait = outcome(ready);
    });
    return outcomeOfTheWait;
}

// The one wait: for standard output to take the prompt (so that Ctrl-Z
// works while it cannot), then for a key. Each job-control signal is obeyed
// as the wait hears of it, and the terminal taken again; the prompt is
// written anew, whole, once tcdrain has said that the job holds the terminal.
// Returns, at a key, a hang-up, an input that cannot be read or a terminal
// never to be taken, whether a prompt's line is left to end.
bool waitForKey(std::ostream& output)
{
    bool keyMode = false;
    bool promptDue = false;
    bool prompted = false;
    std::array<char, 64> bytes{};
    while (true) {
        if (lastJobControl != 0) {
            obeyJobControl();
            keyMode = false;
        }
        if (!keyMode) {
            const Call take = takeTerminal();
            const bool inTheBackground = take == Call::interrupted && lastJobControl == SIGTTOU;
            if (take == Call::refused || (inTheBackground && neverStopped())) {
                return prompted;
            }
            keyMode = take == Call::made;
            promptDue = output.good();
            continue;
        }
        const Call wait = waitUntilReady(promptDue);
        if (wait == Call::refused) {
            return prompted;
        }
        if (wait == Call::interrupted) {
            continue; // a signal noted
        }
        if (promptDue) {
            keyMode = outcome(tcdrain(STDIN_FILENO)) == Call::made; // else taken again: it says why
            if (keyMode) {
                // SIGTTOU held back: under TOSTOP it would interrupt each retry of the write.
                holding([&](const sigset_t& /*maskBefore*/) {
                    output << (prompted ? "\r" : "") << kPausePrompt << std::flush;
                });
                promptDue = false;
                prompted = true;
            }
            continue;
        }
        // A key's first bytes, then a window for the rest, which the put-back drops. Else a
        // hang-up (0), or the terminal lost (EIO: from the background, or a group that no
        // shell could continue): taken again, or never. What cannot be read at all ends it.
        const ssize_t got = read(STDIN_FILENO, bytes.data(), bytes.size());
        if (got > 0) {
            std::this_thread::sleep_for(kKeyWindow);
            return prompted;
        }
        if (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK && errno != EIO) {
            return prompted;
        }
        keyMode = false;
    }
}

// Whether standard input is the controlling terminal: a terminal names its
// foreground group (0 outside the caller's PID namespace) only to the
// processes it controls, but Linux answers for a pseudo-terminal's master
// too, which ptsname alone knows.
bool standardInputIsTheControllingTerminal()
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): one thread; the name is not read
    return tcgetpgrp(STDIN_FILENO) >= 0 && ptsname(STDIN_FILENO) == nullptr;
}

} // namespace

void pauseConsole(std::ostream& output)
{
    if (!standardInputIsTheControllingTerminal()) {
        return; // a scripted run, or a terminal that is not this session's controlling one
    }
    const SignalsBefore signalsBefore = takeSignals();
    const bool lineLeft = waitForKey(output);
    // Put back only as the terminal's job: a stop that came with the key,
    // or the background, is obeyed first.
    putTerminalBack();
    while (lastJobControl != 0 && !neverStopped()) {
        obeyJobControl();
        putTerminalBack();
    }
    settingsRead = 0;
    putSignalsBack(signalsBefore);
    if (lineLeft) {
        output << '\n';
    }
}

} // namespace membership
