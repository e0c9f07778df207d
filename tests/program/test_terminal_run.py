#!/usr/bin/env python3
"""The built program at a real pseudo-terminal: the worked example first (a changed output stops
the run there), then the pause's keys, signals and job control, its terminal put back each time.

Alone in its session; as a job of an interactive bash; and, with --hooked, the program with
hooks at its calls on the terminal, as the job of a leader of the test's own. With --windows,
the Windows program as a person at a console meets it: in a console of the command
interpreter's (under Wine, which draws it on the terminal), and its pause.
Usage: test_terminal_run.py --posix|--windows [--hooked PROGRAM] COMMAND... (COMMAND may start
with an emulator)
"""
import contextlib
import ctypes
import fcntl
import os
import re
import resource
import shlex
import shutil
import signal
import sys
import tempfile
import termios
import time
import unittest

import pexpect

from expected_output import (
    INTERPRETER_PAUSE_PROMPT,
    PAUSE_PROMPT,
    PROMPT_LIST,
    RESULT_AND_PAUSE_AT_A_TERMINAL,
    WORKED_EXAMPLE_AT_A_TERMINAL,
    WORKED_EXAMPLE_ENTRIES,
    WORKED_EXAMPLE_OUTPUT,
    WORKED_EXAMPLE_RESULT,
    WORKED_EXAMPLE_TYPED,
    platform_and_arguments,
)
from job_control import (
    WAIT_SECONDS,
    CallHooks,
    Leader,
    bytes_queued,
    in_a_session_of_its_own,
    key_mode,
    process_state,
    settings_of,
    wait_until,
)

ON_WINDOWS, COMMAND = platform_and_arguments(__doc__)
HOOKED = None
if COMMAND[:1] == ["--hooked"]:
    HOOKED, COMMAND = COMMAND[1], COMMAND[2:]
# qemu-user stops a process for SIGTSTP with SIGSTOP, even where the kernel
# would not stop it (a group no shell could continue).
UNDER_QEMU = "qemu" in os.path.basename(COMMAND[0])

DIALOGUE = [(prompt, entry + b"\r") for prompt, entry in zip(PROMPT_LIST, WORKED_EXAMPLE_ENTRIES)]
ARROW_UP = b"\x1b[A"
# The program takes bytes that follow a key's first byte this closely as the
# rest of that key (its own window is longer).
SAME_KEY_SECONDS = 0.025
SPLIT_KEY_ATTEMPTS = 10
# How soon a key or a signal must end the pause (the program allows itself far
# less; this is for a busy machine).
ENDS_AT_ONCE_SECONDS = 0.5
CONTROL_C, CONTROL_BACKSLASH, CONTROL_Z = b"\x03", b"\x1c", b"\x1a"
FIFO_SIZE = 4096  # a page: the least a pipe holds


# --- Starting a command at a terminal of its own, and what it shows


def spawn(command, env=None, stdout=None, limit_file_size=None, ignored=(), blocked=()):
    """The command as the leader of a new session, a new pseudo-terminal its
    controlling one, so that Ctrl-C, Ctrl-\\ and Ctrl-Z typed there reach it.

    `stdout`, a path, takes the terminal's place as standard output. No core
    file is left behind by a signal that would make one. The signals Python
    ignores for itself take their default action again, as a shell leaves them,
    but those `ignored`; those `blocked` are blocked.
    """

    def in_the_child():
        for number in (signal.SIGPIPE, signal.SIGXFSZ):
            signal.signal(number, signal.SIG_DFL)
        for number in ignored:
            signal.signal(number, signal.SIG_IGN)
        signal.pthread_sigmask(signal.SIG_SETMASK, blocked)
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        if stdout:
            os.dup2(os.open(stdout, os.O_WRONLY), 1)
        if limit_file_size:
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit_file_size, resource.RLIM_INFINITY))

    options = dict(env=env, timeout=WAIT_SECONDS, dimensions=(24, 80), preexec_fn=in_the_child)
    child = pexpect.spawn(command[0], command[1:], **options)
    child.delaybeforesend = None  # keys go when sent: their timing is under test
    child.settings_before = settings(child)
    return child


def expect(child, text):
    """Waits until the child shows `text`; else says what it showed last, not pexpect's dump."""
    try:
        child.expect_exact(text)
    except (pexpect.TIMEOUT, pexpect.EOF) as reason:
        ended = "ended" if isinstance(reason, pexpect.EOF) else "still running"
        raise AssertionError(
            f"never showed {text!r} ({ended}); it showed last {child.before[-160:]!r}"
        ) from None


def finish(child):
    """Waits for the child to end: its exit status, or minus the signal that ended it."""
    expect(child, pexpect.EOF)
    child.wait()
    return -child.signalstatus if child.signalstatus else child.exitstatus


def still_waiting_after(child, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and child.isalive():
        time.sleep(0.01)
    return child.isalive()


def settings(child):
    return settings_of(child.child_fd)


def in_key_mode(child):
    return key_mode(settings(child))


def drain(reader):
    """Reads what a pipe holds, until it is empty."""
    with contextlib.suppress(BlockingIOError):
        while os.read(reader, 65536):
            pass


def unread_input_size(child):
    """How many typed bytes the program never read, a line's end or not.

    Only the terminal's own side knows; in line mode it counts whole lines
    alone, so it is asked in key mode.
    """
    libc = ctypes.CDLL(None)
    libc.ptsname.restype = ctypes.c_char_p
    terminal = os.open(libc.ptsname(child.child_fd), os.O_RDWR | os.O_NOCTTY)
    before = termios.tcgetattr(terminal)
    uncooked = before[:3] + [before[3] & ~termios.ICANON] + before[4:]
    try:
        termios.tcsetattr(terminal, termios.TCSANOW, uncooked)
        return bytes_queued(terminal)
    finally:
        termios.tcsetattr(terminal, termios.TCSANOW, before)
        os.close(terminal)


def full_fifo(test, room):
    """A FIFO for standard output, its reader the test's, which never reads unless told:
    it holds all it can but `room` bytes (what the dialogue writes, say, so that the
    pause's prompt cannot go through). Returns its path, the reader and its size."""
    if not hasattr(fcntl, "F_SETPIPE_SZ"):
        test.skipTest("no pipe size to set here (Linux has one)")
    scratch = tempfile.TemporaryDirectory()
    test.addCleanup(scratch.cleanup)
    fifo = os.path.join(scratch.name, "output")
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    test.addCleanup(os.close, reader)
    size = fcntl.fcntl(reader, fcntl.F_SETPIPE_SZ, FIFO_SIZE)
    with open(fifo, "wb") as filler:
        filler.write(b"x" * (size - room))
    return fifo, reader, size


def wine_screen(drawn):
    """Wine draws a console with escape sequences, a space at the end of what it
    writes as a move to the right, and its line ends as CR CR LF: the moves are
    read as spaces, the rest of them and the CRs dropped."""
    text = re.sub(rb"\x1b\[(\d*)C", lambda move: b" " * int(move[1] or 1), drawn)
    text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07", b"", text)
    return text.replace(b"\r", b"")


@unittest.skipUnless(ON_WINDOWS, "the Windows program's own console")
class WindowsConsole(unittest.TestCase):
    def test_prompts_show_before_each_read_and_the_interpreters_pause_takes_a_key(self):
        # Started by the command interpreter, as from a command prompt, under a shell:
        # Wine's console takes no keys from a terminal its session leader controls (seen
        # with Wine 8). It draws on a terminal of a kind it knows.
        command = ["/bin/sh", "-c", '"$@"', "sh", *COMMAND[:-1], "cmd", "/c", COMMAND[-1]]
        child = spawn(command, env=dict(os.environ, TERM="xterm"))
        self.addCleanup(child.close, force=True)
        drawn = b""
        for prompt, entry in DIALOGUE:
            drawn = self.wait_for_screen(child, drawn, prompt)
            # Wine's console takes the terminal over when the first read begins; a key
            # typed before that would be the terminal's own.
            wait_until(lambda: in_key_mode(child), "in key mode")
            child.send(entry)
        drawn = self.wait_for_screen(child, drawn, WORKED_EXAMPLE_RESULT + INTERPRETER_PAUSE_PROMPT)
        # Wine says "Press any key to continue...", Windows "Press any key to continue . . . ".
        self.assertRegex(wine_screen(drawn), rb"Press any key to continue( \. \. \.|\.\.\.) ")
        self.assertTrue(still_waiting_after(child, 0.5), "the pause did not wait for a key")
        child.send(b"k")
        self.assertEqual(finish(child), 0)

    @staticmethod
    def wait_for_screen(child, drawn, text):
        while text not in wine_screen(drawn):
            drawn += child.read_nonblocking(4096, timeout=WAIT_SECONDS)
        return drawn


@unittest.skipIf(ON_WINDOWS, "the stand-in for pause on POSIX systems")
class AtATerminal(unittest.TestCase):
    def start(self, **options):
        child = spawn(COMMAND, **options)
        self.addCleanup(child.close, force=True)
        return child

    def start_at_the_pause(self, **options):
        """The program with its dialogue answered, each entry once its prompt is on the
        screen (so a prompt left in a buffer stalls the run), now waiting at the pause."""
        child = self.start(**options)
        for prompt, entry in DIALOGUE:
            expect(child, prompt)
            child.send(entry)
        expect(child, RESULT_AND_PAUSE_AT_A_TERMINAL)
        return child

    def start_with_its_prompt_blocked(self):
        """The program at the pause, its prompt's write blocked (see full_fifo)."""
        fifo, reader, size = full_fifo(self, len(WORKED_EXAMPLE_OUTPUT))
        child = self.start(stdout=fifo)
        child.send(WORKED_EXAMPLE_TYPED)
        wait_until(
            lambda: bytes_queued(reader) == size and in_key_mode(child), "blocked in key mode"
        )
        return child

    def test_the_worked_example_shows_as_the_readme_gives_it_and_one_whole_key_ends_it(self):
        # The arrow key's bytes in two writes, the first read alone: the rest
        # must be taken as part of the same key. Until an attempt delivers the
        # rest in time, what happens to it proves nothing.
        for _ in range(SPLIT_KEY_ATTEMPTS):
            child, shown = self.start(), b""
            for prompt, entry in DIALOGUE + [(PAUSE_PROMPT, b"")]:
                expect(child, prompt)  # each prompt on screen before its read waits
                shown += child.before + child.after
                child.send(entry)
            self.assertEqual(shown.replace(b"\r\n", b"\n"), WORKED_EXAMPLE_AT_A_TERMINAL)
            self.assertTrue(still_waiting_after(child, 0.5), "the pause did not wait for a key")
            self.assertTrue(in_key_mode(child), "the pause left line mode or echo on")
            sent_at = unread_at = time.monotonic()  # not read before it was sent
            child.send(ARROW_UP[:1])
            while unread_input_size(child) != 0:
                unread_at = time.monotonic()
                if unread_at - sent_at > WAIT_SECONDS:
                    raise AssertionError("the key's first byte was never read")
            child.send(ARROW_UP[1:])
            in_time = time.monotonic() - unread_at < SAME_KEY_SECONDS
            self.assertEqual(finish(child), 0)
            self.assertEqual(settings(child), child.settings_before)
            if in_time:
                self.assertEqual(child.before, b"\r\n", "the key was echoed")
                self.assertEqual(unread_input_size(child), 0, "part of the key left for the shell")
                return
        self.fail(f"the key's rest never came in time in {SPLIT_KEY_ATTEMPTS} tries: too busy")

    def test_a_signal_ends_the_pause_by_it_and_puts_the_terminal_back(self):
        # The signal keys typed, and signals sent, some while the prompt's write is blocked
        # (the pause's unit test tries every signal that ends a process); keys typed while
        # stopped never reach the shell.
        cases = [(CONTROL_C, signal.SIGINT, False), (CONTROL_BACKSLASH, signal.SIGQUIT, False)]
        cases += [(b"abc", signal.SIGTERM, False), (None, signal.SIGSEGV, False)]
        cases += [(CONTROL_C, signal.SIGINT, True), (None, signal.SIGTERM, True)]
        cases += [(None, signal.SIGHUP, True), (None, signal.SIGPIPE, True)]
        for key, number, blocked in cases:
            with self.subTest(signal.Signals(number).name, key=key, blocked=blocked):
                child = (
                    self.start_with_its_prompt_blocked() if blocked else self.start_at_the_pause()
                )
                sent_at = time.monotonic()
                if key == b"abc":
                    child.kill(signal.SIGSTOP)
                    os.waitid(os.P_PID, child.pid, os.WSTOPPED | os.WNOWAIT)
                    child.send(key)
                    child.kill(number)
                    child.kill(signal.SIGCONT)
                elif key:
                    child.send(key)
                else:
                    child.kill(number)
                self.assertEqual(finish(child), -number)
                if blocked:
                    self.assertLess(time.monotonic() - sent_at, ENDS_AT_ONCE_SECONDS)
                self.assertEqual(settings(child), child.settings_before)
                self.assertEqual(unread_input_size(child), 0, "keys typed left for the shell")

    def test_a_write_of_the_prompt_that_raises_a_signal_ends_the_run_by_it(self):
        # Standard output a file at its size limit: the prompt's write raises SIGXFSZ.
        with tempfile.NamedTemporaryFile() as output:
            child = self.start(stdout=output.name, limit_file_size=len(WORKED_EXAMPLE_OUTPUT))
            child.send(WORKED_EXAMPLE_TYPED)
            self.assertEqual(finish(child), -signal.SIGXFSZ)
            self.assertEqual(settings(child), child.settings_before)

    def test_stopped_by_any_means_waits_again_in_key_mode_once_continued(self):
        # Stopped: as a shell does while its job is stopped, the terminal is put
        # back in line mode; continued, the program must take it back. Ctrl-Z,
        # SIGTTIN or SIGTTOU: its group has no shell to continue it, so it is
        # never stopped, but takes the terminal again as if continued.
        # A continue reaches it even where ignored or blocked from the start.
        hows = ("SIGSTOP", "SIGSTOP, SIGCONT ignored", "SIGSTOP, SIGCONT blocked")
        for how in hows + ("Ctrl-Z", "SIGTTIN", "SIGTTOU"):
            with self.subTest(how):
                if not how.startswith("SIGSTOP") and UNDER_QEMU:
                    self.skipTest("qemu-user stops a group no shell could continue")
                inherited = {how.split()[-1]: [signal.SIGCONT]} if "," in how else {}
                child = self.start_at_the_pause(**inherited)
                if how.startswith("SIGSTOP"):
                    child.kill(signal.SIGSTOP)
                    os.waitid(os.P_PID, child.pid, os.WSTOPPED | os.WNOWAIT)
                    termios.tcsetattr(child.child_fd, termios.TCSANOW, child.settings_before)
                    child.kill(signal.SIGCONT)
                elif how.startswith("SIGTT"):
                    child.kill(getattr(signal, how))
                else:
                    child.send(CONTROL_Z)
                expect(child, b"\r" + PAUSE_PROMPT)
                wait_until(lambda: in_key_mode(child), "in key mode again")
                child.send(b"k")
                self.assertEqual(finish(child), 0)
                self.assertEqual(settings(child), child.settings_before)

    def test_a_held_key_ends_the_pause_at_once(self):
        # A key repeating every 20 ms, as a keyboard repeats a held key.
        child = self.start_at_the_pause()
        first_key_at = time.monotonic()
        while child.isalive() and time.monotonic() - first_key_at < WAIT_SECONDS:
            child.send(b"k")
            time.sleep(0.02)
        ended_after = time.monotonic() - first_key_at
        self.assertEqual(finish(child), 0)
        self.assertLess(ended_after, ENDS_AT_ONCE_SECONDS, "the pause outlasted a held key")

    def test_neither_a_key_typed_ahead_nor_an_ignored_interrupt_ends_the_pause(self):
        child = self.start(ignored=[signal.SIGINT])
        expect(child, PROMPT_LIST[0])
        child.send(WORKED_EXAMPLE_TYPED + b"X")  # the X before the pause has begun
        expect(child, RESULT_AND_PAUSE_AT_A_TERMINAL)
        self.assertTrue(still_waiting_after(child, 0.5), "a key typed ahead ended the pause")
        self.assertEqual(unread_input_size(child), 0, "typed-ahead input left for the shell")
        wait_until(lambda: in_key_mode(child), "in key mode")
        child.send(CONTROL_C)
        self.assertTrue(still_waiting_after(child, 0.5), "an ignored Ctrl-C ended the pause")
        child.send(b"k")
        self.assertEqual(finish(child), 0)


@unittest.skipIf(ON_WINDOWS or shutil.which("bash") is None, "job control is tried under bash")
class UnderAnInteractiveShell(unittest.TestCase):
    """The program as a job of `bash -i`, which stops and continues it as a person would."""

    SHELL_PROMPT = b"shell> "

    def setUp(self):
        home = tempfile.TemporaryDirectory()
        self.addCleanup(home.cleanup)
        environment = dict(HOME=home.name, PS1=self.SHELL_PROMPT.decode(), TERM="dumb")
        environment.update(PATH=os.environ.get("PATH", "/usr/bin:/bin"), INPUTRC="/dev/null")
        self.shell = spawn(["bash", "--norc", "--noprofile", "-i"], env=environment)
        self.addCleanup(self.shell.close, force=True)
        expect(self.shell, self.SHELL_PROMPT)

    def command(self, line, end_line=True):
        """Types a command line; returns what the shell showed before its next prompt."""
        self.shell.send(line + (b"\r" if end_line else b""))
        expect(self.shell, self.SHELL_PROMPT)
        return self.shell.before

    def test_stopped_by_ctrl_z_then_brought_back_waits_again_for_one_key(self):
        # Ctrl-Z stops it while its prompt's write cannot go through, too. An emulator may
        # deliver a continue late, and the prompt is then written anew once more.
        for blocked in (False, True):
            with self.subTest(blocked=blocked):
                line = shlex.join(COMMAND)
                if blocked:
                    fifo, reader, size = full_fifo(self, len(WORKED_EXAMPLE_OUTPUT))
                    self.shell.send(f"{line} > {fifo}\r".encode() + WORKED_EXAMPLE_TYPED)
                    wait_until(lambda: bytes_queued(reader) == size, "blocked writing the prompt")
                else:
                    self.shell.send(line.encode() + b"\r")
                    for prompt, entry in DIALOGUE:
                        expect(self.shell, prompt)
                        self.shell.send(entry)
                    expect(self.shell, RESULT_AND_PAUSE_AT_A_TERMINAL)
                self.shell.send(CONTROL_Z)
                expect(self.shell, b"Stopped")
                expect(self.shell, self.SHELL_PROMPT)
                if blocked:
                    drain(reader)
                self.shell.send(b"fg\r")
                if blocked:
                    wait_until(lambda: bytes_queued(reader) >= len(PAUSE_PROMPT), "prompted")
                else:
                    expect(self.shell, PAUSE_PROMPT)  # written anew
                wait_until(lambda: in_key_mode(self.shell), "back in the foreground in key mode")
                shown = self.command(b"k", end_line=False).replace(b"\r" + PAUSE_PROMPT, b"")
                if not blocked:  # else the screen shows what bash says of `fg`
                    self.assertEqual(shown, b"\r\n", "the key was echoed or left for the shell")
                self.assertIn(b"status=0\r\n", self.command(b"echo status=$?"))


@unittest.skipIf(ON_WINDOWS or not HOOKED, "the program with hooks, built natively on POSIX")
class AtEachCallOnTheTerminal(unittest.TestCase):
    """The program with hooks at its calls on the terminal, as the job of a leader of the
    test's own (job_control.py), which acts as a call is due and can move the job to the
    background without stopping it, as no shell does."""

    def scene(self, play, **start):
        """Plays `play(leader, hooks)` on the program, begun as a job with `start`'s world;
        it returns what did not hold, or ''."""

        def in_its_session():
            leader, hooks = Leader(), CallHooks()
            if start.pop("tostop", False):
                leader.settings_before = leader.set_flags(termios.TOSTOP)
            leader.start([HOOKED], hooks=hooks, **start)
            try:
                leader.type(WORKED_EXAMPLE_TYPED)
                return play(leader, hooks) or ""
            finally:
                leader.end()

        outcome = in_a_session_of_its_own(in_its_session)
        self.assertFalse(outcome, outcome)

    @staticmethod
    def waiting_for_a_key(leader, hooks):
        """Lets the calls go until the pause waits for a key, its prompt read off the screen
        (Ctrl-Z, as every signal key, drops what the terminal has not shown yet)."""
        hooks.until("poll", leader, count=2)
        hooks.go()
        leader.wait_to_see(PAUSE_PROMPT)

    @staticmethod
    def ended_by_a_key(leader, prompts=1):
        """Types a key once the pause waits in the foreground; what did not hold, or ''."""
        wait_until(lambda: leader.read().count(PAUSE_PROMPT) >= prompts, "prompted")
        wait_until(lambda: key_mode(leader.settings()), "in key mode")
        leader.type(b"k")
        wait_until(leader.ended, "ended by the key")
        if leader.status != 0 or leader.settings() != leader.settings_before:
            return f"ended with {leader.status}, the settings {leader.settings()}"
        return ""

    def test_begun_in_the_background_it_puts_back_its_own_jobs_settings(self):
        # Moved to the background as it first calls on the terminal, while another job sets
        # the terminal as it likes, it must stop before it reads or sets anything, whatever it
        # inherits. Brought back (its job's settings, the terminal, a continue) once stopped,
        # or just as it first sets the terminal, it must put back its own job's settings.
        def play(leader, hooks, at_its_first_setting):
            hooks.until(None, leader)
            leader.hold_terminal()
            other = leader.set_flags(0, clear=termios.ICANON | termios.ECHO)
            if at_its_first_setting:
                hooks.until("tcsetattr", leader)
            else:
                hooks.free()
                wait_until(lambda: process_state(leader.pid) == "T", "stopped in the background")
            if leader.settings() != other:
                return "the other job's settings were changed"
            termios.tcsetattr(leader.terminal, termios.TCSANOW, leader.settings_before)
            leader.give_terminal()
            leader.signal(signal.SIGCONT)
            hooks.free()
            return self.ended_by_a_key(leader)

        cases = [(False, {}), (False, {"ignored": [signal.SIGTTOU]})]
        cases += [(False, {"blocked": [signal.SIGTTOU]}), (True, {})]
        for at_its_first_setting, inherited in cases:
            with self.subTest(at_its_first_setting=at_its_first_setting, **inherited):
                self.scene(lambda *both: play(*both, at_its_first_setting), **inherited)

    def test_its_prompt_is_written_in_the_foreground_alone(self):
        # Moved to the background as it waits for standard output to take the prompt (held
        # by Ctrl-S, say), it stops once standard output could take it, tostop or not.
        def play(leader, hooks):
            hooks.until("poll", leader)
            leader.hold_terminal()
            hooks.free()
            wait_until(lambda: process_state(leader.pid) == "T", "stopped in the background")
            if PAUSE_PROMPT in leader.read():
                return "prompted from the background"
            leader.give_terminal()
            leader.signal(signal.SIGCONT)
            return self.ended_by_a_key(leader)

        for tostop in (False, True):
            with self.subTest(tostop=tostop):
                self.scene(play, tostop=tostop)

    def test_ended_while_another_job_takes_the_terminal_it_leaves_that_jobs(self):
        # A job takes the terminal just as the ending signal's handler puts it back.
        def play(leader, hooks):
            self.waiting_for_a_key(leader, hooks)
            leader.signal(signal.SIGTERM)
            hooks.until("tcsetattr", leader)
            leader.hold_terminal()
            other = leader.set_flags(0, clear=termios.ICANON | termios.ECHO)
            leader.type(b"abc")
            hooks.free()
            wait_until(leader.ended, "ended")
            if leader.status != -signal.SIGTERM or leader.settings() != other:
                return f"ended with {leader.status}, the settings {leader.settings()}"
            return "" if leader.unread() == 3 else "what was typed for the other job was read"

        self.scene(play)

    def test_ended_while_stopped_in_the_background_it_ends_by_the_signal(self):
        # Stopped by its own SIGTTOU (its action the default meanwhile), then ended as a
        # shell's kill does: the put-back that the background refuses must not stop it.
        def play(leader, hooks):
            self.waiting_for_a_key(leader, hooks)
            hooks.free()
            leader.hold_terminal()
            other = leader.set_flags(0, clear=termios.ICANON | termios.ECHO)
            leader.signal(signal.SIGCONT)  # takes the terminal again: stops in the background
            wait_until(lambda: process_state(leader.pid) == "T", "stopped in the background")
            leader.signal(signal.SIGTERM)
            leader.signal(signal.SIGCONT)
            wait_until(leader.ended, "ended")
            if leader.status != -signal.SIGTERM or leader.settings() != other:
                return f"ended with {leader.status}, the settings {leader.settings()}"
            return ""

        self.scene(play)

    def test_a_stop_is_never_obeyed_after_a_continue_that_followed_it(self):
        # Ctrl-Z at the pause, then a continue just as it is about to stop: it must not
        # stop, but wait for a key again.
        def play(leader, hooks):
            self.waiting_for_a_key(leader, hooks)
            leader.type(CONTROL_Z)
            if not hooks.until("sigpending", leader):
                return "stopped before a continue could come"
            leader.signal(signal.SIGCONT)
            hooks.free()
            return self.ended_by_a_key(leader, prompts=2)

        self.scene(play)

    def test_each_stop_puts_the_terminal_back_and_each_continue_takes_it_again(self):
        def play(leader, hooks):
            hooks.free()
            for prompts in (1, 2, 3):
                wait_until(lambda: leader.read().count(PAUSE_PROMPT) == prompts, "prompted")
                wait_until(lambda: key_mode(leader.settings()), "in key mode")
                if prompts < 3:
                    leader.type(CONTROL_Z)
                    wait_until(lambda: process_state(leader.pid) == "T", "stopped")
                    if leader.settings() != leader.settings_before:
                        return f"stop {prompts}: the terminal was not put back"
                    leader.signal(signal.SIGCONT)
            return self.ended_by_a_key(leader, prompts=3)

        self.scene(play)

    def test_a_stop_that_comes_with_the_key_stops_it_once_the_terminal_is_put_back(self):
        # Ctrl-Z typed as the key is read: it stops, the terminal put back; continued, it
        # exits. Typed with the key, it may take the key first, or drop it and ask again.
        def play(leader, hooks, before_the_key):
            self.waiting_for_a_key(leader, hooks)
            leader.type(CONTROL_Z + b"k" if before_the_key else b"k")
            if not before_the_key:
                hooks.until("tcsetattr", leader)
                leader.type(CONTROL_Z)
            hooks.free()
            wait_until(lambda: process_state(leader.pid) == "T", "stopped")
            if leader.settings() != leader.settings_before:
                return "stopped with the terminal not put back"
            leader.signal(signal.SIGCONT)
            asked_again = lambda: leader.read().count(PAUSE_PROMPT) > 1  # noqa: E731
            wait_until(lambda: leader.ended() or asked_again(), "ended or asked again")
            if before_the_key and asked_again():
                return self.ended_by_a_key(leader, prompts=2)
            return "" if leader.status == 0 else f"ended with {leader.status}"

        for before_the_key in (False, True):
            with self.subTest(before_the_key=before_the_key):
                self.scene(lambda leader, hooks: play(leader, hooks, before_the_key))


def load_tests(loader, tests, pattern):
    """The tests in the order written, so that the worked example comes first."""
    cases = (WindowsConsole, AtATerminal, UnderAnInteractiveShell, AtEachCallOnTheTerminal)
    return unittest.TestSuite(
        case(name) for case in cases for name in vars(case) if name.startswith("test_")
    )


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2, failfast=True)
