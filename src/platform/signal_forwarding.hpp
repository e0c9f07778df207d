#pragma once

#include <array>
#include <csignal>
#include <cstddef>

namespace membership {

// What the signals that arrived since the last look ask of the pause.
struct ArrivedSignals
{
    int ending = 0;         // the first that would end the process, or 0
    bool stopping = false;  // Ctrl-Z (SIGTSTP)
    bool continued = false; // SIGCONT: stopped, by whatever means, and running again
};

// While it lives, each signal that would end or stop the process, and
// SIGCONT, becomes a byte in a pipe (the self-pipe idiom) instead of taking
// its action, so that the terminal can be put back first. A signal that was
// being ignored stays ignored.
class SignalForwarding
{
public:
    SignalForwarding() noexcept;
    SignalForwarding(const SignalForwarding&) = delete;
    SignalForwarding& operator=(const SignalForwarding&) = delete;
    SignalForwarding(SignalForwarding&&) = delete;
    SignalForwarding& operator=(SignalForwarding&&) = delete;
    ~SignalForwarding();

    [[nodiscard]] bool active() const noexcept { return pipe_[0] >= 0; }
    // Readable once a forwarded signal has arrived.
    [[nodiscard]] int readEnd() const noexcept { return pipe_[0]; }

    [[nodiscard]] ArrivedSignals takeArrived() const noexcept;

    // Stops the process as Ctrl-Z would have; returns once it is continued,
    // or at once where no shell could continue it (an orphaned group). The
    // SIGCONT that continued it is taken; an ending signal is kept.
    [[nodiscard]] ArrivedSignals suspendProcess() const noexcept;

    // Puts every action back as it was; returns what arrived before that.
    [[nodiscard]] ArrivedSignals restoreActions() noexcept;

private:
    enum class Role : unsigned char { ends, stops, continues };

    struct Forwarded
    {
        int number;
        Role role;
        struct sigaction previous; // restored when forwarding ends
    };

    void forward(int number, Role role) noexcept;

    // The signals forwarded (named ending ones, real-time ones, SIGTSTP and
    // SIGCONT), each with its action before; unused entries have number 0.
    static constexpr std::size_t kCapacity = 64;
    std::array<Forwarded, kCapacity> table_{};
    std::size_t count_ = 0;
    bool restored_ = false;
    std::array<int, 2> pipe_{-1, -1};
};

// Lets the signal take its default action, so that the process ends by it.
void endProcessBy(int number) noexcept;

} // namespace membership
