#!/usr/bin/env python3
"""The built program at a real pseudo-terminal: prompts, the pause, the terminal's settings.

Usage: test_terminal_run.py PROGRAM
"""
import array
import fcntl
import os
import select
import signal
import subprocess
import sys
import termios
import time
import unittest

if len(sys.argv) < 2:
    sys.exit(__doc__)
PROGRAM = sys.argv[1:]
PAUSE_PROMPT = b"Press any key to continue . . . "
WAIT_SECONDS = 10
ARROW_UP = b"\x1b[A"


def take_as_controlling_terminal():
    """In the child: the terminal becomes its controlling one, so Ctrl-C signals it."""
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


class TerminalSession:
    """The program with a pseudo-terminal as its standard streams."""

    def __init__(self):
        self.master, self.terminal = os.openpty()
        self.settings_before = termios.tcgetattr(self.terminal)
        self.process = subprocess.Popen(PROGRAM, stdin=self.terminal, stdout=self.terminal,
                                        stderr=self.terminal, start_new_session=True,
                                        preexec_fn=take_as_controlling_terminal)
        self.screen = b""

    def wait_for(self, text):
        """Reads the screen until `text` appears; fails if it does not in time."""
        deadline = time.monotonic() + WAIT_SECONDS
        while text not in self.screen:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                raise AssertionError(f"{text!r} not on screen; screen so far: {self.screen!r}")
            self.screen += os.read(self.master, 4096)

    def type(self, keys):
        os.write(self.master, keys)

    def settings(self):
        return termios.tcgetattr(self.terminal)

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
        while select.select([self.master], [], [], 0.2)[0]:
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                return
            if not chunk:
                return
            self.screen += chunk

    def unread_input_size(self):
        """How many typed bytes the program never read."""
        count = array.array("i", [0])
        fcntl.ioctl(self.terminal, termios.FIONREAD, count)
        return count[0]

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.master)
        os.close(self.terminal)


class AtATerminal(unittest.TestCase):
    def start_at_the_pause(self):
        """A new session, its dialogue answered, now waiting at the pause."""
        self.session = TerminalSession()
        self.addCleanup(self.session.close)
        # Each entry is typed only once its prompt is on the screen, so a
        # prompt left in a buffer would stall the run here.
        for prompt, entry in ((b"Enter your choice: ", b"a\r"),
                              (b"Enter How many Months? ", b"6\r"),
                              (b"Enter Your Name? ", b"Ann\r")):
            self.session.wait_for(prompt)
            self.session.type(entry)
        self.session.wait_for(b"Ann The Total Charge is $ 240.00\r\n" + PAUSE_PROMPT)
        return self.session

    def test_prompts_show_before_each_read_and_pause_takes_one_whole_key(self):
        self.start_at_the_pause()
        self.assertTrue(self.session.still_waiting_after(0.5), "the pause did not wait for a key")
        settings = self.session.settings()
        self.assertFalse(settings[3] & (termios.ICANON | termios.ECHO),
                         "the pause left line mode or echo on")

        self.session.type(ARROW_UP)
        self.assertEqual(self.session.finish(), 0)
        self.assertTrue(self.session.screen.endswith(PAUSE_PROMPT + b"\r\n"),
                        f"screen ends {self.session.screen[-60:]!r}")
        self.assertEqual(self.session.settings(), self.session.settings_before)
        self.assertEqual(self.session.unread_input_size(), 0, "part of the key was left for the shell")

    def test_settings_restored_when_a_signal_ends_the_pause(self):
        for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            with self.subTest(signal.Signals(number).name):
                session = self.start_at_the_pause()
                self.assertNotEqual(session.settings(), session.settings_before)
                session.process.send_signal(number)
                self.assertEqual(session.finish(), -number)
                self.assertEqual(session.settings(), session.settings_before)

    def test_control_c_at_the_pause_ends_the_run_and_restores_settings(self):
        self.start_at_the_pause()
        self.session.type(b"\x03")
        self.assertEqual(self.session.finish(), -signal.SIGINT)
        self.assertEqual(self.session.settings(), self.session.settings_before)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
