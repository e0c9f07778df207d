#!/usr/bin/env python3
"""The built program as a process, with its standard streams redirected.

Usage: test_piped_run.py PROGRAM [ARG...]
The command may start with an emulator (wine64 PROGRAM.exe, say).
"""
import os
import subprocess
import sys
import unittest

COMMAND = sys.argv[1:]

MENU = (b" Brenmoor Menu \n"
        b" A. Adult membership\n"
        b" B. Child membership\n"
        b" C. Senior membership\n"
        b" D. Family memmbership\n")
PROMPTS = b"Enter your choice: Enter How many Months? Enter Your Name? "
TIMEOUT_SECONDS = 60


def run(stdin, stdout=subprocess.PIPE, preexec_fn=None):
    return subprocess.run(COMMAND, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                          preexec_fn=preexec_fn, timeout=TIMEOUT_SECONDS, check=False)


def run_with_input(data):
    return subprocess.run(COMMAND, input=data, capture_output=True,
                          timeout=TIMEOUT_SECONDS, check=False)


class PipedRun(unittest.TestCase):
    def test_whole_output_byte_for_byte(self):
        cases = [
            ("worked example", b"a\n6\nAnn\n", b"Ann The Total Charge is $ 240.00\n"),
            ("empty input", b"", b"  The Total Charge is $ 0.00\n"),
            ("no plan, negative months", b"x\n-3\nAnn\n", b"Ann The Total Charge is $ -0.00\n"),
            ("largest month count", b"D\n2147483647\nMax\n",
             b"Max The Total Charge is $ 107374182350.00\n"),
        ]
        for what, given, result_line in cases:
            with self.subTest(what):
                done = run_with_input(given)
                self.assertEqual(done.stdout, MENU + PROMPTS + result_line)
                self.assertEqual(done.stderr, b"")
                self.assertEqual(done.returncode, 0)

    def test_closed_standard_input_reads_as_empty(self):
        done = run(stdin=None, preexec_fn=lambda: os.close(0))
        self.assertEqual(done.stdout, MENU + PROMPTS + b"  The Total Charge is $ 0.00\n")
        self.assertEqual(done.stderr, b"")
        self.assertEqual(done.returncode, 0)

    def test_large_name_passes_through_whole(self):
        name = b"N" * (4 << 20)
        done = run_with_input(b"C\n2\n" + name + b"\n")
        self.assertEqual(done.stdout, MENU + PROMPTS + name + b" The Total Charge is $ 60.00\n")
        self.assertEqual(done.returncode, 0)


@unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full")
class LostOutput(unittest.TestCase):
    def test_full_device_fails_with_reason(self):
        with open("/dev/full", "wb") as full:
            done = run(stdin=subprocess.DEVNULL, stdout=full)
        self.assertEqual(done.stderr,
                         b"membership: cannot write standard output: No space left on device\n")
        self.assertEqual(done.returncode, 1)

    def test_closed_standard_output_fails(self):
        done = run(stdin=subprocess.DEVNULL, stdout=None, preexec_fn=lambda: os.close(1))
        self.assertEqual(done.stderr,
                         b"membership: cannot write standard output: Bad file descriptor\n")
        self.assertEqual(done.returncode, 1)


if __name__ == "__main__":
    if not COMMAND:
        sys.exit(__doc__)
    unittest.main(argv=sys.argv[:1], verbosity=2)
