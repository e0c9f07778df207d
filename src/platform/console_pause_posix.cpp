#include "console_pause.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ostream>
#include <string_view>
#include <thread>

#include <pthread.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

// POSIX shells have no "pause" command, so this stands in for the Windows
// one: prompt, wait for a single key without echo, then end the line. It
// waits only where standard input is the controlling terminal: at any other,
// nothing tells whose keys those are. It works on standard input itself and
// opens nothing, so that it waits whoever runs it (a terminal of another
// user's, after su), however the terminal is reached, and with no descriptor
// to spare. The kernel, not a look of its own, decides that the job holds
// the terminal: every call on it (settings, flushes, reads, a tcdrain before
// the prompt) lets SIGTTOU and SIGTTIN through, so that from the background
// it stops the job, changing nothing.
//
// Signals follow one rule: a handler that returns only records; a handler
// that never returns may act. Each signal that would end the process puts
// the terminal back and ends it by that signal. The job-control signals are
// noted, and the wait (pselect, which lets them through as it begins) ends.
// The pause then puts the terminal back and stops by the signal noted,
// unless a continue came after it, and once continued takes the terminal
// again.

namespace membership {
namespace {

// Shared with the handlers: the terminal's settings before the pause (once
// read), and the job-control signal noted last.
termios settingsBefore{};
volatile std::sig_atomic_t settingsRead = 0;
volatile std::sig_atomic_t lastJobControl = 0;

sigset_t only(int number) noexcept
{
    sigset_t signals{};
    sigemptyset(&signals);
    sigaddset(&signals, number);
    return signals;
}

sigset_t jobControlSignals() noexcept
{
    sigset_t signals = only(SIGTSTP);
    for (const int number : {SIGTTIN, SIGTTOU, SIGCONT}) {
        sigaddset(&signals, number);
    }
    return signals;
}

// Async-signal-safe. From the background the kernel refuses it (EINTR): no
// other job's settings or keys are touched. What is left of a key is dropped.
void putTerminalBack() noexcept
{
    if (settingsRead == 0) {
        return;
    }
    const sigset_t terminalOutput = only(SIGTTOU);
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
bool setAction(int number, void (*handler)(int), int flags) noexcept
{
    SignalAction action{};
    action.sa_handler = handler;
    action.sa_mask = jobControlSignals();
    action.sa_flags = flags;
    return sigaction(number, &action, nullptr) == 0;
}

extern "C" {

void noteJobControl(int number)
{
    lastJobControl = number;
}

// The signal, held back meanwhile, takes its default action as this returns,
// and a fault of the program's own recurs. The default is set here, not by
// SA_RESETHAND, which sets it as the signal is taken: a second one (Ctrl-C
// held) would then end the process before the terminal is put back. A
// refused put-back must not stop the dying process (a stop of the pause's
// own leaves SIGTTOU's action the default for a moment).
void endByDefault(int number)
{
    const int savedErrno = errno;
    setAction(SIGTTOU, noteJobControl, 0);
    putTerminalBack();
    setAction(number, SIG_DFL, 0);
    static_cast<void>(raise(number));
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

void takeSignal(SignalsBefore& before, int number, void (*handler)(int), int flags,
                bool evenIgnored = false) noexcept
{
    SignalAction current{}; // SIG_DFL where it cannot be read: then it cannot be set
    sigaction(number, nullptr, &current);
    const bool ignored = current.sa_handler == SIG_IGN;
    if ((current.sa_handler == SIG_DFL || (ignored && evenIgnored)) &&
        setAction(number, handler, flags)) {
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
            takeSignal(before, number, endByDefault, 0);
        }
    }
    takeSignal(before, SIGTSTP, noteJobControl, 0);
    takeSignal(before, SIGTTIN, noteJobControl, 0);
    takeSignal(before, SIGTTOU, noteJobControl, 0, kEvenIgnored);
    takeSignal(before, SIGCONT, noteJobControl, 0, kEvenIgnored);
    sigset_t letThrough = only(SIGTTOU);
    sigaddset(&letThrough, SIGCONT);
    pthread_sigmask(SIG_UNBLOCK, &letThrough, &before.mask);
    return before;
}

void putSignalsBack(const SignalsBefore& before) noexcept
{
    for (int number = 1; number <= kSignalSetBits; ++number) {
        if (sigismember(&before.taken, number) == 1) {
            setAction(number, sigismember(&before.ignored, number) == 1 ? SIG_IGN : SIG_DFL, 0);
        }
    }
    pthread_sigmask(SIG_SETMASK, &before.mask, nullptr);
}

// Puts the terminal back and stops by the job-control signal noted, as its
// default action would (not in a group that no shell could continue), unless
// it was a continue or one comes before the stop: the stop is raised with
// continues let through, so that one that came is noted, not discarded by it,
// and one that comes after it discards it, as the kernel does.
void obeyJobControl()
{
    holding([](const sigset_t& /*maskBefore*/) {
        const int number = lastJobControl;
        lastJobControl = 0;
        if (number == SIGCONT) {
            return; // continued, but not after a stop of its own: the terminal is taken again
        }
        putTerminalBack();
        const sigset_t stop = only(number);
        const sigset_t continues = only(SIGCONT);
        setAction(number, SIG_DFL, 0);
        pthread_sigmask(SIG_UNBLOCK, &continues, nullptr);
        static_cast<void>(raise(number));
        if (lastJobControl == SIGCONT) {
            setAction(number, SIG_IGN, 0); // the stop raised is discarded
        } else {
            pthread_sigmask(SIG_UNBLOCK, &stop, nullptr); // stopped here until continued
        }
        setAction(number, noteJobControl, 0); // (meanwhile, a stop finds it put back)
    });
}

enum class Take { taken, interrupted, impossible };

// What a call on the terminal says of its job: made, in the foreground;
// interrupted (from the background, a stop came first); or never possible (a
// hang-up, or the background of a group that no shell could continue).
Take asItsJob(int result)
{
    return result >= 0 ? Take::taken : errno == EINTR ? Take::interrupted : Take::impossible;
}

// Key mode: one key at a time, no echo, Ctrl-C still working, and a read
// that never blocks (standard input is the shell's open file, whose flags
// are not the pause's to change); what was typed ahead is dropped in the
// same step, so nothing once key mode shows. The settings to put back are
// read once the kernel has said that the terminal is the job's (tcdrain
// changes nothing): never another job's.
Take takeTerminal()
{
    if (settingsRead == 0) {
        const Take proof = asItsJob(tcdrain(STDIN_FILENO));
        if (proof != Take::taken) {
            return proof;
        }
        if (tcgetattr(STDIN_FILENO, &settingsBefore) != 0) {
            return Take::impossible;
        }
        settingsRead = 1;
    }
    termios keyMode = settingsBefore;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 0;
    keyMode.c_cc[VTIME] = 0;
    return asItsJob(tcsetattr(STDIN_FILENO, TCSAFLUSH, &keyMode));
}

// Waits until standard output can take the prompt, or a key has come:
// taken; interrupted by a job-control signal, noted as it began or while it
// lasted; or impossible. Standard input and output are descriptors 0 and 1,
// which an fd_set always holds.
Take waitUntilReady(bool forThePrompt)
{
    Take outcome = Take::interrupted;
    holding([&](const sigset_t& maskBefore) {
        if (lastJobControl != 0) {
            return;
        }
        fd_set watched{}; // empty
        FD_SET(forThePrompt ? STDOUT_FILENO : STDIN_FILENO, &watched);
        const int ready = pselect(STDOUT_FILENO + 1, forThePrompt ? nullptr : &watched,
                                  forThePrompt ? &watched : nullptr, nullptr, nullptr, &maskBefore);
        outcome = asItsJob(ready);
    });
    return outcome;
}

// The one wait: for standard output to take the prompt (so that Ctrl-Z
// works while it cannot), then for a key. Each job-control signal is obeyed
// as the wait hears of it, and the terminal taken again; the prompt is
// written anew, whole, once tcdrain has said that the job holds the terminal
// (if it cannot, the terminal is taken again). True once a key is read, or
// the terminal hung up; false where the terminal can never be taken.
bool waitForKey(std::ostream& output)
{
    bool taken = false;
    bool promptDue = false;
    bool prompted = false;
    std::array<char, 64> bytes{};
    while (true) {
        if (lastJobControl != 0) {
            obeyJobControl();
            taken = false;
        }
        if (!taken) {
            const Take take = takeTerminal();
            if (take == Take::impossible) {
                return prompted;
            }
            taken = take == Take::taken;
            promptDue = output.good();
            continue;
        }
        const Take wait = waitUntilReady(promptDue);
        if (wait == Take::impossible) {
            return prompted;
        }
        if (wait == Take::interrupted) {
            continue; // a signal noted
        }
        if (promptDue) {
            taken = asItsJob(tcdrain(STDIN_FILENO)) == Take::taken; // else taken again: it says why
            if (taken) {
                holding([&](const sigset_t& /*maskBefore*/) {
                    output << (prompted ? "\r" : "") << kPausePrompt << std::flush;
                });
                promptDue = false;
                prompted = true;
            }
        } else {
            // A key's first bytes, then a window for the rest, which the put-back drops.
            // Else a hang-up, or the terminal lost (from the background, or a group that
            // no shell could continue): it is taken again, or never.
            if (read(STDIN_FILENO, bytes.data(), bytes.size()) > 0) {
                std::this_thread::sleep_for(kKeyWindow);
                return true;
            }
            taken = false;
        }
    }
}

// Whether standard input is the controlling terminal: a terminal names its
// foreground group only to the processes it controls, but Linux answers for
// a pseudo-terminal's master too, which ptsname alone knows.
bool standardInputIsTheControllingTerminal()
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): one thread; the name is not read
    return tcgetpgrp(STDIN_FILENO) > 0 && ptsname(STDIN_FILENO) == nullptr;
}

} // namespace

void pauseConsole(std::ostream& output)
{
    if (!standardInputIsTheControllingTerminal()) {
        return; // a scripted run, or a terminal that is not this session's controlling one
    }
    const SignalsBefore signalsBefore = takeSignals();
    const bool prompted = waitForKey(output);
    // Put back only as the terminal's job: a stop that came with the key,
    // or the background, is obeyed first.
    putTerminalBack();
    while (lastJobControl != 0) {
        obeyJobControl();
        putTerminalBack();
    }
    settingsRead = 0;
    putSignalsBack(signalsBefore);
    if (prompted) {
        output << '\n';
    }
}

} // namespace membership
