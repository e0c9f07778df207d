"""A job-control leader of the tests' own, as a shell is one: it leads a session whose
controlling terminal is a pseudo-terminal, runs the program there as its foreground job, and
can move it to the background (without a stop, as no shell does) and give the terminal to a
job of its own. `scene` plays events on the program at its pause, checking at every step what
must hold; `in_sessions_of_their_own` runs such leaders, each in a child process (a shell's
child leads a group, and cannot start a session).
"""
import array
import contextlib
import ctypes
import fcntl
import os
import pathlib
import re
import resource
import select
import signal
import tempfile
import termios
import time
import traceback

from expected_output import (
    PAUSE_PROMPT,
    WORKED_EXAMPLE_INPUT,
    WORKED_EXAMPLE_RESULT,
    WORKED_EXAMPLE_TYPED,
)

WAIT_SECONDS = 10
# How long a scene may take in all (a torture run's sixty events, each waiting up to the above).
SCENE_SECONDS = 300
# How long a program that waits (not running) must show nothing new before a text it has not
# shown is taken as never coming: its last output reaches the master through a kernel worker.
QUIET_SECONDS = 0.2
# Signals the leader ignores, as a shell does: those of the keys typed for its own job, and
# those that taking the terminal from the background raises.
SHELL_IGNORES = (signal.SIGINT, signal.SIGQUIT, signal.SIGTSTP, signal.SIGTTIN, signal.SIGTTOU)
TYPED = {"key": b"k", "Ctrl-Z": b"\x1a", "Ctrl-C": b"\x03", "Ctrl-\\": b"\x1c", "abc": b"abc"}
TYPED.update({"Ctrl-S": b"\x13", "Ctrl-Q": b"\x11", "Enter": b"\r"})  # output held, let go
FOR_THE_OTHER_JOB = b"abc"
FLAGS = ("c_iflag", "c_oflag", "c_cflag", "c_lflag", "input speed", "output speed")
# The hooked program's exit statuses where the pause broke a rule of call_hooks.cpp's.
BROKEN_RULES = {125: "the pause left a signal's action or the mask changed",
                124: "the pause signalled another process than itself"}  # fmt: skip


def die_with_parent():
    """In a child: SIGKILL when its parent ends, however (no test leaves a process behind)."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)


def process_state(pid):
    """Linux's letter for the state of a process: R, S, T (stopped), Z; None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as status:
            return status.read().rsplit(b")", 1)[1].split()[0].decode()
    except (FileNotFoundError, ProcessLookupError):  # gone before, or while, it was read
        return None


def wait_until(condition, what, seconds=WAIT_SECONDS, came=None):  # came: what came instead
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"never {what}" + (f"; came {came()!r}" if came else ""))
        time.sleep(0.002)


def bytes_queued(descriptor):
    """How many bytes a pipe holds, or a terminal has for its reader (in line mode, whole lines)."""
    count = array.array("i", [0])
    fcntl.ioctl(descriptor, termios.FIONREAD, count)
    return count[0]


def key_mode(settings):
    return not settings[3] & (termios.ICANON | termios.ECHO)


def in_sessions_of_their_own(bodies, at_once=1):
    """Runs each body in a child leading a new session, `at_once` at a time: what each returned
    or raised, as a text ('' when all held), or how it ended or hung without its report."""
    outcomes, running, waiting = [""] * len(bodies), {}, list(enumerate(bodies))
    while waiting or running:
        while waiting and len(running) < at_once:
            index, body = waiting.pop(0)
            reader, writer = os.pipe()
            pid = os.fork()
            if pid == 0:
                os.close(reader)
                try:
                    die_with_parent()
                    os.setsid()
                    outcome = body()
                except AssertionError as failure:  # what did not hold, as it says
                    outcome = str(failure)
                except BaseException:  # all else reaches the parent, where it came from
                    outcome = traceback.format_exc(limit=-2)
                os.write(writer, b"reported:" + outcome.encode())
                os._exit(0)
            os.close(writer)
            running[reader] = (index, pid, b"", time.monotonic() + SCENE_SECONDS)
        ready = select.select(list(running), [], [], 1)[0]
        for reader, (index, pid, report, deadline) in list(running.items()):
            if reader in ready and (more := os.read(reader, 65536)):
                running[reader] = (index, pid, report + more, deadline)
            elif reader in ready or time.monotonic() > deadline:
                del running[reader]
                os.close(reader)
                if reader not in ready:  # late: killed, its job with it (die_with_parent)
                    os.kill(pid, signal.SIGKILL)
                status = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
                outcome = report.decode()
                if reader not in ready or not outcome.startswith("reported:") or status != 0:
                    how = f"by signal {-status}" if status < 0 else f"with status {status}"
                    how = f"ended {how}" if reader in ready else f"hung {SCENE_SECONDS} s"
                    outcome = f"the test's leader {how} before it reported ({outcome!r})"
                outcomes[index] = outcome.removeprefix("reported:")
    return outcomes


class Leader:
    """The session's leader: its terminal is `terminal`, typed at `keyboard`."""

    def __init__(self):
        for number in SHELL_IGNORES:
            signal.signal(number, signal.SIG_IGN)
        self.keyboard, self.terminal = os.openpty()
        fcntl.ioctl(self.terminal, termios.TIOCSCTTY, 0)
        os.set_blocking(self.keyboard, False)
        self.settings_before = self.settings()
        self.pid = self.status = self.other_group = self.output = self.namespaced = None
        self.shown, self.held_open = b"", []

    def start(self, command, hooks=None, stdin=None, **world):
        """Starts the command as a job in the foreground, in a world (become_the_job's), with
        standard input the terminal, or `stdin`: "not a terminal", "another terminal" (the
        entries typed there), or "its terminal's master" (the entries written to the terminal:
        its standard output had best be a file); in a PID namespace of its own (`pid_namespace`,
        as sandboxes start programs), its program unshare's child."""
        self.shown, self.status = b"", None
        while self.pid and self.read(0.02):  # a job before: what it left to show
            self.shown = b""
        self.output = world.get("stdout")
        self.output = tempfile.NamedTemporaryFile() if self.output is True else self.output
        self.namespaced = world.get("pid_namespace")
        if self.namespaced:
            command = "unshare --user --map-root-user --pid --fork --kill-child".split() + command
        if stdin == "not a terminal":
            stdin = os.open(os.devnull, os.O_RDONLY)
            self.held_open.append(stdin)
        elif stdin == "another terminal":
            self.held_open += os.openpty()  # master, terminal
            os.write(self.held_open[-2], WORKED_EXAMPLE_INPUT)
            stdin = self.held_open[-1]
        elif stdin == "its terminal's master":
            os.write(self.terminal, WORKED_EXAMPLE_INPUT)
            stdin = self.keyboard
        pid = os.fork()
        if pid == 0:
            try:
                self.become_the_job(command, hooks, stdin, **world)
            finally:  # what could not be done shows on the terminal, and the job ends
                traceback.print_exc()
                os._exit(127)
        if hooks:
            hooks.job_started()
        self.pid = pid
        if not world.get("orphaned"):
            with contextlib.suppress(OSError):  # the child may be first
                os.setpgid(pid, pid)
            self.give_terminal()

    def become_the_job(self, command, hooks, stdin, ignored=(), blocked=(), **world):
        """In the job's process: a group of its own (or the leader's, `orphaned`: no shell could
        continue it), the signals `ignored` ignored and `blocked` blocked, descriptors 3 up to
        `descriptors` in use (or none to spare, `no_descriptor_to_spare`), `hooks` (CallHooks)
        holding its calls, and standard output the terminal, or `stdout`: a path, or True for a
        file of the leader's (of at most `file_size` bytes)."""
        die_with_parent()
        if not world.get("orphaned"):
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
        if stdin is not None:
            os.dup2(stdin, 0)
        if self.output:
            os.dup2(os.open(getattr(self.output, "name", self.output), os.O_WRONLY), 1)
            limit = world.get("file_size", resource.RLIM_INFINITY)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
        kept, descriptors = hooks.ends_for_the_job if hooks else (), world.get("descriptors", 3)
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        soft = 3 if world.get("no_descriptor_to_spare") else max(soft, descriptors + 16)
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
        for descriptor in set(range(3, descriptors)) - set(kept):
            os.dup2(0, descriptor)
        for descriptor in kept:
            os.set_inheritable(descriptor, True)
        os.execvpe(command[0], command, dict(os.environ, **(hooks.environment if hooks else {})))

    def written(self):
        """What standard output holds, where it is a file of the leader's; else nothing."""
        if not hasattr(self.output, "read"):
            return b""
        self.output.seek(0)
        return self.output.read()

    def program(self):
        """The program's process: the job's, or in a PID namespace unshare's child."""
        children = pathlib.Path(f"/proc/{self.pid}/task/{self.pid}/children")
        with contextlib.suppress(OSError, IndexError):
            return int(children.read_text().split()[0]) if self.namespaced else self.pid
        return self.pid

    def pending(self, number):
        """Whether the signal is pending for the job, not yet taken."""
        status = pathlib.Path(f"/proc/{self.pid}/status").read_text()
        masks = re.findall(r"(?:SigPnd|ShdPnd):\s*(\w+)", status)
        return any(int(mask, 16) >> (number - 1) & 1 for mask in masks)

    def type(self, keys):
        """Types the keys: through TIOCSTI (Ctrl-Z's signal sent before this returns), or written
        where that is refused, or as a terminal pastes many (as fast as they are read)."""
        while len(keys) > 64 and select.select([], [self.keyboard], [], WAIT_SECONDS)[1]:
            keys = keys[os.write(self.keyboard, keys) :]
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
        """Waits until the terminal has shown `text` `count` times."""
        # It fails at once where the program waits, stopped or ended and shows nothing new.
        deadline, quiet_since, shown = time.monotonic() + WAIT_SECONDS, None, None
        while self.read(0.01).count(text) < count:
            now = time.monotonic()
            if self.shown != shown or process_state(self.program()) in ("R", "D"):
                quiet_since, shown = now, self.shown
            if now - quiet_since > QUIET_SECONDS or now > deadline:
                raise AssertionError(f"never showed {text!r}; it showed last {self.shown[-160:]!r}")

    def settings(self):
        """The terminal's settings, each control character a number (as VMIN and VTIME are)."""
        settings = termios.tcgetattr(self.terminal)
        settings[6] = [ord(c) if isinstance(c, bytes) else c for c in settings[6]]
        return settings

    def set_settings(self, settings=None, local_flags=0, clear=0):
        """Sets the settings (the first ones), c_lflag's `local_flags` set; returns them."""
        settings = list(settings or self.settings_before)
        settings[3] = settings[3] & ~clear | local_flags
        termios.tcsetattr(self.terminal, termios.TCSANOW, settings)
        return self.settings()

    def unread(self):
        """How many typed bytes no one has read."""
        # In line mode, whole lines alone are counted: it is asked in key mode for a moment.
        settings = termios.tcgetattr(self.terminal)
        if not settings[3] & termios.ICANON:
            return bytes_queued(self.terminal)
        try:
            self.set_settings(settings, clear=termios.ICANON)
            return bytes_queued(self.terminal)
        finally:
            termios.tcsetattr(self.terminal, termios.TCSANOW, settings)

    def hold_terminal(self, for_another_group=False):
        """Takes the terminal for the leader's group (an orphaned job's too), or a new one."""
        group = os.getpgrp()
        if for_another_group:
            group = self.other_group = os.fork()
            if group == 0:
                os.setpgid(0, 0)
                signal.pause()
            with contextlib.suppress(OSError):  # the child may be first
                os.setpgid(group, group)
        os.tcsetpgrp(self.terminal, group)

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
        for descriptor in self.held_open:
            os.close(descriptor)
        self.other_group, self.held_open = None, []
        if self.keyboard is not None:  # else hung up: no terminal left to put back
            self.hold_terminal()
            termios.tcflow(self.terminal, termios.TCOON)  # output let go, if held by Ctrl-S
            self.set_settings()
            termios.tcflush(self.terminal, termios.TCIFLUSH)


class CallHooks:
    """The hooked program's calls (call_hooks.cpp), each held until the test lets it go."""

    def __init__(self):
        self.events, events_writer = os.pipe()
        go_reader, self.go_writer = os.pipe()
        self.ends_for_the_job = (events_writer, go_reader)
        self.environment = {"MEMBERSHIP_CALL_HOOKS": f"{events_writer},{go_reader}"}
        self.lines, self.held = b"", False

    def job_started(self):
        for end in self.ends_for_the_job:
            os.close(end)

    def until(self, name, leader):
        """Lets calls go till one for `name` is due, and holds it; False if the job stops first."""
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
            self.held = True
            if due.decode() == name:
                return True
            self.go(leader)

    def go(self, leader):
        """Lets the call held go, and waits till it has taken the byte (else a handler's would)."""
        if self.held:
            os.write(self.go_writer, b"g")
            self.held = False
            gone = ("T", "Z", None)
            wait_until(
                lambda: not bytes_queued(self.go_writer) or process_state(leader.pid) in gone,
                "the call let go",
            )

    def free(self):
        """Lets the call held go, and every later one unheld."""
        os.write(self.go_writer, b"f")


def pause_for(seconds):
    """Spins for the shortest delays, where a sleep would overshoot them."""
    if seconds >= 1e-3:
        return time.sleep(seconds)
    until = time.perf_counter() + seconds
    while time.perf_counter() < until:
        pass


def play(leader, events, hooks=None):
    """Plays (event, delay) pairs at the program's pause, checking before each and at the end
    what must hold (`broken`); returns what did not hold, or '', or the event EVENTS lacks."""
    unknown = [name for name, _ in events if not parse(name)]
    if unknown:
        return f"no such event: {unknown[0]!r}"
    state = {"holds": True, "other": None, "unseen stop": False, "ran": True}
    for name, delay in events + [("", 0)]:  # all of them, the program ended or not
        try:
            failure = broken(leader, state)
            if name and not failure:
                act, words = parse(name)
                failure = act(leader, hooks, state, **words)
        except AssertionError as ran_out:  # a wait
            failure = str(ran_out)
        if failure:
            return f"{failure} (at {name or 'the end'!r})"
        leader.read()
        pause_for(delay)
    return "" if leader.ended() else "still running after the last event"


def parse(name):
    """The event's act and the words it takes from its name; None where EVENTS has none."""
    for pattern, act in EVENTS:
        words = re.fullmatch(pattern, name)
        if words:
            return act, {key: word for key, word in words.groupdict().items() if word}
    return None


def hold(leader, hooks, state, key):
    """Until it ends: the key again and again, in bursts, as Ctrl-C held down sends it."""
    first_at = time.monotonic()
    while not leader.ended() and time.monotonic() - first_at < WAIT_SECONDS:
        leader.type(TYPED[key] * 64)


def send(leader, hooks, state, name, taken=None):
    """A signal by name; `taken`: and waits until it is."""
    leader.signal(getattr(signal, name))
    if name in ("SIGSTOP", "SIGCONT"):  # a stop that no program can see
        state["unseen stop"] = name == "SIGSTOP"
    state["ran"] = state["ran"] and name != "SIGCONT"
    if taken:
        wait_until(lambda: not leader.pending(getattr(signal, name)), f"{name} taken")


def move_to_the_background(leader, hooks, state, how=""):
    leader.hold_terminal(for_another_group=how == ", another group")
    state["holds"] = False
    if how == ", continued":
        leader.signal(signal.SIGCONT)
        state["ran"] = False


def other_job(leader, hooks, state):
    """Settings no pause would make, nor the shell's, and keys typed for that job."""
    other = leader.settings()
    other[0] &= ~termios.ICRNL
    other[6][termios.VMIN] = 3
    state["other"] = leader.set_settings(other, clear=termios.ICANON | termios.ECHO)
    termios.tcflush(leader.terminal, termios.TCIFLUSH)
    leader.type(FOR_THE_OTHER_JOB)
    wait_until(lambda: leader.unread() == len(FOR_THE_OTHER_JOB), "typed")


def bring_back(leader, hooks, state):
    if state["other"]:
        leader.set_settings()
        termios.tcflush(leader.terminal, termios.TCIFLUSH)
    state.update({"other": None, "holds": True, "unseen stop": False, "ran": False})
    leader.give_terminal()
    with contextlib.suppress(ProcessLookupError):  # to its group, as a shell's fg
        os.killpg(leader.pid, signal.SIGCONT)


def in_key_mode(leader, hooks, state, prompts=None):
    if prompts:
        leader.wait_to_see(PAUSE_PROMPT, int(prompts))
    wait_until(lambda: key_mode(leader.settings()), "in key mode")
    if leader.shown.count(PAUSE_PROMPT) - leader.shown.count(b"\r" + PAUSE_PROMPT) > 1:
        return f"a prompt written anew on the line of another: {leader.shown[-80:]!r}"


def at(leader, hooks, state, call, or_a_stop=None):
    if not hooks.until(call, leader) and not or_a_stop:
        return f"stopped or ended before {call} was due"


def waiting_for_a_key(leader, hooks, state):
    hooks.until("pselect on input", leader)
    hooks.go(leader)
    leader.wait_to_see(PAUSE_PROMPT)


def hang_up(leader, hooks, state):
    signal.signal(signal.SIGHUP, signal.SIG_IGN)  # the leader's, the session's
    os.close(leader.keyboard)
    leader.keyboard = None
    wait_until(leader.ended, "ended once hung up")
    return "" if leader.status == 1 else f"hung up, ended with {leader.status}, not 1"


def ends(leader, hooks, state, how):
    status = 0 if how in ("0", "at once") else -int(getattr(signal, how, how))
    return ended_by(leader, status, state["other"], how == "at once")


def broken(leader, state):
    """What must hold at every step, or ''."""
    # While the other job holds the terminal, its settings stay its own, and what was typed for
    # it unread. Seen stopped while its job holds the terminal (not by SIGSTOP), the program has
    # put the terminal back, once seen waiting since its last continue: a stop that comes as it
    # is continued, before it runs again, stops it as it was (the manual's BUGS).
    if leader.ended() or leader.keyboard is None:
        return ""
    if state["other"] and leader.settings() != state["other"]:
        return "the other job's settings were changed"
    if state["other"] and leader.unread() != len(FOR_THE_OTHER_JOB):
        return "a byte typed for the other job was read"
    process = process_state(leader.program())
    state["ran"] = state["ran"] or process == "S"
    if state["holds"] and state["ran"] and not (state["other"] or state["unseen stop"]):
        if process == "T" and leader.settings() != leader.settings_before:
            return "stopped, the terminal not put back"
    return ""


def ended_by(leader, status, other, at_once=False):
    """Waits for the program to end; what did not hold of it, or ''."""
    wait_until(leader.ended, f"ended, by {status}")
    if leader.status != status:
        return f"ended with {leader.status}, not {status}" + left_changed(leader)
    if settings_left(leader, other):
        return f"ended, {settings_left(leader, other)}"
    if not other and leader.unread():
        return f"{leader.unread()} bytes typed at the pause left for the shell"
    if other and not leader.read().endswith(PAUSE_PROMPT):
        return f"it wrote on the other job's screen: {leader.shown[-40:]!r}"
    prompted = PAUSE_PROMPT in leader.read() + leader.written()
    return "it prompted, and waited" if at_once and prompted else ""


def left_changed(leader):
    return f": {BROKEN_RULES[leader.status]}" if leader.status in BROKEN_RULES else ""


def end_with_a_key(leader, hooks, state, key, status="0", shell=None):
    """Types the key whenever the terminal shows key mode, until the program ends with `status`;
    `shell`: continues it again where it is seen stopped, as a shell's user would."""
    # A continue that came late takes the terminal again, dropping what was typed; a stop that
    # the kernel sends for a call made in the background discards a continue sent just before.
    deadline, key, status = time.monotonic() + WAIT_SECONDS, TYPED[key], int(status)
    while not leader.ended():
        if shell and process_state(leader.pid) == "T":
            leader.signal(signal.SIGCONT)
        if time.monotonic() > deadline:
            mode = "key" if key_mode(leader.settings()) else "line"
            return f"never ended: state {process_state(leader.pid)}, {mode} mode"
        if key_mode(leader.settings()):
            leader.type(key)
        leader.read(0.005)
    if leader.status not in (status, -signal.SIGINT if key == TYPED["Ctrl-C"] else status):
        return f"ended with {leader.status}" + left_changed(leader)
    return settings_left(leader) and f"ended with {leader.status}, {settings_left(leader)}"


def settings_left(leader, other=None):
    """'' where the settings are the first (or `other`'s); else each that differs, came and due."""
    (*now, now_cc), (*due, due_cc) = leader.settings(), other or leader.settings_before
    changed = [f"{n} {a:#x}, not {b:#x}" for n, a, b in zip(FLAGS, now, due) if a != b]
    changed += [f"c_cc[{i}] {a}, not {b}" for i, (a, b) in enumerate(zip(now_cc, due_cc)) if a != b]
    whose = "the other job's" if other else "the first's"
    return f"the settings not {whose}: " + "; ".join(changed) if changed else ""


KEY = "(?P<key>" + "|".join(map(re.escape, TYPED)) + ")"
# Each event a scene may name, as a pattern of its words, and what plays it.
EVENTS = [
    (KEY + " held", hold),
    (KEY, lambda leader, hooks, state, key: leader.type(TYPED[key])),
    (r"(?P<name>SIG[A-Z]+)(?P<taken> taken)?", send),
    # The terminal taken from it without a stop; with a continue, as bash's bg; for a group not
    # the leader's.
    ("bg(?P<how>, continued|, another group)?", move_to_the_background),
    ("other job", other_job),  # the terminal set, and typed in, by another job
    ("fg", bring_back),  # with a continue
    (
        "settled",
        lambda leader, *_: wait_until(lambda: process_state(leader.program()) != "R", "settled"),
    ),
    ("stopped", lambda leader, *_: wait_until(lambda: process_state(leader.pid) == "T", "stopped")),
    # Line mode, as a shell sets it while its job is stopped.
    ("shell's settings", lambda leader, *_: leader.set_settings() and None),
    (r"in key mode|prompted (?P<prompts>\d+)", in_key_mode),  # N prompts shown, and key mode
    ("the result shown", lambda leader, *_: leader.wait_to_see(RESULT_SHOWN)),
    (
        "unprompted",
        lambda leader, *_: PAUSE_PROMPT in leader.read() and "prompted in the background",
    ),
    # Until a call for what it names is due, as call_hooks.cpp names it, and held there.
    ("at (?P<call>.+?)(?P<or_a_stop> or a stop)?", at),
    ("free", lambda leader, hooks, state: hooks.free()),  # every call let go
    ("waiting for a key", waiting_for_a_key),  # its prompt shown, and its wait let go
    ("nothing typed left", lambda leader, *_: leader.unread() and f"{leader.unread()} bytes left"),
    ("hung up", hang_up),  # its master closed
    # Last, how it ends: by a signal or with 0; or a key typed whenever key mode shows.
    (r"ends (?:by )?(?P<how>SIG[A-Z]+|\d+|at once)", ends),
    (KEY + r" until ended(?: with (?P<status>\d+))?(?P<shell>, as a shell)?", end_with_a_key),
    # Standard output a file: the prompt and a line end are its last bytes.
    (
        "the file holds the prompt",
        lambda leader, *_: not leader.written().endswith(PROMPT_ENDED)
        and f"the file ends {leader.written()[-40:]!r}, not {PROMPT_ENDED!r}",
    ),
]
RESULT_SHOWN, PROMPT_ENDED = WORKED_EXAMPLE_RESULT.replace(b"\n", b"\r\n"), PAUSE_PROMPT + b"\n"


def scene(command, events, hooks=False, tostop=False, typed=b"", **world):
    """Starts the program as a job in the world (Leader.start's; `hooks`, the hooked program's
    calls held, CallHooks), answers its dialogue at the terminal (`typed` after it), and plays
    the events ("EVENT; EVENT...", or play's pairs); returns what did not hold, or ''."""
    leader, hooks = Leader(), CallHooks() if hooks else None
    if tostop:
        leader.settings_before = leader.set_settings(local_flags=termios.TOSTOP)
    leader.start(command, hooks=hooks, **world)
    try:
        if world.get("stdin") is None:
            leader.type(WORKED_EXAMPLE_TYPED + typed)
        if isinstance(events, str):
            events = [(event, 0) for event in events.split("; ")]
        failure = play(leader, events, hooks)
        if failure and "showed last" not in failure:
            failure += f"; it showed last {leader.read()[-120:]!r}"
        return failure
    finally:
        leader.end()
