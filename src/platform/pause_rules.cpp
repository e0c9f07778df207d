#include "pause_rules.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>

namespace membership::pause {
namespace {

// Those that POSIX (and macOS's SIGINFO) ignore by default, or that stop or
// continue, and those never caught; every other ends a process, a
// processor's own too (MIPS's SIGEMT).
constexpr std::array kNotEnding{
    SIGKILL, SIGSTOP, SIGCHLD, SIGURG, SIGWINCH, SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT,
#ifdef SIGINFO
    SIGINFO,
#endif
};

} // namespace

Step Rules::next(Answer answer, int noted, Facts facts) noexcept
{
    noted_ = noted != 0 ? noted : noted_;
    prompted_ = prompted_ || last_ == Step::writePrompt;
    keyCame_ = keyCame_ || answer == Answer::key || answer == Answer::unreadable;
    last_ = decide(answer, facts);
    return last_;
}

Step Rules::decide(Answer answer, Facts facts) noexcept
{
    if (last_ == Step::start) {
        return Step::takeTerminal;
    }
    // The key first: a signal that came with it waits for the put-back.
    if (last_ == Step::readKey && answer == Answer::key) {
        return Step::dropKeyRest;
    }
    if (last_ == Step::dropKeyRest || answer == Answer::unreadable) {
        return Step::putBack;
    }
    // Lost to another group, the line is that job's screen's; hung up, it is
    // ended all the same, by a write that fails, and says so.
    if (answer == Answer::lost || answer == Answer::refused) {
        return answer == Answer::refused && prompted_ ? Step::endTheLine : Step::end;
    }
    const Step onward = keyCame_ ? Step::putBack : Step::takeTerminal; // after a stop
    if (noted_ != 0) {
        stop_ = noted_ == SIGCONT ? 0 : noted_;
        noted_ = 0;
        // The kernel's stop for a call from the background, which the first
        // process of a PID namespace cannot obey: its job's continue comes.
        const bool inTheBackground = answer == Answer::interrupted && stop_ == SIGTTOU;
        if (stop_ == 0) {
            return onward;
        }
        return facts.neverStopped && inTheBackground ? Step::waitForContinue : Step::obeyStop;
    }
    const bool made = answer == Answer::made;
    switch (last_) {
    case Step::takeTerminal:
        if (!made) {
            return Step::takeTerminal;
        }
        return facts.outputGood ? Step::waitForOutput : Step::waitForKey; // no prompt to lose
    case Step::waitForOutput:
        return made ? Step::checkForeground : Step::waitForOutput;
    case Step::checkForeground:
        return made ? Step::writePrompt : Step::takeTerminal;
    case Step::writePrompt:
        return Step::waitForKey;
    case Step::waitForKey:
        return made ? Step::readKey : Step::waitForKey;
    case Step::putBack:
        return !made ? Step::putBack : prompted_ ? Step::endTheLine : Step::end;
    default: // no key read (what changed is taken again); stopped, or continued
        return onward;
    }
}

Answer answerOfCall(long result, int error, bool terminalAnswers) noexcept
{
    if (result >= 0) {
        return Answer::made;
    }
    if (error == EINTR) {
        return Answer::interrupted;
    }
    return error == EIO && terminalAnswers ? Answer::lost : Answer::refused;
}

Answer answerOfRead(long got, int error) noexcept
{
    const bool passing = error == EINTR || error == EAGAIN || error == EWOULDBLOCK || error == EIO;
    return got > 0 ? Answer::key : got == 0 || passing ? Answer::nothing : Answer::unreadable;
}

Action actionFor(int number, Inherited inherited) noexcept
{
    // Taken even where ignored: the kernel stops a background job by SIGTTOU,
    // and a continue comes whatever its action.
    if (number == SIGTTOU || number == SIGCONT) {
        return inherited == Inherited::handled ? Action::leave : Action::note;
    }
    if (inherited != Inherited::byDefault) {
        return Action::leave;
    }
    if (number == SIGTSTP || number == SIGTTIN) {
        return Action::note;
    }
    const bool ending = std::find(kNotEnding.begin(), kNotEnding.end(), number) == kNotEnding.end();
    return ending ? Action::endByDefault : Action::leave;
}

} // namespace membership::pause
