#pragma once

// The POSIX pause's rules, as decisions alone: console_pause_posix.cpp makes
// each step's calls, and says what they answered.

namespace membership::pause {

// What a step's call on the terminal answered.
enum class Answer {
    made,        // in the foreground (a wait: ready)
    interrupted, // a signal came first: from the background, the kernel's stop
    lost,        // EIO, the terminal still there: another group's for good
    refused,     // for good otherwise: hung up, or a call it cannot make
    key,         // a read: bytes
    nothing,     // a read: none, or EINTR, EAGAIN or EIO (from the background)
    unreadable,  // a read that fails otherwise (opened for writing alone)
};

enum class Step {
    start,
    takeTerminal,    // key mode, what was typed dropped (first its settings read)
    waitForOutput,   // until standard output takes the prompt
    checkForeground, // a call that goes through only in the foreground
    writePrompt,     // at the start of the line, where one was written before
    waitForKey,
    readKey,
    dropKeyRest,     // what comes within the key's window, read and dropped
    obeyStop,        // the terminal put back, then stopped by stop()
    waitForContinue, // where no stop stops it: until a continue
    putBack,
    end,        // nothing more written
    endTheLine, // the prompt's line ended
};

struct Facts
{
    bool neverStopped; // the first process of a PID namespace
    bool outputGood;   // standard output not lost
};

class Rules
{
public:
    // The step after the last one, from what it answered and the signal noted
    // since it began (0: none); a later signal replaces one not yet obeyed.
    Step next(Answer answer, int noted, Facts facts) noexcept;
    [[nodiscard]] bool prompted() const noexcept { return prompted_; }
    [[nodiscard]] int stop() const noexcept { return stop_; }

private:
    Step decide(Answer answer, Facts facts) noexcept;

    Step last_ = Step::start;
    int noted_ = 0;
    int stop_ = 0;
    bool prompted_ = false;
    bool keyCame_ = false; // or the input cannot be read: the pause is ending
};

// A call's result and errno, and whether the terminal still answers.
Answer answerOfCall(long result, int error, bool terminalAnswers) noexcept;
Answer answerOfRead(long got, int error) noexcept;

// Each signal's action during the pause, from the one it inherited.
enum class Inherited { byDefault, ignored, handled };
enum class Action { leave, endByDefault, note };
Action actionFor(int number, Inherited inherited) noexcept;

} // namespace membership::pause
