#include "platform/console_pause.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace membership {
namespace {

using SignalHandler = void (*)(int);
using SignalAction = struct sigaction;

constexpr std::string_view kPrompt = "Press any key to continue . . . ";
constexpr auto kPatience = std::chrono::seconds(10);

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

// A pseudo-terminal: its controller, and its terminal side opened without
// making it anyone's controlling terminal.
class Pty
{
public:
    Pty() : controller_(posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (controller_ >= 0 && grantpt(controller_) == 0 && unlockpt(controller_) == 0) {
            // NOLINTNEXTLINE(concurrency-mt-unsafe): the test has one thread
            name_ = ptsname(controller_);
            terminal_ = open(name_.c_str(), O_RDWR | O_NOCTTY);
        }
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    Pty(Pty&&) = delete;
    Pty& operator=(Pty&&) = delete;
    ~Pty()
    {
        close(terminal_);
        close(controller_);
    }

    [[nodiscard]] bool opened() const { return terminal_ >= 0; }
    [[nodiscard]] int controller() const { return controller_; }
    [[nodiscard]] int terminal() const { return terminal_; }
    // In a child: a session of its own, whose controlling terminal this is.
    [[nodiscard]] bool control() const
    {
        const int own = setsid() == -1 ? -1 : open(name_.c_str(), O_RDWR);
        return own >= 0 && tcgetpgrp(own) == getpgrp() && close(own) == 0;
    }
    void type(std::string_view keys) const
    {
        static_cast<void>(write(controller_, keys.data(), keys.size()));
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
    [[nodiscard]] bool inKeyMode() const
    {
        termios now{};
        return tcgetattr(terminal_, &now) == 0 && (now.c_lflag & (ICANON | ECHO)) == 0;
    }

private:
    int controller_;
    int terminal_ = -1;
    std::string name_;
};

// Keeps what the pause writes; once its prompt is flushed, a key is typed,
// as a person would (what was typed before the prompt is dropped).
class KeyAfterPrompt : public std::stringbuf
{
public:
    explicit KeyAfterPrompt(const Pty& pty) : pty_(pty) {}

protected:
    int sync() override
    {
        pty_.type("k");
        return 0;
    }

private:
    const Pty& pty_;
};

bool until(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// In a child: every signal at its default and none blocked, as a shell
// starts a command, and no core file.
void asAShellStartsACommand()
{
    sigset_t all{};
    sigfillset(&all);
    for (int number = 1; sigismember(&all, number) != -1; ++number) {
        exchangeHandler(number, SIG_DFL);
    }
    sigemptyset(&all);
    pthread_sigmask(SIG_SETMASK, &all, nullptr);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
}

// Runs `body` in a child process started so; returns what it said, and how
// it ended where that was not with success (it did not end within kPatience:
// killed).
std::string inAChild(const std::function<std::string()>& body)
{
    std::array<int, 2> ends{};
    if (pipe(ends.data()) != 0) {
        return "no pipe";
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        asAShellStartsACommand();
        const std::string said = body();
        static_cast<void>(write(ends[1], said.data(), said.size()));
        _exit(EXIT_SUCCESS);
    }
    close(ends[1]);
    std::string said;
    std::array<char, 256> buffer{};
    pollfd output{ends[0], POLLIN, 0};
    ssize_t got = 1;
    while (got > 0 && poll(&output, 1, static_cast<int>(kPatience.count() * 1000)) > 0) {
        got = read(ends[0], buffer.data(), buffer.size());
        said.append(buffer.data(), static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    close(ends[0]);
    if (child < 0 || got > 0) {
        kill(child, SIGKILL);
        said = "the child hung";
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != EXIT_SUCCESS) {
        said += " (the child ended with wait status " + std::to_string(status) + ")";
    }
    return said;
}

// Sets the actions and mask of `actionsBefore`, runs the pause, and says what
// differs from what it must leave: its prompt and a line end where it waits
// for a key (then `waits`), the terminal's settings, every signal action
// (ignored ones, and those it takes even so, included) and the signal mask.
std::string pauseLeavesAllAsItFoundIt(const Pty& pty, bool waits)
{
    const std::vector<std::pair<int, SignalHandler>> actionsBefore{
        {SIGHUP, SIG_DFL},  {SIGINT, SIG_DFL},  {SIGTERM, SIG_DFL}, {SIGSEGV, SIG_DFL},
        {SIGABRT, SIG_DFL}, {SIGUSR1, SIG_DFL}, {SIGUSR2, SIG_IGN}, {SIGTSTP, SIG_DFL},
        {SIGTTIN, SIG_DFL}, {SIGTTOU, SIG_IGN}, {SIGCONT, SIG_IGN}, {SIGWINCH, SIG_DFL},
    };
    for (const auto& [number, handler] : actionsBefore) {
        exchangeHandler(number, handler);
    }
    sigset_t blocked{};
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTTOU);
    sigset_t maskBefore{};
    pthread_sigmask(SIG_BLOCK, &blocked, &maskBefore);
    pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore);
    const auto settingsBefore = pty.settings();
    const auto openDescriptors = [] {
        std::vector<int> open;
        for (int descriptor = 0; descriptor < 1200; ++descriptor) { // past those the rows use
            if (fcntl(descriptor, F_GETFD) != -1) {
                open.push_back(descriptor);
            }
        }
        return open;
    };
    const std::vector<int> openBefore = openDescriptors();

    KeyAfterPrompt shown(pty);
    std::ostream output(&shown);
    pauseConsole(output);

    std::ostringstream differences;
    if (openDescriptors() != openBefore) {
        differences << "descriptors left open; ";
    }
    if (shown.str() != (waits ? std::string(kPrompt) + "\n" : "")) {
        differences << "wrote \"" << shown.str() << "\"; ";
    }
    // cppcheck-suppress knownConditionTrueFalse ; the pause changes them meanwhile
    if (pty.settings() != settingsBefore) {
        differences << "the terminal was not put back; ";
    }
    sigset_t maskAfter{};
    pthread_sigmask(SIG_SETMASK, nullptr, &maskAfter);
    for (const auto& [number, before] : actionsBefore) {
        if (sigismember(&maskAfter, number) != sigismember(&maskBefore, number)) {
            differences << "signal " << number << " blocked or unblocked; ";
        }
        if (exchangeHandler(number, before) != before) {
            differences << "signal " << number << " not put back; ";
        }
    }
    return differences.str();
}

// Opens descriptors until the next one is past `number` (within the limit,
// raised as far as it goes); false where the limit is lower.
bool descriptorsInUseUpTo(int number)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    int last = 0;
    while (last >= 0 && last < number) {
        last = open("/dev/null", O_RDONLY);
    }
    return last >= number;
}

struct InputCase
{
    const char* what;
    int (*input)(const Pty& own, const Pty& other); // standard input, in the child
    bool waits;
    int descriptorsInUse = 0; // the pause's own descriptors come past these
};

// It waits for a key where standard input is its controlling terminal alone:
// elsewhere nothing tells whose keys those are, and it leaves them. Whatever
// descriptors the process has: select() could not take one past 1023.
TEST(ConsolePause, WaitsAtItsControllingTerminalAloneAndLeavesAllAsItFoundIt)
{
    const std::vector<InputCase> cases{
        {"its controlling terminal", [](const Pty& own, const Pty&) { return own.terminal(); },
         true},
        {"its controlling terminal, descriptors past 1024 in use",
         [](const Pty& own, const Pty&) { return own.terminal(); }, true, 1023},
        {"another terminal", [](const Pty&, const Pty& other) { return other.terminal(); }, false},
        {"its terminal's controller", [](const Pty& own, const Pty&) { return own.controller(); },
         false},
        {"another terminal's controller",
         [](const Pty&, const Pty& other) { return other.controller(); }, false},
        {"not a terminal", [](const Pty&, const Pty&) { return open("/dev/null", O_RDONLY); },
         false},
    };
    for (const InputCase& input : cases) {
        const Pty own;
        const Pty other;
        ASSERT_TRUE(own.opened() && other.opened());
        const std::string differences = inAChild([&]() -> std::string {
            if (!own.control() || dup2(input.input(own, other), STDIN_FILENO) < 0) {
                return "no session of its own";
            }
            if (input.descriptorsInUse > 0 && !descriptorsInUseUpTo(input.descriptorsInUse)) {
                return ""; // the limit is lower: no such descriptor can be had here
            }
            return pauseLeavesAllAsItFoundIt(own, input.waits);
        });
        EXPECT_EQ(differences, "") << input.what;
    }
}

// Whether the signal's default action ends a process: found by experiment in
// a child, so that a signal that the platform alone has counts too.
bool endsAProcess(int number)
{
    const pid_t child = fork();
    if (child == 0) {
        asAShellStartsACommand();
        static_cast<void>(raise(number));
        // cppcheck-suppress unreachableCode ; raise() returns where the signal is ignored
        _exit(EXIT_SUCCESS);
    }
    int status = 0;
    waitpid(child, &status, WUNTRACED);
    if (WIFSTOPPED(status)) {
        kill(child, SIGCONT);
        waitpid(child, &status, 0);
    }
    return WIFSIGNALED(status) && WTERMSIG(status) == number;
}

// qemu-user takes the hardware fault signals for its own emulation: one sent
// by kill now and then ends the process inside qemu (about 1 run in 30). The
// native build checks them; the same code handles them everywhere.
constexpr std::array kEmulatorsOwn{SIGILL, SIGTRAP, SIGBUS, SIGFPE, SIGSEGV};
constexpr bool kUnderAnEmulator = MEMBERSHIP_TESTS_UNDER_AN_EMULATOR;

// Every signal that ends a process ends the pause by it, the terminal put
// back first: those of this processor included, however its list runs.
TEST(ConsolePause, EverySignalThatEndsAProcessEndsItWithTheTerminalPutBack)
{
    sigset_t valid{};
    sigfillset(&valid);
    std::vector<int> ending;
    for (int number = 1; number <= static_cast<int>(sizeof(sigset_t) * CHAR_BIT) &&
                         sigismember(&valid, number) != -1;
         ++number) {
        if (sigismember(&valid, number) == 1 && number != SIGKILL && endsAProcess(number)) {
            ending.push_back(number);
        }
    }
    ASSERT_NE(std::find(ending.begin(), ending.end(), SIGTERM), ending.end())
        << "the experiment found no SIGTERM";
    for (const int number : ending) {
        if (kUnderAnEmulator &&
            std::find(kEmulatorsOwn.begin(), kEmulatorsOwn.end(), number) != kEmulatorsOwn.end()) {
            continue;
        }
        const Pty own;
        ASSERT_TRUE(own.opened());
        const auto settingsBefore = own.settings();
        const pid_t child = fork();
        if (child == 0) {
            asAShellStartsACommand();
            if (own.control() && dup2(own.terminal(), STDIN_FILENO) >= 0) {
                std::ostringstream output;
                pauseConsole(output);
            }
            _exit(EXIT_SUCCESS);
        }
        const bool paused = until([&] { return own.inKeyMode(); });
        kill(child, number);
        int status = 0;
        if (!until([&] { return waitpid(child, &status, WNOHANG) == child; })) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        ASSERT_TRUE(paused) << "signal " << number << ": never in key mode";
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number)
            << "signal " << number << ": ended with status " << status;
        ASSERT_EQ(own.settings(), settingsBefore) << "signal " << number << ": not put back";
    }
}

} // namespace
} // namespace membership
