"""A job-control leader of the tests' own, as a shell is one: it leads a session, holds a
pseudo-terminal as the session's controlling one, runs the program there as its foreground
job, and can move it to the background without stopping it (as no shell does, nor pexpect,
which the tests do without) and give the terminal to a job of its own, with settings of that
job's and bytes typed for it. `play` plays events on the program, for the terminal test's
scenes and the torture test.

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

from expected_output import PAUSE_PROMPT, RESULT_AND_PAUSE_AT_A_TERMINAL, WORKED_EXAMPLE_TYPED

WAIT_SECONDS = 10
# Signals the leader ignores, as a shell does: those of the keys typed for its own job, and
# those that taking the terminal from the background raises.
SHELL_IGNORES = (signal.SIGINT, signal.SIGQUIT, signal.SIGTSTP, signal.SIGTTIN, signal.SIGTTOU)
TYPED = {"key": b"k", "Ctrl-Z": b"\x1a", "Ctrl-C": b"\x03", "Ctrl-\\": b"\x1c", "abc": b"abc"}
TYPED.update({"Ctrl-S": b"\x13", "Ctrl-Q": b"\x11"})  # output held, and let go
FOR_THE_OTHER_JOB = b"abc"


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


def key_mode(settings):
    return not settings[3] & (termios.ICANON | termios.ECHO)


def in_a_session_of_its_own(body, *arguments):
    """Runs body(*arguments) in a child process that leads a new session; returns what it
    returned, a text (empty when all held), or the exception it raised, as a text. A child
    that ends without a report (killed, say) is a failure that says how it ended."""
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
        os.write(writer, b"reported:" + outcome.encode())
        os._exit(0)
    os.close(writer)
    with open(reader, "rb") as report:
        outcome = report.read().decode()
    status = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
    if not outcome.startswith("reported:") or status != 0:
        how = f"by signal {-status}" if status < 0 else f"with status {status}"
        return f"the test's leader ended {how} before it reported ({outcome!r})"
    return outcome.removeprefix("reported:")


class Leader:
    """The session's leader; its terminal is `terminal`, and typing is writing to `keyboard`."""

    def __init__(self):
        for number in SHELL_IGNORES:
            signal.signal(number, signal.SIG_IGN)
        self.keyboard, self.terminal = os.openpty()
        fcntl.ioctl(self.terminal, termios.TIOCSCTTY, 0)
        os.set_blocking(self.keyboard, False)
        self.settings_before = self.settings()
        self.pid = self.status = self.other_group = None
        self.shown = b""

    def start(self, command, hooks=None, ignored=(), blocked=(), descriptors=3, **options):
        """Starts the command as a job in the foreground, of its own group, or of the leader's
        (`orphaned`: no shell could continue it), with the signals `ignored` ignored and
        `blocked` blocked, its descriptors from 3 up to `descriptors` in use (or with
        `no_descriptor_to_spare`, none to open past 0, 1 and 2), `hooks`
        (CallHooks) holding each of its calls on the terminal, and `stdout` (a path, then
        limited to `file_size` bytes) in the terminal's place."""
        self.shown, self.status = b"", None
        pid = os.fork()
        if pid == 0:
            try:
                self.become_the_job(command, hooks, ignored, blocked, descriptors, options)
            finally:  # what could not be done shows on the terminal, and the job ends
                traceback.print_exc()
                os._exit(127)
        if hooks:
            hooks.job_started()
        self.pid = pid
        if not options.get("orphaned"):
            with contextlib.suppress(OSError):  # the child may be first
                os.setpgid(pid, pid)
            self.give_terminal()

    def become_the_job(self, command, hooks, ignored, blocked, descriptors, options):
        """In the job's process: all that start() says, then the command."""
        if not options.get("orphaned"):
            os.setpgid(0, 0)
            os.tcsetpgrp(self.terminal, os.getpid())
        for number in SHELL_IGNORES + (signal.SIGPIPE, signal.SIGXFSZ):
            signal.signal(number, signal.SIG_DFL)
        for number in ignored:
            signal.signal(number, signal.SIG_IGN)
        signal.pthread_sigmask(signal.SIG_SETMASK, blocked)
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        for descriptor in (0, 1, 2):
            os.dup2(self.terminal, descriptor)
        if "stdout" in options:
            os.dup2(os.open(options["stdout"], os.O_WRONLY), 1)
            limit = options.get("file_size", resource.RLIM_INFINITY)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
        kept = hooks.ends_for_the_job if hooks else ()
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        soft = 3 if options.get("no_descriptor_to_spare") else max(soft, descriptors + 16)
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
        for descriptor in set(range(3, descriptors)) - set(kept):
            os.dup2(0, descriptor)
        for descriptor in kept:
            os.set_inheritable(descriptor, True)
        os.execvpe(command[0], command, dict(os.environ, **(hooks.environment if hooks else {})))

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
        if self.keyboard is not None and select.select([self.keyboard], [], [], seconds)[0]:
            with contextlib.suppress(BlockingIOError, OSError):
                self.shown += os.read(self.keyboard, 65536)
        return self.shown

    def wait_to_see(self, text, count=1):
        deadline = time.monotonic() + WAIT_SECONDS
        while self.read(0.01).count(text) < count:
            if time.monotonic() > deadline:
                raise AssertionError(f"never showed {text!r}; it showed last {self.shown[-160:]!r}")

    def settings(self):
        """The terminal's settings, each control character a number (termios gives those of
        line mode as bytes, VMIN and VTIME of key mode as numbers)."""
        settings = termios.tcgetattr(self.terminal)
        settings[6] = [ord(c) if isinstance(c, bytes) else c for c in settings[6]]
        return settings

    def set_flags(self, flags, clear=0):
        """Sets and clears local flags (c_lflag) of the terminal; returns its settings."""
        settings = termios.tcgetattr(self.terminal)
        settings[3] = settings[3] & ~clear | flags
        termios.tcsetattr(self.terminal, termios.TCSANOW, settings)
        return self.settings()

    def put_back(self):
        """The terminal's settings as they were first, and nothing typed in it."""
        termios.tcsetattr(self.terminal, termios.TCSANOW, self.settings_before)
        termios.tcflush(self.terminal, termios.TCIFLUSH)

    def unread(self):
        """How many typed bytes no one has read, a line's end or not: in line mode the
        terminal counts whole lines alone, so it is asked in key mode for a moment."""
        settings = termios.tcgetattr(self.terminal)
        if not settings[3] & termios.ICANON:
            return bytes_queued(self.terminal)
        uncooked = settings[:3] + [settings[3] & ~termios.ICANON] + settings[4:]
        try:
            termios.tcsetattr(self.terminal, termios.TCSANOW, uncooked)
            return bytes_queued(self.terminal)
        finally:
            termios.tcsetattr(self.terminal, termios.TCSANOW, settings)

    def hold_terminal(self, for_another_group=False):
        """Takes the terminal for the leader's group, or for a group of its own (a job of an
        orphaned group shares the leader's)."""
        group = os.getpgrp()
        if for_another_group:
            group = self.other_group = os.fork()
            if group == 0:
                os.setpgid(0, 0)
                signal.pause()
            with contextlib.suppress(OSError):  # the child may be first
                os.setpgid(group, group)
        os.tcsetpgrp(self.terminal, group)

    def hang_up(self):
        """Closes the terminal's master, as a terminal emulator does when its window closes
        (the leader, the session's, ignores the SIGHUP that follows; a shell would pass it
        on to its jobs)."""
        signal.signal(signal.SIGHUP, signal.SIG_IGN)
        os.close(self.keyboard)
        self.keyboard = None

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
        for pid in (self.pid, self.other_group):
            if pid and not (pid == self.pid and self.ended()):
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
        self.other_group = None
        if self.keyboard is None:
            return  # hung up: no terminal left to put back
        self.hold_terminal()
        termios.tcflow(self.terminal, termios.TCOON)  # output let go, if held by Ctrl-S
        self.put_back()


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
        self.go(leader)
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
            self.go(leader)

    def go(self, leader):
        """Lets the call held go, once it has taken the byte: else a handler's call, come
        meanwhile, would take it and go unheld."""
        if self.held:
            os.write(self.go_writer, b"g")
            self.held = False
            wait_until(lambda: self.taken(leader), "the call let go")

    def taken(self, leader):
        return not bytes_queued(self.go_writer) or process_state(leader.pid) in ("T", "Z", None)

    def free(self):
        """Lets the call held go, and every later one unheld."""
        os.write(self.go_writer, b"f")


def pause_for(seconds):
    """Spins for the shortest delays, where a sleep would overshoot them."""
    if seconds >= 1e-3:
        time.sleep(seconds)
    else:
        until = time.perf_counter() + seconds
        while time.perf_counter() < until:
            pass


def play(leader, events, hooks=None):
    """Plays (event, delay) pairs on the program at its pause; returns what did not hold, or
    ''. The events: a key typed (TYPED's), a signal sent (SIGTSTP, say), "bg" (the terminal
    taken from it without a stop; "bg, continued" with a continue, as bash's bg), "other job"
    (the terminal set and typed in by another job, whose settings and bytes must stay), "fg"
    (back, with a continue), "settled" (not running), "stopped" (the terminal put back, where
    it holds it), "shell's settings" (line mode again, as a shell makes it while its job is
    stopped), "prompted N" (N prompts shown, in key mode), "unprompted", "at CALL [N]" (until
    the N-th CALL is due, or "at any" call; "...or a stop" where it may stop first), "free"
    (every call let go), "waiting for a key", and last "ends by SIGNAL|0" or "KEY until
    ended" (typed whenever key mode shows, as a continue may take the terminal again)."""
    other, holds = None, True
    for name, delay in events:  # all of them, the program ended or not
        words = name.split()
        if name in TYPED:
            leader.type(TYPED[name])
        elif name.startswith("SIG"):
            leader.signal(getattr(signal, name))
        elif name.startswith("bg"):
            leader.hold_terminal(for_another_group=name.endswith("another group"))
            holds = False
            if name.endswith("continued"):
                leader.signal(signal.SIGCONT)
        elif name == "other job":
            other = leader.settings()
            other[0] &= ~termios.ICRNL
            other[3] &= ~(termios.ICANON | termios.ECHO)
            other[6][termios.VMIN] = 3
            termios.tcsetattr(leader.terminal, termios.TCSANOW, other)
            termios.tcflush(leader.terminal, termios.TCIFLUSH)
            leader.type(FOR_THE_OTHER_JOB)
            wait_until(lambda: leader.unread() == len(FOR_THE_OTHER_JOB), "typed")
        elif name == "fg" or name.startswith("ends by"):
            if other and leader.settings() != other:
                return "the other job's settings were changed"
            if other and leader.unread() != len(FOR_THE_OTHER_JOB):
                return "a byte typed for the other job was read"
            if name != "fg":
                return ended_by(leader, 0 if words[2] == "0" else -getattr(signal, words[2]), other)
            if other:
                leader.put_back()
            other, holds = None, True
            leader.give_terminal()
            leader.signal(signal.SIGCONT)
        elif name == "hung up":  # its master closed: a hang-up, and never a key
            leader.hang_up()
            wait_until(leader.ended, "ended once hung up")
            return "" if leader.status == 1 else f"hung up, ended with {leader.status}, not 1"
        elif name == "settled":
            wait_until(lambda: process_state(leader.pid) != "R", "settled")
        elif name == "stopped":
            wait_until(lambda: process_state(leader.pid) == "T", "stopped")
            if holds and leader.settings() != leader.settings_before:
                return "stopped, the terminal not put back"
        elif name == "shell's settings":
            termios.tcsetattr(leader.terminal, termios.TCSANOW, leader.settings_before)
        elif words[0] == "prompted":
            leader.wait_to_see(PAUSE_PROMPT, int(words[1]))
            wait_until(lambda: key_mode(leader.settings()), "in key mode")
            if leader.shown.count(PAUSE_PROMPT) - leader.shown.count(b"\r" + PAUSE_PROMPT) > 1:
                return f"a prompt written anew on the line of another: {leader.shown[-80:]!r}"
        elif name == "unprompted" and PAUSE_PROMPT in leader.read():
            return "prompted from the background"
        elif words[0] == "at":
            count = int(words[2]) if words[2:3] and words[2].isdigit() else 1
            due = hooks.until(None if words[1] == "any" else words[1], leader, count)
            if not due and not name.endswith("or a stop"):
                return f"stopped or ended before {words[1]} was due"
        elif name == "free":
            hooks.free()
        elif name == "waiting for a key":
            hooks.until("pselect", leader, count=2)
            hooks.go(leader)
            leader.wait_to_see(PAUSE_PROMPT)  # a signal key drops what was not shown yet
        elif name == "still waiting":
            time.sleep(0.5)
            if leader.ended() or leader.unread():
                return f"ended ({leader.status}), or {leader.unread()} typed bytes left unread"
        elif name == "held key":  # repeating every 20 ms, as a keyboard repeats it
            first_at = time.monotonic()
            while not leader.ended() and time.monotonic() - first_at < WAIT_SECONDS:
                leader.type(b"k")
                time.sleep(0.02)
            took = time.monotonic() - first_at
            if took > 0.5 or leader.status != 0:
                return f"a held key ended it with {leader.status} after {took:.1f} s"
        elif name.endswith("until ended"):
            return end_with_a_key(leader, TYPED[words[0]])
        leader.read()
        pause_for(delay)
    return "" if leader.ended() else "still running after the last event"


def ended_by(leader, status, other):
    """Waits for the program to end; what did not hold of it, or ''."""
    wait_until(leader.ended, f"ended, by {status}")
    due = other or leader.settings_before
    if leader.status != status or leader.settings() != due:
        return f"ended with {leader.status}, not {status}; the settings {leader.settings()}"
    if not other and leader.unread():
        return f"{leader.unread()} bytes typed at the pause left for the shell"
    return ""


def end_with_a_key(leader, key):
    """Types the key whenever the terminal shows key mode (a continue that came late takes
    the terminal again, dropping what was typed), until the program ends."""
    deadline = time.monotonic() + WAIT_SECONDS
    while not leader.ended():
        if time.monotonic() > deadline:
            state, mode = process_state(leader.pid), key_mode(leader.settings())
            if state == "T":
                return "left stopped after the last continue"
            return f"never ended: state {state}, {'key' if mode else 'line'} mode"
        if key_mode(leader.settings()):
            leader.type(key)
        leader.read(0.05)
    if leader.status not in (0, -signal.SIGINT if key == TYPED["Ctrl-C"] else 0):
        return f"ended with {leader.status}"
    if leader.settings() != leader.settings_before:
        return "the terminal's settings were not put back"
    return ""


def scene(command, events, hooks=None, tostop=False, typed=b"", waits=True, **world):
    """Starts the program as a job with the world's options (Leader.start's), answers its
    dialogue (`typed` after it), waits for its pause (but where hooks hold it, or it `waits`
    not), and plays the events; returns what did not hold, or ''."""
    leader = Leader()
    if tostop:
        leader.settings_before = leader.set_flags(termios.TOSTOP)
    leader.start(command, hooks=hooks, **world)
    try:
        leader.type(WORKED_EXAMPLE_TYPED + typed)
        if waits and not hooks:
            leader.wait_to_see(RESULT_AND_PAUSE_AT_A_TERMINAL)
            wait_until(lambda: key_mode(leader.settings()), "in key mode at the pause")
        return play(leader, [(event, 0) for event in events], hooks)
    except AssertionError as failure:  # a wait that ran out: what the screen showed last
        shown = (
            "" if "showed last" in str(failure) else f"; it showed last {leader.read()[-120:]!r}"
        )
        return f"{failure}{shown}"
    finally:
        leader.end()
