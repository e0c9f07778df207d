#include "console_pause.hpp"
#include "pause_rules.hpp"

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <initializer_list>
#include <ostream>
#include <string_view>

#include <poll.h>
#include <pthread.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

// POSIX shells have no "pause" command, so this stands in for the Windows
// one: prompt, wait for a single key without echo, then end the line. Each
// step is pause_rules' to choose; here are its calls, and the handlers.
//
// POSIX facts it rests on: tcgetattr works from the background; there, a
// tcsetattr, tcflush, tcdrain or a write under TOSTOP raises SIGTTOU (a read,
// SIGTTIN) and fails with EINTR once it is handled, but goes through where
// SIGTTOU is ignored or blocked. A continue discards a pending stop, and a
// stop a pending continue. A signal a process kills itself with names it as
// the sender, and is taken before kill() returns where it is not blocked.
//
// It works on standard input itself, opening nothing. The kernel, not a look
// of its own, decides at each call that the job holds the terminal: every
// call on it lets SIGTTOU and SIGTTIN through. A handler that returns only
// records; one that ends the process may act: it puts the terminal back and
// ends it by that signal (where none can, it notes a continue instead).

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

const sigset_t kJobControl = signalsOf({SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT});

// Async-signal-safe. From the background the kernel refuses it (EINTR): no
// other job's settings or keys are touched. What is left of a key is dropped.
int putTerminalBack() noexcept
{
    if (settingsRead == 0) {
        return 0;
    }
    const sigset_t terminalOutput = signalsOf({SIGTTOU});
    sigset_t maskBefore{};
    pthread_sigmask(SIG_UNBLOCK, &terminalOutput, &maskBefore);
    const int result = tcsetattr(STDIN_FILENO, TCSANOW, &settingsBefore);
    const int error = errno;
    if (result == 0) {
        tcflush(STDIN_FILENO, TCIFLUSH);
    }
    pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
    errno = error;
    return result;
}

// The type is named as the function is, so it always needs its "struct".
using SignalAction = struct sigaction;

// SIG_DFL, SIG_IGN or endByDefault; or noteJobControl, told who sent the
// signal. No SA_RESTART: a signal must end the wait. No job-control signal
// interrupts a handler.
bool setAction(int number, void (*handler)(int)) noexcept
{
    SignalAction action{};
    action.sa_handler = handler;
    action.sa_mask = kJobControl;
    return sigaction(number, &action, nullptr) == 0;
}
bool setAction(int number, void (*noting)(int, siginfo_t*, void*)) noexcept
{
    SignalAction action{};
    action.sa_sigaction = noting;
    action.sa_flags = SA_SIGINFO;
    action.sa_mask = kJobControl;
    return sigaction(number, &action, nullptr) == 0;
}

// The first process of a PID namespace: no signal at its default action that
// it sends itself ends or stops it. Async-signal-safe.
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
// own leaves SIGTTOU's action the default for a moment).
void endByDefault(int number)
{
    const int savedErrno = errno;
    setAction(SIGTTOU, noteJobControl);
    static_cast<void>(putTerminalBack());
    setAction(number, SIG_DFL);
    static_cast<void>(raise(number));
    if (neverStopped()) {
        lastJobControl = SIGCONT; // it goes on: the terminal is taken again
    }
    errno = savedErrno;
}
}

constexpr std::string_view kPausePrompt = "Press any key to continue . . . ";

// What comes this soon after a key's first byte is the rest of it, a repeat
// of a held key or a paste, and is dropped with it.
constexpr std::chrono::milliseconds kKeyWindow{50};
constexpr int kSignalSetBits = static_cast<int>(sizeof(sigset_t) * CHAR_BIT);

// Runs `action` with the job-control signals held back until it returns; it
// is given the mask from before, to let them through where it waits.
template <typename Action> void holding(Action action)
{
    sigset_t maskBefore{};
    pthread_sigmask(SIG_BLOCK, &kJobControl, &maskBefore);
    action(maskBefore);
    pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
}

struct SignalsBefore
{
    sigset_t taken;
    sigset_t ignored;
    sigset_t mask;
};

// Each signal's action as pause_rules gives it (not those that the C library
// keeps, which are not in a full set), then SIGTTOU and SIGCONT let through.
SignalsBefore takeSignals() noexcept
{
    SignalsBefore before{};
    sigemptyset(&before.taken);
    sigemptyset(&before.ignored);
    sigset_t valid{};
    sigfillset(&valid);
    for (int number = 1; number <= kSignalSetBits; ++number) {
        SignalAction current{};
        if (sigismember(&valid, number) != 1 || sigaction(number, nullptr, &current) != 0) {
            continue;
        }
        const bool ignored = current.sa_handler == SIG_IGN;
        const pause::Action action =
            pause::actionFor(number, current.sa_handler == SIG_DFL ? pause::Inherited::byDefault
                                     : ignored                     ? pause::Inherited::ignored
                                                                   : pause::Inherited::handled);
        if (action == pause::Action::note
                ? setAction(number, noteJobControl)
                : action == pause::Action::endByDefault && setAction(number, endByDefault)) {
            sigaddset(&before.taken, number);
            if (ignored) {
                sigaddset(&before.ignored, number);
            }
        }
    }
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

// What a call on the terminal returned, as pause_rules tells it apart.
pause::Answer answered(long result)
{
    const int error = errno;
    termios any{};
    return pause::answerOfCall(result, error, result < 0 && tcgetattr(STDIN_FILENO, &any) == 0);
}

// Puts the terminal back (and answers that call), then stops by the signal,
// as its default action would, where the system stops the process at all.
// The stop is sent with itself and continues let through: a continue that
// came first makes it one that is dropped (noteJobControl); one that comes
// after it continues the process, as the kernel does.
pause::Answer obeyStop(int number)
{
    const pause::Answer putBack = answered(putTerminalBack());
    const sigset_t stopAndContinues = signalsOf({number, SIGCONT});
    stopObeyed = number;
    setAction(number, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &stopAndContinues, nullptr);
    static_cast<void>(kill(getpid(), number)); // stopped here until continued
    pthread_sigmask(SIG_BLOCK, &stopAndContinues, nullptr);
    stopObeyed = 0;
    setAction(number, noteJobControl); // (meanwhile, a stop finds it put back)
    return putBack;
}

// A call on the terminal, with the job-control signals let through, so that
// the kernel stops the job for it in the background; errno is the call's.
template <typename Call> long lettingThrough(const sigset_t& mask, Call call)
{
    sigset_t held{};
    pthread_sigmask(SIG_SETMASK, &mask, &held);
    const long result = call();
    const int error = errno;
    pthread_sigmask(SIG_SETMASK, &held, nullptr);
    errno = error;
    return result;
}

// Key mode: one key at a time, no echo, Ctrl-C still working, and a read
// that never blocks (standard input is the shell's open file, whose flags
// are not the pause's to change); what was typed ahead is dropped in the
// same step. The settings to put back are read once tcdrain (which changes
// nothing) has gone through: never another job's.
pause::Answer takeTerminal(const sigset_t& mask)
{
    if (settingsRead == 0) {
        if (lettingThrough(mask, [] { return tcdrain(STDIN_FILENO); }) != 0) {
            return answered(-1);
        }
        if (tcgetattr(STDIN_FILENO, &settingsBefore) != 0) {
            return pause::Answer::refused;
        }
        settingsRead = 1;
    }
    termios keyMode = settingsBefore;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 0;
    keyMode.c_cc[VTIME] = 0;
    return answered(
        lettingThrough(mask, [&] { return tcsetattr(STDIN_FILENO, TCSAFLUSH, &keyMode); }));
}

// Until standard output can take the prompt, or a key has come; a signal
// noted since the step began interrupts it, as it is let through only here.
// Standard input and output are descriptors 0 and 1, which an fd_set holds.
pause::Answer waitUntilReady(bool forThePrompt, const sigset_t& mask)
{
    fd_set watched{}; // empty
    FD_SET(forThePrompt ? STDOUT_FILENO : STDIN_FILENO, &watched);
    return answered(pselect(STDOUT_FILENO + 1, forThePrompt ? nullptr : &watched,
                            forThePrompt ? &watched : nullptr, nullptr, nullptr, &mask));
}

// Reads and drops what comes until the key's window ends: a paste would
// otherwise fill the terminal's queue again as soon as it was flushed.
void dropKeyRest(std::array<char, 1024>& bytes)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + kKeyWindow;
    for (Clock::duration left = kKeyWindow; left.count() > 0; left = until - Clock::now()) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        if (poll(&input, 1, static_cast<int>(wait)) > 0 &&
            read(STDIN_FILENO, bytes.data(), bytes.size()) <= 0) {
            return; // hung up, or in the background: the put-back says
        }
    }
}

// Makes the step's calls, with the job-control signals held back but where a
// call lets them through (`mask`): one that comes meanwhile is noted for the
// next step. Answers what the terminal said.
pause::Answer make(pause::Step step, const pause::Rules& rules, std::ostream& output,
                   const sigset_t& mask)
{
    using pause::Step;
    std::array<char, 1024> bytes{};
    switch (step) {
    case Step::takeTerminal:
        return takeTerminal(mask);
    case Step::waitForOutput:
    case Step::waitForKey:
        return waitUntilReady(step == Step::waitForOutput, mask);
    case Step::checkForeground:
        return answered(lettingThrough(mask, [] { return tcdrain(STDIN_FILENO); }));
    case Step::writePrompt: // SIGTTOU held: under TOSTOP it would interrupt each retry
        output << (rules.prompted() ? "\r" : "") << kPausePrompt << std::flush;
        break;
    case Step::readKey: {
        const long got =
            lettingThrough(mask, [&] { return read(STDIN_FILENO, bytes.data(), bytes.size()); });
        return pause::answerOfRead(got, errno);
    }
    case Step::dropKeyRest: // a signal meanwhile waits for the put-back
        dropKeyRest(bytes);
        break;
    case Step::obeyStop:
        return obeyStop(rules.stop());
    case Step::waitForContinue: // woken by any signal: the next step says what it was
        sigsuspend(&mask);      // NOLINT(concurrency-mt-unsafe): one thread
        break;
    case Step::putBack:
        return answered(putTerminalBack());
    default:
        break;
    }
    return pause::Answer::made;
}

// Whether standard input is the controlling terminal (at any other, nothing
// tells whose keys those are): a terminal names its foreground group (0
// outside the caller's PID namespace) only to the processes it controls, but
// Linux answers for a pseudo-terminal's master too, which ptsname alone knows.
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
    pause::Rules rules;
    pause::Answer answer = pause::Answer::made;
    pause::Step step = pause::Step::start;
    while (step != pause::Step::end && step != pause::Step::endTheLine) {
        holding([&](const sigset_t& maskBefore) {
            const int noted = lastJobControl; // taken: a later one is noted anew
            lastJobControl = 0;
            step = rules.next(answer, noted, {neverStopped(), output.good()});
            answer = make(step, rules, output, maskBefore);
        });
    }
    putSignalsBack(signalsBefore);
    if (step == pause::Step::endTheLine) {
        output << '\n';
    }
}

} // namespace membership
