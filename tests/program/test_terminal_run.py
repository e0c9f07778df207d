#!/usr/bin/env python3
"""The built program at a real pseudo-terminal: prompts, the pause, the terminal's settings.

Alone in its session, and as a job of an interactive bash (job control needs a shell).
With --windows, the Windows program as a person at a console meets it: in a console of
the command interpreter's (under Wine, which draws it on the terminal), and its pause.
Usage: test_terminal_run.py --posix|--windows COMMAND...
COMMAND may start with an emulator (wine, qemu).
"""
import array
import fcntl
import os
import re
import resource
import select
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest

from expected_output import INTERPRETER_PAUSE_PROMPT, WORKED_EXAMPLE_OUTPUT, WORKED_EXAMPLE_RESULT

if len(sys.argv) < 3 or sys.argv[1] not in ("--posix", "--windows"):
    sys.exit(__doc__)
PLATFORM, *COMMAND = sys.argv[1:]
ON_WINDOWS = PLATFORM == "--windows"
# On Windows, started by the command interpreter, as from a command prompt.
PROGRAM = COMMAND[:-1] + ["cmd", "/c", COMMAND[-1]] if ON_WINDOWS else COMMAND
PAUSE_PROMPT = b"Press any key to continue . . . "
WAIT_SECONDS = 10
ARROW_UP = b"\x1b[A"
# The program takes bytes that follow a key's first byte this closely as the
# rest of that key (its own window is longer).
SAME_KEY_SECONDS = 0.025
SPLIT_KEY_ATTEMPTS = 10
# How soon a key must end the pause, however it repeats (the program allows
# itself far less; this is for a busy machine).
KEY_ENDS_PAUSE_SECONDS = 0.4
# Each asynchronous signal whose default action ends a process, real-time
# ones included where there are any (not the first two: qemu-user, which may
# run the program, keeps them for itself).
ENDING_SIGNALS = [signal.SIGTERM, signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGPIPE,
                  signal.SIGALRM, signal.SIGUSR1, signal.SIGUSR2, signal.SIGVTALRM,
                  signal.SIGPROF, signal.SIGXCPU, signal.SIGXFSZ,
                  *([signal.SIGRTMIN + 2, signal.SIGRTMAX] if hasattr(signal, "SIGRTMIN") else [])]
CONTROL_Z = b"\x1a"
DIALOGUE = ((b"Enter your choice: ", b"a\r"), (b"Enter How many Months? ", b"6\r"),
            (b"Enter Your Name? ", b"Ann\r"))
RESULT_AND_PAUSE = b"Ann The Total Charge is $ 240.00\r\n" + PAUSE_PROMPT


# Starts the program as the foreground job of its own group, as a shell would;
# on SIGUSR1 takes the terminal back, sends the program SIGTERM and reports
# whether that ended it or left it stopped.
FOREGROUND_THEN_BACKGROUND = """
import os, signal, sys
signal.signal(signal.SIGTTOU, signal.SIG_IGN)
signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGUSR1})
pid = os.fork()
if pid == 0:
    os.setpgid(0, 0)
    os.tcsetpgrp(0, os.getpgrp())
    signal.signal(signal.SIGTTOU, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGUSR1})
    os.execv(sys.argv[1], sys.argv[1:])
# Both set the group, as shells do, so neither waits on the other; once the
# child has exec'd, the parent may not (EACCES), and need not.
try:
    os.setpgid(pid, pid)
except PermissionError:
    pass
signal.sigwait({signal.SIGUSR1})
os.tcsetpgrp(0, os.getpgrp())
os.kill(pid, signal.SIGTERM)
_, status = os.waitpid(pid, os.WUNTRACED)
if os.WIFSTOPPED(status):
    os.kill(pid, signal.SIGKILL)
    sys.exit("stopped by " + signal.Signals(os.WSTOPSIG(status)).name)
sys.exit(0 if os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGTERM else 1)
"""


def signal_name(number):
    try:
        return signal.Signals(number).name
    except ValueError:
        return f"SIGRTMIN+{number - signal.SIGRTMIN}"


def take_as_controlling_terminal():
    """In the child: the terminal becomes its controlling one, so Ctrl-C signals it.

    No core file is left behind by a test that ends the program with Ctrl-\\.
    """
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


class TerminalSession:
    """A command with a pseudo-terminal as its standard streams: the program by default.

    `stdout` (a descriptor) takes the terminal's place as standard output, and
    what the program shows is then read from `shown_on` (a pipe's read end)
    if given; `prepare` runs in the child before the command starts.
    """

    def __init__(self, command=PROGRAM, env=None, stdout=None, shown_on=None, prepare=None):
        self.master, self.terminal = os.openpty()
        fcntl.ioctl(self.terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        self.shown_on = self.master if shown_on is None else shown_on
        self.settings_before = termios.tcgetattr(self.terminal)

        def in_the_child():
            take_as_controlling_terminal()
            if prepare:
                prepare()

        # Wine's console takes no keys from a terminal that its session leader controls
        # (seen with Wine 8), and on Windows no signal comes from the terminal anyway. It
        # draws on a terminal of a kind it knows, or reads and writes it as a file.
        if ON_WINDOWS:
            env = dict(os.environ if env is None else env, TERM="xterm")
        self.process = subprocess.Popen(
            command, stdin=self.terminal, stdout=self.terminal if stdout is None else stdout,
            stderr=self.terminal, start_new_session=not ON_WINDOWS,
            preexec_fn=None if ON_WINDOWS else in_the_child, env=env)
        self.screen = b""

    def wait_for(self, text, since=0):
        """Reads the screen until `text` appears after position `since`; fails if not in time.

        Returns where on the screen `text` ends.
        """
        deadline = time.monotonic() + WAIT_SECONDS
        while text not in self.shown()[since:]:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.shown_on], [], [], left)[0]:
                raise AssertionError(f"{text!r} not on screen; screen so far: {self.shown()!r}")
            self.screen += os.read(self.shown_on, 4096)
        return self.shown().index(text, since) + len(text)

    def shown(self):
        """The screen as a person reads it. Wine draws a console with escape sequences, a
        space at the end of what it writes as a move to the right, and its line ends as
        CR CR LF: the moves are read as spaces, the rest of them and the CRs dropped."""
        if not ON_WINDOWS:
            return self.screen
        text = re.sub(rb"\x1b\[(\d*)C", lambda move: b" " * int(move[1] or 1), self.screen)
        text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07", b"", text)
        return text.replace(b"\r", b"")

    def answer_dialogue(self):
        """Types each entry once its prompt is on the screen, so a prompt left in a buffer
        stalls the run; returns where the pause prompt ends on the screen."""
        for prompt, entry in DIALOGUE:
            self.wait_for(prompt)
            self.type(entry)
        return self.wait_for(RESULT_AND_PAUSE)

    def in_key_mode(self):
        return not self.settings()[3] & (termios.ICANON | termios.ECHO)

    def type(self, keys):
        os.write(self.master, keys)

    def type_split_key(self, first, rest):
        """Types `first`, and `rest` once the program has read `first` alone.

        Returns whether `rest` arrived within SAME_KEY_SECONDS of that read; on
        a busy machine it may not, and then it is a key of its own.
        """
        unread_at = time.monotonic()  # `first` cannot have been read before this
        self.type(first)
        while True:
            looking_at = time.monotonic()
            if self.unread_input_size() == 0:
                break
            if looking_at - unread_at > WAIT_SECONDS:
                raise AssertionError(f"{first!r} was never read")
            unread_at = looking_at
            time.sleep(0.001)
        self.type(rest)
        return time.monotonic() - unread_at < SAME_KEY_SECONDS

    def settings(self):
        return termios.tcgetattr(self.terminal)

    def stop_reading_output(self):
        """Closes the pipe that standard output went to: its reader is gone."""
        os.close(self.shown_on)
        self.shown_on = self.master

    def wait_for_key_mode(self):
        deadline = time.monotonic() + WAIT_SECONDS
        while not self.in_key_mode():
            if time.monotonic() > deadline:
                raise AssertionError("the program never entered key mode")
            time.sleep(0.01)

    def wait_until_stopped(self):
        """Waits until the program is stopped, leaving it so for the shell or test to see."""
        os.waitid(os.P_PID, self.process.pid, os.WSTOPPED | os.WNOWAIT)

    def still_waiting_after(self, seconds):
        try:
            self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return True
        return False

    def finish(self):
        status = self.process.wait(timeout=WAIT_SECONDS)
        self.drain_screen()
        return status

    def drain_screen(self):
        while select.select([self.shown_on], [], [], 0.2)[0]:
            try:
                chunk = os.read(self.shown_on, 4096)
            except OSError:
                return
            if not chunk:
                return
            self.screen += chunk

    def unread_input_size(self):
        """How many typed bytes the program never read, a line's end or not.

        In line mode the terminal counts only whole lines, so it is asked in
        key mode: call this while the program is waiting in key mode, or gone.
        """
        settings = self.settings()
        key_mode = settings[:]
        key_mode[3] &= ~termios.ICANON
        termios.tcsetattr(self.terminal, termios.TCSANOW, key_mode)
        try:
            count = array.array("i", [0])
            fcntl.ioctl(self.terminal, termios.FIONREAD, count)
        finally:
            termios.tcsetattr(self.terminal, termios.TCSANOW, settings)
        return count[0]

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.master)
        os.close(self.terminal)


@unittest.skipUnless(ON_WINDOWS, "the Windows program's own console")
class WindowsConsole(unittest.TestCase):
    def test_prompts_show_before_each_read_and_the_interpreters_pause_takes_a_key(self):
        session = TerminalSession()
        self.addCleanup(session.close)
        for prompt, entry in DIALOGUE:
            session.wait_for(prompt)
            # Wine's console takes the terminal over when the first read begins; a key
            # typed before that would be the terminal's own.
            session.wait_for_key_mode()
            session.type(entry)
        shown = session.wait_for(WORKED_EXAMPLE_RESULT)
        session.wait_for(INTERPRETER_PAUSE_PROMPT, since=shown)
        # Wine says "Press any key to continue...", Windows "Press any key to continue . . . ".
        self.assertRegex(session.shown()[shown:], rb"^Press any key to continue( \. \. \.|\.\.\.) ")
        self.assertTrue(session.still_waiting_after(0.5), "the pause did not wait for a key")
        session.type(b"k")
        self.assertEqual(session.finish(), 0)


@unittest.skipIf(ON_WINDOWS, "the stand-in for pause on POSIX systems")
class AtATerminal(unittest.TestCase):
    def start_at_the_pause(self):
        """A new session, its dialogue answered, now waiting at the pause."""
        self.session = TerminalSession()
        self.addCleanup(self.session.close)
        self.session.answer_dialogue()
        return self.session

    def test_prompts_show_before_each_read_and_pause_takes_one_whole_key(self):
        # The arrow key's bytes in two writes, the first read alone: the rest
        # must be taken as part of the same key. Until an attempt delivers the
        # rest in time, what happens to it proves nothing.
        for _ in range(SPLIT_KEY_ATTEMPTS):
            session = self.start_at_the_pause()
            self.assertTrue(session.still_waiting_after(0.5), "the pause did not wait for a key")
            self.assertTrue(session.in_key_mode(), "the pause left line mode or echo on")

            in_time = session.type_split_key(ARROW_UP[:1], ARROW_UP[1:])
            self.assertEqual(session.finish(), 0)
            self.assertTrue(session.screen.endswith(PAUSE_PROMPT + b"\r\n"),
                            f"screen ends {session.screen[-60:]!r}")
            self.assertEqual(session.settings(), session.settings_before)
            if in_time:
                self.assertEqual(session.unread_input_size(), 0,
                                 "part of the key was left for the shell")
                return
        self.fail(f"the rest of the key never came within {SAME_KEY_SECONDS} s of its first "
                  f"byte in {SPLIT_KEY_ATTEMPTS} attempts: too busy a machine to tell")

    def test_settings_restored_when_a_signal_ends_the_pause(self):
        for number in ENDING_SIGNALS:
            with self.subTest(signal_name(number)):
                session = self.start_at_the_pause()
                self.assertNotEqual(session.settings(), session.settings_before)
                session.process.send_signal(number)
                self.assertEqual(session.finish(), -number)
                self.assertEqual(session.settings(), session.settings_before)

    def test_a_write_of_the_prompt_that_raises_a_signal_ends_the_run_by_it(self):
        # Standard output a file at its size limit: the first write of the
        # prompt raises SIGXFSZ. A pipe whose reader has gone: the prompt,
        # written again on SIGCONT, raises SIGPIPE.
        for number in (signal.SIGXFSZ, signal.SIGPIPE):
            with self.subTest(signal.Signals(number).name):
                if number == signal.SIGXFSZ:
                    session = self.start_with_output_in_a_file_that_fills_at_the_prompt()
                else:
                    session = self.start_at_the_pause_writing_to_a_pipe()
                    session.stop_reading_output()
                    session.process.send_signal(signal.SIGCONT)
                self.assertEqual(session.finish(), -number)
                self.assertEqual(session.settings(), session.settings_before)

    def start_with_output_in_a_file_that_fills_at_the_prompt(self):
        output = tempfile.TemporaryFile()
        self.addCleanup(output.close)
        limit = len(WORKED_EXAMPLE_OUTPUT)
        session = TerminalSession(stdout=output.fileno(), prepare=lambda: resource.setrlimit(
            resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY)))
        self.addCleanup(session.close)
        session.type(b"".join(entry for _, entry in DIALOGUE))
        return session

    def start_at_the_pause_writing_to_a_pipe(self):
        reader, writer = os.pipe()
        session = TerminalSession(stdout=writer, shown_on=reader)
        os.close(writer)
        self.addCleanup(session.close)
        for prompt, entry in DIALOGUE:
            session.wait_for(prompt)
            session.type(entry)
        session.wait_for(PAUSE_PROMPT)
        return session

    def test_stopped_by_any_means_waits_again_in_key_mode_once_continued(self):
        # As a shell does while its job is stopped, the terminal is put back
        # in line mode; continued, the program must take it back.
        session = self.start_at_the_pause()
        shown = len(session.screen)
        session.process.send_signal(signal.SIGSTOP)
        session.wait_until_stopped()
        termios.tcsetattr(session.terminal, termios.TCSANOW, session.settings_before)
        session.process.send_signal(signal.SIGCONT)
        session.wait_for(b"\r" + PAUSE_PROMPT, since=shown)
        session.wait_for_key_mode()
        session.type(b"k")
        self.assertEqual(session.finish(), 0)
        self.assertTrue(session.screen.endswith(PAUSE_PROMPT + b"\r\n"),
                        f"the key was echoed: {session.screen[-60:]!r}")
        self.assertEqual(session.settings(), session.settings_before)

    def test_keys_typed_at_the_pause_never_reach_the_shell_when_a_signal_ends_it(self):
        session = self.start_at_the_pause()
        session.process.send_signal(signal.SIGSTOP)
        session.wait_until_stopped()
        session.type(b"abc")
        session.process.send_signal(signal.SIGTERM)
        session.process.send_signal(signal.SIGCONT)
        self.assertEqual(session.finish(), -signal.SIGTERM)
        self.assertEqual(session.unread_input_size(), 0, "keys typed at the pause left for the shell")

    def test_a_held_key_ends_the_pause_at_once(self):
        # A key repeating every 20 ms, as a keyboard repeats a held key.
        session = self.start_at_the_pause()
        first_key_at = time.monotonic()
        while session.process.poll() is None and time.monotonic() - first_key_at < WAIT_SECONDS:
            session.type(b"k")
            time.sleep(0.02)
        ended_after = time.monotonic() - first_key_at
        self.assertEqual(session.finish(), 0)
        self.assertLess(ended_after, KEY_ENDS_PAUSE_SECONDS, "the pause outlasted a held key")

    def test_lost_output_is_reported_before_the_pause_waits(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full here (Linux has one)")
        with open("/dev/full", "wb") as full:
            session = TerminalSession(stdout=full.fileno())
        self.addCleanup(session.close)
        session.type(b"".join(entry for _, entry in DIALOGUE))
        session.wait_for(b"membership: cannot write standard output: No space left on device\r\n")
        session.wait_for_key_mode()
        self.assertTrue(session.still_waiting_after(0.2), "the pause did not wait for a key")
        session.type(b"k")
        self.assertEqual(session.finish(), 1)

    def test_signal_keys_at_the_pause_end_the_run_and_restore_settings(self):
        for key, number in ((b"\x03", signal.SIGINT), (b"\x1c", signal.SIGQUIT)):
            with self.subTest(signal.Signals(number).name):
                session = self.start_at_the_pause()
                session.type(key)
                self.assertEqual(session.finish(), -number)
                self.assertEqual(session.settings(), session.settings_before)

    def test_terminal_put_back_from_the_background_without_stopping(self):
        self.session = TerminalSession([sys.executable, "-c", FOREGROUND_THEN_BACKGROUND,
                                        *PROGRAM])
        self.addCleanup(self.session.close)
        self.session.answer_dialogue()
        self.session.process.send_signal(signal.SIGUSR1)
        self.assertEqual(self.session.finish(), 0, self.session.screen[-80:])
        self.assertEqual(self.session.settings(), self.session.settings_before)

    def test_input_typed_ahead_does_not_end_the_pause(self):
        self.session = TerminalSession()
        self.addCleanup(self.session.close)
        self.session.wait_for(b"Enter your choice: ")
        self.session.type(b"a\r6\rAnn\rX")  # the X before the pause has begun
        self.session.wait_for(RESULT_AND_PAUSE)
        self.assertTrue(self.session.still_waiting_after(0.5), "a key typed ahead ended the pause")
        self.assertEqual(self.session.unread_input_size(), 0, "typed-ahead input left for the shell")
        self.session.type(b"k")
        self.assertEqual(self.session.finish(), 0)


@unittest.skipIf(ON_WINDOWS or shutil.which("bash") is None, "job control is tried under bash")
class UnderAnInteractiveShell(unittest.TestCase):
    """The program as a job of `bash -i`: only a job in a shell's session can be stopped."""

    SHELL_PROMPT = b"shell> "
    # How bash reports a job that has ended: by SIGTERM, by exit 0, by another status.
    JOB_ENDINGS = (b"Terminated", b"Done", b"Exit")

    def setUp(self):
        home = tempfile.TemporaryDirectory()
        self.addCleanup(home.cleanup)
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home.name,
                       "PS1": self.SHELL_PROMPT.decode(), "TERM": "dumb", "INPUTRC": "/dev/null"}
        self.shell = TerminalSession(["bash", "--norc", "--noprofile", "-i"], env=environment)
        self.addCleanup(self.shell.close)
        self.shown = self.shell.wait_for(self.SHELL_PROMPT)

    def command(self, line):
        """Types a command line; returns where the shell's next prompt ends on the screen."""
        self.shell.type(line + b"\r")
        self.shown = self.shell.wait_for(self.SHELL_PROMPT, since=self.shown)
        return self.shown

    def start_program_at_the_pause(self):
        self.shell.type(shlex.join(PROGRAM).encode() + b"\r")
        self.shown = self.shell.answer_dialogue()

    def stop_with_control_z(self):
        self.shell.type(CONTROL_Z)
        self.shown = self.shell.wait_for(b"Stopped", since=self.shown)
        self.shown = self.shell.wait_for(self.SHELL_PROMPT, since=self.shown)

    def assert_last_status(self, status):
        self.command(b"echo status=$?")
        self.shell.wait_for(b"status=%d\r\n" % status, since=self.shown - len(self.SHELL_PROMPT) - 20)

    def press_key_ending_the_job(self):
        start = self.shown
        self.shell.type(b"k")
        self.shown = self.shell.wait_for(self.SHELL_PROMPT, since=start)
        self.assertEqual(self.shell.screen[start:self.shown], b"\r\n" + self.SHELL_PROMPT,
                         "the key was echoed or left for the shell")

    def test_stopped_then_brought_back_waits_again_for_one_key(self):
        self.start_program_at_the_pause()
        self.stop_with_control_z()
        self.shell.type(b"fg\r")
        self.shown = self.shell.wait_for(PAUSE_PROMPT, since=self.shown)
        self.assertTrue(self.shell.in_key_mode(), "back in the foreground but not in key mode")
        self.press_key_ending_the_job()
        self.assert_last_status(0)

    def test_terminated_after_moving_to_the_background(self):
        self.start_program_at_the_pause()
        self.stop_with_control_z()
        # In the background, taking the terminal again stops it until it is
        # in the foreground; SIGTERM must end it from there all the same.
        # bash's `kill` sends SIGCONT after SIGTERM only to a job it knows
        # is stopped, so the test waits until bash says so.
        self.wait_for_job_report(b"bg", b"Stopped")
        ending = self.wait_for_job_report(b"kill -TERM %1", *self.JOB_ENDINGS)
        self.assertEqual(ending, b"Terminated", "the job did not end by SIGTERM")

    def test_an_ignored_interrupt_stays_ignored(self):
        self.command(b"trap '' INT")
        self.start_program_at_the_pause()
        self.shell.type(b"\x03")
        time.sleep(0.5)
        self.assertNotIn(self.SHELL_PROMPT, self.shell.screen[self.shown:] + self.read_screen(),
                         "Ctrl-C ended the pause although SIGINT was ignored")
        self.press_key_ending_the_job()
        self.assert_last_status(0)

    def read_screen(self):
        self.shell.drain_screen()
        return self.shell.screen[self.shown:]

    def wait_for_job_report(self, line, *reports):
        """Types the command line, then asks `jobs` until the shell has shown one
        of `reports` of job 1 since the line; returns that one."""
        since = self.shown
        self.command(line)
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            shown = [report for report in reports if report in self.shell.screen[since:]]
            if shown:
                return shown[0]
            if time.monotonic() > deadline:
                raise AssertionError(f"none of {reports} in {self.shell.screen[since:][:300]!r}")
            time.sleep(0.05)
            self.command(b"jobs %1")

if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
