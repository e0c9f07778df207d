#include "console_pause.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <ostream>
#include <string_view>

#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

// POSIX shells have no "pause" command, so this stands in for the Windows
// one: prompt, wait for a single key without echo, then end the line.

namespace membership {
namespace {

constexpr std::string_view kPausePrompt = "Press any key to continue . . . ";

// The bytes of one key (an escape sequence for an arrow or function key)
// arrive together; a pause this long after a byte means the key is over.
constexpr int kKeyCompleteAfterMilliseconds = 50;

// Signals that may end the process while the terminal is in key mode.
sigset_t terminatingSignals()
{
    sigset_t signals{};
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGINT);
    return signals;
}

// One key at a time, no echo; signal keys such as Ctrl-C keep working.
void enterKeyMode(const termios& original)
{
    termios keyMode = original;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &keyMode);
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
    if (read(STDIN_FILENO, bytes.data(), bytes.size()) <= 0) {
        return;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (pollIn(input, kKeyCompleteAfterMilliseconds) &&
           read(STDIN_FILENO, bytes.data(), bytes.size()) > 0) {
    }
}

// Returns the signal that arrived first, or 0 once a key has been consumed
// (or the terminal can no longer be read).
int waitForKeyOrSignal(int signalDescriptor)
{
    std::array<pollfd, 2> descriptors{{{STDIN_FILENO, POLLIN, 0}, {signalDescriptor, POLLIN, 0}}};
    while (true) {
        const int ready = poll(descriptors.data(), descriptors.size(), -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return 0;
        }
        if ((descriptors[1].revents & POLLIN) != 0) {
            signalfd_siginfo arrived{};
            if (read(signalDescriptor, &arrived, sizeof arrived) ==
                static_cast<ssize_t>(sizeof arrived)) {
                return static_cast<int>(arrived.ssi_signo);
            }
        }
        if (descriptors[0].revents != 0) {
            consumeKey();
            return 0;
        }
    }
}

} // namespace

void pauseConsole(std::ostream& output)
{
    termios original{};
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &original) != 0) {
        return; // scripted run: nobody to press a key
    }

    // The terminating signals are taken as data while the terminal is in key
    // mode, so that it is always put back before one of them takes effect.
    const sigset_t signals = terminatingSignals();
    sigset_t previousMask{};
    pthread_sigmask(SIG_BLOCK, &signals, &previousMask);
    const int signalDescriptor = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalDescriptor < 0) {
        pthread_sigmask(SIG_SETMASK, &previousMask, nullptr); // stay killable
    }

    enterKeyMode(original); // before the prompt: a key pressed on seeing it is one key
    output << kPausePrompt << std::flush;
    const int arrivedSignal = waitForKeyOrSignal(signalDescriptor);
    tcsetattr(STDIN_FILENO, TCSANOW, &original);
    if (signalDescriptor >= 0) {
        close(signalDescriptor);
    }
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);

    if (arrivedSignal != 0) {
        static_cast<void>(raise(arrivedSignal)); // now unblocked, at its default action
        return;
    }
    output << std::endl;
}

} // namespace membership
