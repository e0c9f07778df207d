#include "console_pause.hpp"
#include "signal_forwarding.hpp"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ostream>
#include <string_view>

#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

// POSIX shells have no "pause" command, so this stands in for the Windows
// one: prompt, wait for a single key without echo, then end the line. The
// terminal is put back before any signal takes effect (see SignalForwarding).

namespace membership {
namespace {

constexpr std::string_view kPausePrompt = "Press any key to continue . . . ";

// The bytes of one key (an escape sequence for an arrow or function key)
// arrive together. What comes this soon after a key's first byte is taken as
// part of it, or as a repeat of a held key, and dropped with it.
constexpr std::chrono::milliseconds kKeyWindow{50};

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

// Puts the settings back and drops what is left of the key, so that none of
// it reaches the shell. Never stops the process, even in the background:
// SIGTTOU is held back meanwhile.
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
    static_cast<void>(tcflush(STDIN_FILENO, TCIFLUSH));
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

// Reads one key press: its first bytes, then whatever follows within the
// window (the rest of the key, or repeats of a held one), never longer.
void consumeKey()
{
    std::array<char, 64> bytes{};
    if (readTerminal(bytes) <= 0) {
        return;
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
            return;
        }
    }
}

// Waits for a key, consumed whole, or for a forwarded signal. Returns the
// signals that arrived; none once a key has been consumed (or the terminal
// can no longer be read).
ArrivedSignals waitForKeyOrSignal(const SignalForwarding& forwarding)
{
    std::array<pollfd, 2> descriptors{
        {{STDIN_FILENO, POLLIN, 0}, {forwarding.readEnd(), POLLIN, 0}}};
    while (true) {
        const int ready = poll(descriptors.data(), static_cast<nfds_t>(descriptors.size()), -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return {};
        }
        if ((descriptors[1].revents & POLLIN) != 0) {
            const ArrivedSignals arrived = forwarding.takeArrived();
            if (arrived.ending != 0 || arrived.stopping || arrived.continued) {
                return arrived;
            }
        }
        if (descriptors[0].revents != 0) {
            consumeKey();
            return {};
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
    SignalForwarding forwarding;
    if (!forwarding.active()) {
        return; // without it, a signal could leave the terminal in key mode
    }

    ArrivedSignals arrived;
    bool prompted = false;
    while (true) {
        if (enterKeyMode(original)) {
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
        } else {
            arrived = forwarding.takeArrived(); // what interrupted it, if anything
        }
        if (arrived.ending == 0 && arrived.stopping) {
            arrived = forwarding.suspendProcess();
        } else if (!arrived.continued) {
            break; // a key, or a terminal that is not ours to use
        }
        if (arrived.ending != 0) {
            break;
        }
        // Continued, after Ctrl-Z or any other stop: key mode and the prompt again.
    }

    const ArrivedSignals late = forwarding.restoreActions();
    const int ending = arrived.ending != 0 ? arrived.ending : late.ending;
    if (ending != 0) {
        endProcessBy(ending);
    }
    if (prompted) {
        output << std::endl;
    }
}

} // namespace membership
