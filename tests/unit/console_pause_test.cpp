#include "platform/console_pause.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace membership {
namespace {

using SignalHandler = void (*)(int);
using SignalAction = struct sigaction;

// Gives the signal `handler`; returns its handler before.
SignalHandler exchangeHandler(int number, SignalHandler handler)
{
    SignalAction action{};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    SignalAction previous{};
    sigaction(number, &action, &previous);
    return previous.sa_handler;
}

// The terminal side of a pseudo-terminal whose controller is `controller`.
int openTerminalSide(int controller)
{
    if (controller < 0 || grantpt(controller) != 0 || unlockpt(controller) != 0) {
        return -1;
    }
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the test has one thread
    return open(ptsname(controller), O_RDWR | O_NOCTTY);
}

// A pseudo-terminal as standard input while it lives.
class TerminalAsInput
{
public:
    TerminalAsInput()
        : controller_(posix_openpt(O_RDWR | O_NOCTTY)), terminal_(openTerminalSide(controller_)),
          savedInput_(dup(STDIN_FILENO))
    {
        dup2(terminal_, STDIN_FILENO);
    }
    TerminalAsInput(const TerminalAsInput&) = delete;
    TerminalAsInput& operator=(const TerminalAsInput&) = delete;
    TerminalAsInput(TerminalAsInput&&) = delete;
    TerminalAsInput& operator=(TerminalAsInput&&) = delete;
    ~TerminalAsInput()
    {
        dup2(savedInput_, STDIN_FILENO);
        close(savedInput_);
        close(terminal_);
        close(controller_);
    }

    [[nodiscard]] bool opened() const { return controller_ >= 0 && terminal_ >= 0; }
    // Makes it this process's controlling terminal, in a session of its own
    // (a process that leads a group cannot start one).
    [[nodiscard]] bool controlling() const
    {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the test has one thread
        const char* const path = ptsname(controller_);
        const int own = setsid() == -1 || path == nullptr ? -1 : open(path, O_RDWR);
        return own >= 0 && dup2(own, STDIN_FILENO) >= 0 && tcgetpgrp(STDIN_FILENO) == getpgrp();
    }
    void type(const std::string& keys) const
    {
        ASSERT_EQ(write(controller_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // What termios defines of the settings: the flag words, the control
    // characters and the speeds (the rest of the struct is the system's own,
    // and an emulator's may differ there).
    [[nodiscard]] auto settings() const
    {
        termios now{};
        tcgetattr(terminal_, &now);
        return std::make_tuple(now.c_iflag, now.c_oflag, now.c_cflag, now.c_lflag,
                               std::vector<cc_t>(std::begin(now.c_cc), std::end(now.c_cc)),
                               cfgetispeed(&now), cfgetospeed(&now));
    }

private:
    int controller_;
    int terminal_;
    int savedInput_;
};

// Keeps what the pause writes; once its prompt is flushed, a key is typed,
// as a person would (what was typed before the prompt is dropped).
class KeyAfterPrompt : public std::stringbuf
{
public:
    explicit KeyAfterPrompt(const TerminalAsInput& terminal) : terminal_(terminal) {}

protected:
    int sync() override
    {
        terminal_.type("k");
        return 0;
    }

private:
    const TerminalAsInput& terminal_;
};

// Sets the actions and mask of `actions`, runs the pause at `terminal`, and
// says what differs from what it must leave: the prompt and a line end where
// it waits for a key (the output is then `expected`), the terminal's
// settings, every signal action (ignored ones, and those it takes even so,
// included) and the signal mask as they were.
std::string pauseLeavesAllAsItFoundIt(const TerminalAsInput& terminal, const std::string& expected)
{
    const std::vector<std::pair<int, SignalHandler>> actionsBefore{
        {SIGHUP, SIG_DFL},  {SIGINT, SIG_DFL},  {SIGTERM, SIG_DFL}, {SIGSEGV, SIG_DFL},
        {SIGABRT, SIG_DFL}, {SIGUSR1, SIG_DFL}, {SIGUSR2, SIG_IGN}, {SIGTSTP, SIG_DFL},
        {SIGTTIN, SIG_DFL}, {SIGTTOU, SIG_IGN}, {SIGCONT, SIG_IGN},
    };
    std::vector<SignalHandler> original(actionsBefore.size());
    std::transform(actionsBefore.begin(), actionsBefore.end(), original.begin(),
                   [](const auto& before) { return exchangeHandler(before.first, before.second); });
    sigset_t blocked{};
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTTOU);
    sigset_t maskBefore{};
    pthread_sigmask(SIG_BLOCK, &blocked, &maskBefore);
    pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore);
    const auto settingsBefore = terminal.settings();

    KeyAfterPrompt shown(terminal);
    std::ostream output(&shown);
    pauseConsole(output);

    std::ostringstream differences;
    if (shown.str() != expected) {
        differences << "wrote \"" << shown.str() << "\"; ";
    }
    // cppcheck-suppress knownConditionTrueFalse ; the pause changes them meanwhile
    if (terminal.settings() != settingsBefore) {
        differences << "the terminal was not put back; ";
    }
    sigset_t maskAfter{};
    pthread_sigmask(SIG_SETMASK, &maskBefore, &maskAfter);
    for (std::size_t index = 0; index < actionsBefore.size(); ++index) {
        const auto [number, before] = actionsBefore.at(index);
        if (sigismember(&maskAfter, number) != sigismember(&maskBefore, number)) {
            differences << "signal " << number << " blocked or unblocked; ";
        }
        if (exchangeHandler(number, original.at(index)) != before) {
            differences << "signal " << number << " not put back; ";
        }
    }
    pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
    return differences.str();
}

// What inAChild says when the child never ran: qemu-user's i386 fork()
// leaves it spinning inside the C library (seen with qemu 7.2).
constexpr std::string_view kNoChild = "no child ran";

// Runs `body` in a child process; returns what it said, as a text.
std::string inAChild(const std::function<std::string()>& body)
{
    std::array<int, 2> ends{};
    if (pipe(ends.data()) != 0) {
        return "no pipe";
    }
    const pid_t child = fork();
    if (child == 0) {
        static_cast<void>(write(ends[1], "+", 1)); // it runs
        const std::string said = body();
        static_cast<void>(write(ends[1], said.data(), said.size()));
        _exit(EXIT_SUCCESS);
    }
    close(ends[1]);
    pollfd started{ends[0], POLLIN, 0};
    constexpr int kStartMilliseconds = 20000;
    if (child > 0 && poll(&started, 1, kStartMilliseconds) == 0) {
        kill(child, SIGKILL);
    }
    std::string said;
    std::array<char, 256> buffer{};
    ssize_t got = 0;
    while ((got = read(ends[0], buffer.data(), buffer.size())) > 0) {
        said.append(buffer.data(), static_cast<std::size_t>(got));
    }
    close(ends[0]);
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && said.empty()) {
        return std::string(kNoChild);
    }
    return WIFEXITED(status) != 0 ? said.substr(1) : "the child did not end well";
}

// It waits for a key at the controlling terminal of its session alone: at
// any other terminal, nothing tells whose keys those are, and it leaves them.
TEST(ConsolePause, WaitsForAKeyAtItsOwnTerminalAloneAndLeavesAllAsItFoundIt)
{
    const TerminalAsInput terminal;
    ASSERT_TRUE(terminal.opened());
    EXPECT_EQ(pauseLeavesAllAsItFoundIt(terminal, ""), "") << "not its controlling terminal";
    // Its controlling terminal needs a session of its own: a child's.
    const std::string inItsOwnSession = inAChild([&] {
        return terminal.controlling()
                   ? pauseLeavesAllAsItFoundIt(terminal, "Press any key to continue . . . \n")
                   : "no session of its own";
    });
    if (inItsOwnSession == kNoChild) {
        GTEST_SKIP() << "no child process ran here";
    }
    EXPECT_EQ(inItsOwnSession, "") << "its controlling terminal";
}

} // namespace
} // namespace membership
