// The signals of the program's own processor, for the terminal test: run as
// the program is (a cross build's under its emulator), its numbers are that
// processor's, which the host's are not (MIPS has SIGEMT, 7; SIGUSR1 is 16).
// Usage: signals              each signal whose default action ends a
//                             process, found by experiment, one a line,
//                             "fault" after a hardware fault's
//        signals PID NUMBER   sends signal NUMBER to process PID

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using SignalAction = struct sigaction; // named as the function is

bool endsAProcess(int number)
{
    const pid_t child = fork();
    if (child == 0) {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        SignalAction byDefault{};
        byDefault.sa_handler = SIG_DFL;
        sigaction(number, &byDefault, nullptr);
        sigset_t none{};
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        static_cast<void>(raise(number));
        _exit(EXIT_SUCCESS); // ignored, stopped and continued, or not a signal here
    }
    int status = 0;
    waitpid(child, &status, WUNTRACED);
    if (WIFSTOPPED(status)) {
        kill(child, SIGCONT);
        waitpid(child, &status, 0);
    }
    return WIFSIGNALED(status) && WTERMSIG(status) == number;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3) {
        const auto number = [](const char* text) {
            return static_cast<int>(std::strtol(text, nullptr, 10));
        };
        return kill(number(argv[1]), number(argv[2])) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
    }
    sigset_t valid{};
    sigfillset(&valid);
    for (int number = 1; number <= static_cast<int>(sizeof(sigset_t) * CHAR_BIT); ++number) {
        if (sigismember(&valid, number) == 1 && number != SIGKILL && endsAProcess(number)) {
            const bool fault = number == SIGILL || number == SIGTRAP || number == SIGBUS ||
                               number == SIGFPE || number == SIGSEGV;
            std::printf("%d%s\n", number, fault ? " fault" : "");
        }
    }
    return EXIT_SUCCESS;
}
