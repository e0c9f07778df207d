#include "console_pause.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <ostream>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

// POSIX shells have no "pause" command, so this stands in for the Windows
// one: prompt, wait for a single key without echo, then end the line. The
// terminal is put back before any signal takes effect: signals arrive as
// bytes through a pipe (the self-pipe idiom), polled together with the key.

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

constexpr std::string_view kPausePrompt = "Press any key to continue . . . ";

// The bytes of one key (an escape sequence for an arrow or function key)
// arrive together; a pause this long after a byte means the key is over.
constexpr int kKeyCompleteAfterMilliseconds = 50;

// These end the process, once the terminal is back as it was.
constexpr std::array<int, 4> kEndingSignals{SIGINT, SIGQUIT, SIGTERM, SIGHUP};
// ... and Ctrl-Z suspends it, the terminal put back while it is stopped.
constexpr std::array<int, 5> kForwardedSignals{SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP};

bool isEnding(int number)
{
    return std::find(kEndingSignals.begin(), kEndingSignals.end(), number) != kEndingSignals.end();
}

// An ending signal over SIGTSTP over none (0).
int morePressing(int first, int second)
{
    if (isEnding(first)) {
        return first;
    }
    if (isEnding(second)) {
        return second;
    }
    return first != 0 ? first : second;
}

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

// While it lives, each forwarded signal becomes a byte in a pipe instead of
// taking its action. A signal that was being ignored stays ignored.
class SignalForwarding
{
public:
    SignalForwarding() noexcept
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
        const SignalAction forward = actionOf(forwardSignal);
        for (std::size_t index = 0; index < kForwardedSignals.size(); ++index) {
            const int number = kForwardedSignals.at(index);
            if (sigaction(number, nullptr, &previous_.at(index)) == 0 &&
                previous_.at(index).sa_handler != SIG_IGN) {
                installed_.at(index) = sigaction(number, &forward, nullptr) == 0;
            }
        }
    }

    SignalForwarding(const SignalForwarding&) = delete;
    SignalForwarding& operator=(const SignalForwarding&) = delete;
    SignalForwarding(SignalForwarding&&) = delete;
    SignalForwarding& operator=(SignalForwarding&&) = delete;

    ~SignalForwarding()
    {
        static_cast<void>(restoreActions());
        if (active()) {
            signalPipeWriteEnd = -1;
            close(pipe_[0]);
            close(pipe_[1]);
        }
    }

    [[nodiscard]] bool active() const noexcept { return pipe_[0] >= 0; }
    [[nodiscard]] int readEnd() const noexcept { return pipe_[0]; }

    // The most pressing signal that arrived since the last call, or 0.
    [[nodiscard]] int takeArrived() const noexcept
    {
        int arrived = 0;
        std::array<unsigned char, 16> bytes{};
        ssize_t got = 0;
        while ((got = read(pipe_[0], bytes.data(), bytes.size())) > 0 ||
               (got < 0 && errno == EINTR)) {
            for (ssize_t index = 0; index < got; ++index) {
                arrived = morePressing(arrived, bytes.at(static_cast<std::size_t>(index)));
            }
        }
        return arrived;
    }

    // Stops the process as Ctrl-Z would have; returns once it is continued,
    // or at once where no shell could continue it (an orphaned group).
    static void suspendProcess() noexcept
    {
        const SignalAction stop = actionOf(SIG_DFL);
        SignalAction forward{};
        sigaction(SIGTSTP, &stop, &forward);
        static_cast<void>(raise(SIGTSTP));
        sigaction(SIGTSTP, &forward, nullptr);
    }

    // Puts every action back as it was; returns the most pressing signal that
    // arrived before that, or 0.
    [[nodiscard]] int restoreActions() noexcept
    {
        for (std::size_t index = 0; index < kForwardedSignals.size(); ++index) {
            if (installed_.at(index)) {
                sigaction(kForwardedSignals.at(index), &previous_.at(index), nullptr);
                installed_.at(index) = false;
            }
        }
        return active() ? takeArrived() : 0;
    }

private:
    std::array<int, 2> pipe_{-1, -1};
    std::array<SignalAction, kForwardedSignals.size()> previous_{};
    std::array<bool, kForwardedSignals.size()> installed_{};
};

// One key at a time, no echo; signal keys such as Ctrl-C keep working. From
// a background job this stops the process (SIGTTOU) until it is brought to
// the foreground, as other terminal programs do.
bool enterKeyMode(const termios& original)
{
    termios keyMode = original;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    return tcsetattr(STDIN_FILENO, TCSANOW, &keyMode) == 0;
}

// Never stops the process, even in the background: SIGTTOU is held back.
bool restoreTerminal(const termios& original)
{
    sigset_t terminalOutput{};
    sigemptyset(&terminalOutput);
    sigaddset(&terminalOutput, SIGTTOU);
    sigset_t previousMask{};
    pthread_sigmask(SIG_BLOCK, &terminalOutput, &previousMask);
    int result = 0;
    do {
        result = tcsetattr(STDIN_FILENO, TCSANOW, &original);
    } while (result != 0 && errno == EINTR);
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    return result == 0;
}

ssize_t readTerminal(std::array<char, 64>& bytes)
{
    ssize_t got = 0;
    do {
        got = read(STDIN_FILENO, bytes.data(), bytes.size());
    } while (got < 0 && errno == EINTR);
    return got;
}

bool pollIn(pollfd& descriptor, int timeoutMilliseconds)
{
    int ready = 0;
    do {
        ready = poll(&descriptor, 1, timeoutMilliseconds);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (descriptor.revents & POLLIN) != 0;
}

// Reads one key press, all of its bytes, so that none reaches the shell.
void consumeKey()
{
    std::array<char, 64> bytes{};
    if (readTerminal(bytes) <= 0) {
        return;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (pollIn(input, kKeyCompleteAfterMilliseconds) && readTerminal(bytes) > 0) {
    }
}

// Returns the forwarded signal that arrived first, or 0 once a key has been
// consumed (or the terminal can no longer be read).
int waitForKeyOrSignal(const SignalForwarding& forwarding)
{
    std::array<pollfd, 2> descriptors{
        {{STDIN_FILENO, POLLIN, 0}, {forwarding.readEnd(), POLLIN, 0}}};
    while (true) {
        const int ready = poll(descriptors.data(), static_cast<nfds_t>(descriptors.size()), -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return 0;
        }
        if ((descriptors[1].revents & POLLIN) != 0) {
            const int arrived = forwarding.takeArrived();
            if (arrived != 0) {
                return arrived;
            }
        }
        if (descriptors[0].revents != 0) {
            consumeKey();
            return 0;
        }
    }
}

// Lets the signal take its default action: the process ends by it.
void endProcessBy(int number)
{
    const SignalAction byDefault = actionOf(SIG_DFL);
    SignalAction previous{};
    sigaction(number, &byDefault, &previous);
    static_cast<void>(raise(number));
    sigaction(number, &previous, nullptr); // only if it was held back
}

} // namespace

void pauseConsole(std::ostream& output)
{
    termios original{};
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &original) != 0) {
        return; // scripted run: nobody to press a key
    }
    SignalForwarding forwarding;
    if (!forwarding.active()) {
        return; // without it, a signal could leave the terminal in key mode
    }

    int arrived = 0;
    bool prompted = false;
    while (true) {
        if (!enterKeyMode(original)) {
            arrived = forwarding.takeArrived(); // none: the terminal is not ours to use
        } else {
            // Only a key pressed after the prompt ends the pause: what was
            // typed ahead is dropped, so it never reaches the shell either.
            static_cast<void>(tcflush(STDIN_FILENO, TCIFLUSH));
            // Back from a stop, the prompt is written again over its own line.
            output << (prompted ? "\r" : "") << kPausePrompt << std::flush;
            prompted = true;
            arrived = waitForKeyOrSignal(forwarding);
            if (!restoreTerminal(original)) {
                break; // the terminal is gone: nothing left to put back or wait on
            }
        }
        if (arrived != SIGTSTP) {
            break;
        }
        SignalForwarding::suspendProcess();
    }

    arrived = morePressing(arrived, forwarding.restoreActions());
    if (isEnding(arrived)) {
        endProcessBy(arrived);
    }
    if (prompted) {
        output << std::endl;
    }
}

} // namespace membership
