#include "platform/signal_forwarding.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <vector>

namespace membership {
namespace {

using SignalHandler = void (*)(int);
using SignalAction = struct sigaction;

SignalHandler handlerOf(int number)
{
    SignalAction action{};
    sigaction(number, nullptr, &action);
    return action.sa_handler;
}

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

struct ArrivalCase
{
    int number;
    ArrivedSignals expected;
};

// A signal raised while forwarding becomes what it asks of the pause, once,
// instead of taking its action (which would end or stop this test).
TEST(SignalForwarding, EachSignalArrivesAsWhatItAsksOfThePause)
{
    const std::vector<ArrivalCase> cases{
        {SIGTERM, {SIGTERM, false, false}},   {SIGHUP, {SIGHUP, false, false}},
        {SIGPIPE, {SIGPIPE, false, false}},   {SIGXFSZ, {SIGXFSZ, false, false}},
        {SIGUSR1, {SIGUSR1, false, false}},   {SIGALRM, {SIGALRM, false, false}},
#ifdef SIGRTMIN
        {SIGRTMIN, {SIGRTMIN, false, false}},
#endif
        {SIGTSTP, {0, true, false}},          {SIGCONT, {0, false, true}},
    };
    for (const ArrivalCase& signal : cases) {
        const SignalForwarding forwarding;
        ASSERT_TRUE(forwarding.active());
        ASSERT_EQ(raise(signal.number), 0);
        const ArrivedSignals arrived = forwarding.takeArrived();
        EXPECT_EQ(arrived.ending, signal.expected.ending) << "signal " << signal.number;
        EXPECT_EQ(arrived.stopping, signal.expected.stopping) << "signal " << signal.number;
        EXPECT_EQ(arrived.continued, signal.expected.continued) << "signal " << signal.number;
        EXPECT_EQ(forwarding.takeArrived().ending, 0) << "signal " << signal.number << " twice";
    }
}

// An ignored signal stays ignored while forwarding; afterwards every action
// is as it was before, whether ignored or the default.
TEST(SignalForwarding, LeavesEveryActionAsItFoundIt)
{
    const std::vector<int> numbers{SIGHUP, SIGINT, SIGTERM, SIGPIPE, SIGUSR1, SIGUSR2, SIGCONT};
    std::vector<SignalHandler> original(numbers.size());
    std::transform(numbers.begin(), numbers.end(), original.begin(), [](int number) {
        return exchangeHandler(number, number == SIGUSR2 ? SIG_IGN : SIG_DFL);
    });
    {
        const SignalForwarding forwarding;
        EXPECT_NE(handlerOf(SIGUSR1), SIG_DFL) << "SIGUSR1 not forwarded";
        EXPECT_EQ(handlerOf(SIGUSR2), SIG_IGN) << "an ignored signal taken over";
        ASSERT_EQ(raise(SIGUSR2), 0);
        EXPECT_EQ(forwarding.takeArrived().ending, 0);
    }
    for (std::size_t index = 0; index < numbers.size(); ++index) {
        const int number = numbers.at(index);
        EXPECT_EQ(exchangeHandler(number, original.at(index)),
                  number == SIGUSR2 ? SIG_IGN : SIG_DFL)
            << "signal " << number << " not put back";
    }
}

} // namespace
} // namespace membership
