"""A job-control leader of the tests' own, as a shell is one: it leads a session, holds a
pseudo-terminal as the session's controlling one, runs the program there as its foreground
job, and can move it to the background and give the terminal to a job of its own, with
settings of that job's and bytes typed for it.

`in_a_session_of_its_own` runs a test's body as such a leader, in a child process: a process
that leads a group, as one started by a shell does, cannot start a session.
"""
import array
import contextlib
import fcntl
import os
import resource
import select
import signal
import termios
import time
import traceback

WAIT_SECONDS = 10
# Signals the leader ignores, as a shell does: those of the keys typed for its own job, and
# those that taking the terminal from the background raises.
SHELL_IGNORES = (signal.SIGINT, signal.SIGQUIT, signal.SIGTSTP, signal.SIGTTIN, signal.SIGTTOU)


def process_state(pid):
    """Linux's letter for the state of a process: R, S, T (stopped), Z; None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as status:
            return status.read().rsplit(b")", 1)[1].split()[0].decode()
    except (FileNotFoundError, ProcessLookupError):  # gone before, or while, it was read
        return None


def wait_until(condition, what, seconds=WAIT_SECONDS):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"never {what}")
        time.sleep(0.002)


def bytes_queued(descriptor):
    """How many bytes a pipe holds, or a terminal has for its reader (in line mode, in whole
    lines alone)."""
    count = array.array("i", [0])
    fcntl.ioctl(descriptor, termios.FIONREAD, count)
    return count[0]


def settings_of(terminal):
    """A terminal's settings, each control character a number (termios gives those of line
    mode as bytes, VMIN and VTIME of key mode as numbers)."""
    settings = termios.tcgetattr(terminal)
    settings[6] = [ord(c) if isinstance(c, bytes) else c for c in settings[6]]
    return settings


def key_mode(settings):
    return not settings[3] & (termios.ICANON | termios.ECHO)


def in_a_session_of_its_own(body, *arguments):
    """Runs body(*arguments) in a child process that leads a new session; returns what it
    returned, a text (empty when all held), or the exception it raised, as a text."""
    reader, writer = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(reader)
        try:
            os.setsid()
            outcome = body(*arguments)
        except AssertionError as failure:  # what did not hold, as it says
            outcome = str(failure)
        except BaseException:  # everything else reaches the parent, where it came from
            outcome = traceback.format_exc(limit=-2)
        os.write(writer, outcome.encode())
        os._exit(0)
    os.close(writer)
    with open(reader, "rb") as report:
        outcome = report.read().decode()
    os.waitpid(pid, 0)
    return outcome


class Leader:
    """The session's leader; its terminal is `terminal`, and typing is writing to `keyboard`."""

    def __init__(self):
        for number in SHELL_IGNORES:
            signal.signal(number, signal.SIG_IGN)
        self.keyboard, self.terminal = os.openpty()
        fcntl.ioctl(self.terminal, termios.TIOCSCTTY, 0)
        os.set_blocking(self.keyboard, False)
        self.settings_before = self.settings()
        self.pid = self.status = None
        self.shown = b""

    def start(self, command, stdout=None, hooks=None, ignored=(), blocked=(), descriptors=3):
        """Starts the command as a job of its own in the foreground, with the signals
        `ignored` ignored and `blocked` blocked, and its descriptors from 3 up to
        `descriptors` in use; `stdout`, a path, takes the terminal's place as its standard
        output, and `hooks` (CallHooks) hold each of its calls on the terminal."""
        self.shown, self.status = b"", None
        pid = os.fork()
        if pid == 0:
            os.setpgid(0, 0)
            os.tcsetpgrp(self.terminal, os.getpid())
            for number in SHELL_IGNORES + (signal.SIGPIPE, signal.SIGXFSZ):
                signal.signal(number, signal.SIG_DFL)
            for number in ignored:
                signal.signal(number, signal.SIG_IGN)
            signal.pthread_sigmask(signal.SIG_SETMASK, blocked)
            for descriptor in (0, 1, 2):
                os.dup2(self.terminal, descriptor)
            if stdout:
                os.dup2(os.open(stdout, os.O_WRONLY), 1)
            kept = hooks.ends_for_the_job if hooks else ()
            soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
            resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, descriptors + 16), hard))
            for descriptor in set(range(3, descriptors)) - set(kept):
                os.dup2(0, descriptor)
            for descriptor in kept:
                os.set_inheritable(descriptor, True)
            environment = dict(os.environ, **(hooks.environment if hooks else {}))
            os.execvpe(command[0], command, environment)
        if hooks:
            hooks.job_started()
        with contextlib.suppress(OSError):  # the child may be first
            os.setpgid(pid, pid)
        self.pid = pid
        self.give_terminal()

    def type(self, keys):
        """Types the keys. Through TIOCSTI, the terminal takes each at once, so that the
        signal of Ctrl-Z or Ctrl-C is sent before this returns (written to the pseudo-
        terminal, the kernel reads them later); written, where that is refused."""
        try:
            for key in keys:
                fcntl.ioctl(self.terminal, termios.TIOCSTI, bytes([key]))
        except OSError:
            os.write(self.keyboard, keys)

    def read(self, seconds=0):
        """What the terminal shows, added to `shown`, waiting up to `seconds` for more."""
        if select.select([self.keyboard], [], [], seconds)[0]:
            with contextlib.suppress(BlockingIOError, OSError):
                self.shown += os.read(self.keyboard, 65536)
        return self.shown

    def wait_to_see(self, text):
        deadline = time.monotonic() + WAIT_SECONDS
        while text not in self.read(0.01):
            if time.monotonic() > deadline:
                raise AssertionError(f"never showed {text!r}; it showed last {self.shown[-160:]!r}")

    def settings(self):
        return settings_of(self.terminal)

    def set_flags(self, flags, clear=0):
        """Sets and clears local flags (c_lflag) of the terminal; returns its settings."""
        settings = termios.tcgetattr(self.terminal)
        settings[3] = settings[3] & ~clear | flags
        termios.tcsetattr(self.terminal, termios.TCSANOW, settings)
        return self.settings()

    def unread(self):
        return bytes_queued(self.terminal)

    def hold_terminal(self):
        os.tcsetpgrp(self.terminal, os.getpgrp())

    def give_terminal(self):
        with contextlib.suppress(OSError):  # a job that has ended has no group
            os.tcsetpgrp(self.terminal, self.pid)

    def signal(self, number):
        with contextlib.suppress(ProcessLookupError):
            os.kill(self.pid, number)

    def ended(self):
        """Whether the job has ended; `status` is then its exit status, or minus its signal."""
        if self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.status = os.waitstatus_to_exitcode(status)
        return self.status is not None

    def end(self):
        """Ends the job, if it has not ended, and leaves the terminal as it was first."""
        if not self.ended():
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        self.hold_terminal()
        termios.tcflow(self.terminal, termios.TCOON)  # output let go, if held by Ctrl-S
        termios.tcsetattr(self.terminal, termios.TCSANOW, self.settings_before)
        termios.tcflush(self.terminal, termios.TCIFLUSH)


class CallHooks:
    """The calls on the terminal of the program with hooks (call_hooks.cpp), each held until
    the test lets it go."""

    def __init__(self):
        self.events, events_writer = os.pipe()
        go_reader, self.go_writer = os.pipe()
        self.ends_for_the_job = (events_writer, go_reader)
        self.environment = {"MEMBERSHIP_CALL_HOOKS": f"{events_writer},{go_reader}"}
        self.lines, self.held = b"", False

    def job_started(self):
        for end in self.ends_for_the_job:
            os.close(end)

    def until(self, name, leader, count=1):
        """Lets the call held and each call after it go until the count-th `name` (None: any)
        is due, and holds that one; False if the job stops or ends first."""
        self.go()
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            while b"\n" not in self.lines:
                if select.select([self.events], [], [], 0.01)[0]:
                    self.lines += os.read(self.events, 4096)
                elif process_state(leader.pid) in ("T", "Z", None):
                    return False
                elif time.monotonic() > deadline:
                    raise AssertionError(f"no call on the terminal, {name} awaited")
            due, self.lines = self.lines.split(b"\n", 1)
            count -= name in (due.decode(), None)
            self.held = True
            if count == 0:
                return True
            self.go()

    def go(self):
        """Lets the call held go."""
        if self.held:
            os.write(self.go_writer, b"g")
            self.held = False

    def free(self):
        """Lets the call held go, and every later one unheld."""
        os.write(self.go_writer, b"f")
