#!/usr/bin/env python3
"""The built program as a process, with its standard streams redirected; and what the documents
say it writes, checked against what it writes.

Usage: test_piped_run.py --posix|--windows COMMAND...
COMMAND may start with an emulator (wine, say). A Windows program writes CR LF
line ends and its command interpreter's own "pause" prompt after the result.
"""
import contextlib
import os
import pathlib
import re
import resource
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from expected_output import (
    INTERPRETER_PAUSE_PROMPT,
    MENU,
    PROMPTS,
    WORKED_EXAMPLE_AT_A_TERMINAL,
    WORKED_EXAMPLE_INPUT,
    WORKED_EXAMPLE_OUTPUT,
    WORKED_EXAMPLE_RESULT,
    platform_and_arguments,
    split_windows_output,
)

ON_WINDOWS, COMMAND = platform_and_arguments(__doc__)
TIMEOUT_SECONDS = 300  # a name of more than 1 GiB under an emulator
# Address space for the program that its start needs, but not a name twice as long.
MEMORY_LIMIT = 32 << 20
# More than a string of a 32-bit program holds (1 GiB less a byte).
HUGE_NAME_SIZE = 1_200_000_000


ROOT = pathlib.Path(__file__).resolve().parents[2]
# Each document that gives the plans, and how a plan reads there.
DOCUMENTED_PLANS = [
    ("README.md", r"^\| (?P<name>\w+) \| (?P<letter>[A-D]) \| (?P<rate>\d+) \|$"),
    ("packaging/membership.1.in", r"(?P<letter>[A-D]), (?P<name>\w+), (?P<rate>\d+)"),
    ("packaging/windows/README.txt", r"^  (?P<name>\w+) +(?P<letter>[A-D]) +(?P<rate>\d+)$"),
]
# Each total a document gives, and the entries it says give it.
MANUAL = "packaging/membership.1.in"
DOCUMENTED_TOTALS = [
    ("README.md", r"another letter prices at ([-\d.]+)", b"x\n1\nX\n"),
    (MANUAL, r"-2 months of plan A is\n\.BR (-[\d.]+)", b"A\n-2\nX\n"),
    (MANUAL, r"no plan prints\n\.BR (-[\d.]+)", b"x\n-3\nX\n"),
    (
        MANUAL,
        r"99999999999 months of plan A print a one-space\nname and\n\.BR ([\d.]+)",
        b"A\n99999999999\nX\n",
    ),
]
# Each worked example a document shows, and where: at a terminal, or with its entries piped.
WORKED_EXAMPLES = [
    ("README.md", r"\n```\n( Brenmoor Menu .*?)\n```", "terminal"),
    ("packaging/windows/README.txt", r"\n\n(  Enter your choice: .*?)\n\n", "terminal, no menu"),
    (MANUAL, r"\.EX\n\$ printf '(.*?)' \| membership\n(.*?)\n\.EE", "piped"),
]


def read_document(path):
    """The document as a reader sees the words: the manual page's escapes for a minus, a
    backslash and a quote read as those characters."""
    text = (ROOT / path).read_text()
    return text.replace("\\-", "-").replace("\\e", "\\").replace("\\(aq", "'")


def is_32_bit_x86(path):
    """Whether the program is a 32-bit x86 ELF one: its strings hold less than 1 GiB. The
    rows that need one run there alone; every 32-bit processor runs the same C++."""
    with open(path, "rb") as program:
        header = program.read(20)
    return header[:5] == b"\x7fELF\x01" and header[18:20] == b"\x03\x00"


def run(given=b"", stdin=None, stdout=subprocess.PIPE, preexec_fn=None):
    """Runs the program with `given` piped in, or `stdin` as its standard input;
    preexec_fn may close a descriptor or set a limit."""
    source = {"input": given} if stdin is None else {"stdin": stdin}
    options = {"stderr": subprocess.PIPE, "timeout": TIMEOUT_SECONDS, "check": False}
    return subprocess.run(COMMAND, **source, stdout=stdout, preexec_fn=preexec_fn, **options)


class PipedRun(unittest.TestCase):
    def assert_dialogue(self, done, result_line):
        """The whole output is the menu, prompts and result line, byte for byte."""
        output = done.stdout
        if ON_WINDOWS:
            dialogue, pause_prompt = split_windows_output(output)
            self.assertTrue(
                pause_prompt.startswith(INTERPRETER_PAUSE_PROMPT),
                f"no pause prompt after the result: {pause_prompt!r}",
            )
            output = dialogue
        self.assertEqual(output, MENU + PROMPTS + result_line)
        self.assertEqual(done.stderr, b"")
        self.assertEqual(done.returncode, 0)

    def test_the_documents_give_the_plans_as_the_program_prices_them(self):
        # The program's own menu and charges are the reference: a month of each plan.
        menu = re.findall(rb"^ ([A-D])\. (\w+) ", run().stdout, re.MULTILINE)
        self.assertEqual(len(menu), 4, "no menu of four plans")
        plans = set()
        for letter, name in menu:
            charge = re.search(
                rb"X The Total Charge is \$ (\d+)\.00", run(letter + b"\n1\nX\n").stdout
            )
            self.assertTrue(charge, f"no whole charge for a month of plan {letter}")
            plans.add((letter.decode(), name.decode(), charge[1].decode()))
        for document, plan in DOCUMENTED_PLANS:
            with self.subTest(document):
                found = re.finditer(plan, read_document(document), re.MULTILINE)
                self.assertEqual({(m["letter"], m["name"], m["rate"]) for m in found}, plans)

    def test_the_documents_show_the_totals_and_worked_examples_the_program_writes(self):
        for document, total, given in DOCUMENTED_TOTALS:
            with self.subTest(document, given=given):
                said = re.search(total, read_document(document))
                self.assertTrue(said, f"{document} no longer says {total!r}")
                shown = run(given).stdout.split(b"Charge is $ ")[-1].split()[0].decode()
                self.assertEqual(said[1], shown, f"{document}'s total for {given!r}")
        for document, sample, where in WORKED_EXAMPLES:
            with self.subTest(document):
                shown = re.search(sample, read_document(document), re.DOTALL)
                self.assertTrue(shown, f"no worked example in {document}")
                if where == "piped":
                    self.assertEqual(shown[1].replace("\\n", "\n").encode(), WORKED_EXAMPLE_INPUT)
                    due = WORKED_EXAMPLE_OUTPUT
                else:
                    due = WORKED_EXAMPLE_AT_A_TERMINAL
                    if where.endswith("no menu"):
                        due = b"\n".join(b"  " + line for line in due[len(MENU) :].split(b"\n"))
                # Trailing spaces are lost in a manual page's example, and an editor's.
                lines = shown[shown.lastindex].split("\n")
                due_lines = due.decode().rstrip("\n").split("\n")
                self.assertEqual([line.rstrip() for line in lines], [x.rstrip() for x in due_lines])

    def test_whole_output_byte_for_byte(self):
        name = b"N" * (4 << 20)
        cases = [
            ("worked example", WORKED_EXAMPLE_INPUT, WORKED_EXAMPLE_RESULT),
            # Windows reads CR LF as one line end; elsewhere the CR is whitespace
            # that ends the name. Either way the CR never reaches the output.
            ("CR LF line ends", b"c\r\n3\r\nAnn\r\n", b"Ann The Total Charge is $ 90.00\n"),
            ("a 4 MiB name", b"C\n2\n" + name + b"\n", name + b" The Total Charge is $ 60.00\n"),
        ]
        for what, given, result_line in cases:
            with self.subTest(what):
                self.assert_dialogue(run(given), result_line)


@unittest.skipIf(ON_WINDOWS, "closing descriptors and /dev/full are POSIX matters")
class PosixDescriptors(unittest.TestCase):
    LOST_OUTPUT = b"membership: cannot write standard output: "
    UNREADABLE_INPUT = b"membership: cannot read standard input: "

    def test_unreadable_input_fails_after_the_whole_dialogue(self):
        # The dialogue is what the input read gives; only the status and report differ.
        directory = os.open("/", os.O_RDONLY)
        self.addCleanup(os.close, directory)
        nothing_read = b"  The Total Charge is $ 0.00\n"
        long_name = b"a\n5\n" + b"N" * (2 * MEMORY_LIMIT) + b"\n"
        # Too long for a string, or for the memory left (a 32-bit MIPS program has 2 GiB).
        too_long = (b"Value too large for defined data type", b"Cannot allocate memory")
        cases = [
            ("closed descriptor", None, lambda: os.close(0), nothing_read, b"Bad file descriptor"),
            ("a directory", directory, None, nothing_read, b"Is a directory"),
            (
                "a long name from a pipe, too little memory",
                long_name,
                self.limit_memory,
                b" The Total Charge is $ 200.00\n",
                b"Cannot allocate memory",
            ),
            # Read whole, the rest cut off silently, or an abort: each a fault.
            ("a name longer than a string holds, from a file", "huge", None, "", too_long),
            ("a name longer than a string holds, from a pipe", "huge|", None, "", too_long),
        ]
        # Not every row runs everywhere; a skip would end the loop (failfast).
        if not self.starts_within_the_memory_limit():  # under an emulator or a sanitizer
            cases = [case for case in cases if case[2] != self.limit_memory]
        if not is_32_bit_x86(COMMAND[-1]):  # one 32-bit processor is enough (i386)
            cases = [case for case in cases if case[1] not in ("huge", "huge|")]
        for what, source, prepare, result_line, reason in cases:
            with self.subTest(what):
                if source in ("huge", "huge|"):
                    source = self.huge_name_input(piped=source == "huge|")
                    result_line = b" The Total Charge is $ 240.00\n"
                piped = {"given": source} if isinstance(source, bytes) else {"stdin": source}
                done = run(**piped, preexec_fn=prepare)
                self.assertTrue(done.stdout.startswith(MENU + PROMPTS), done.stdout[:200])
                self.assertTrue(done.stdout.endswith(result_line), done.stdout[-200:])
                reasons = reason if isinstance(reason, tuple) else (reason,)
                self.assertIn(done.stderr, [self.UNREADABLE_INPUT + r + b"\n" for r in reasons])
                self.assertEqual(done.returncode, 1)

    def huge_name_input(self, piped):
        """The worked example's entries with a name of HUGE_NAME_SIZE bytes, from a
        sparse file, or from a pipe that `cat` fills from it."""
        file = tempfile.TemporaryFile()
        self.addCleanup(file.close)
        file.write(b"a\n6\n")
        file.seek(HUGE_NAME_SIZE, os.SEEK_CUR)  # NUL bytes: a word's like any other
        file.write(b" tail\n")
        file.seek(0)
        if not piped:
            return file
        cat = subprocess.Popen(["cat"], stdin=file, stdout=subprocess.PIPE)
        self.addCleanup(cat.wait)
        self.addCleanup(cat.stdout.close)
        return cat.stdout

    @staticmethod
    def limit_memory():
        resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))

    def starts_within_the_memory_limit(self):
        """Not under an emulator or a sanitizer, which need more address space."""
        done = run(WORKED_EXAMPLE_INPUT, preexec_fn=self.limit_memory)
        return done.returncode == 0 and done.stdout.endswith(WORKED_EXAMPLE_RESULT)

    def test_lost_output_fails_with_the_reason(self):
        # Reading a closed input fails too (EBADF): the write's reason stays its own.
        # A reader that has gone ends the program by SIGPIPE, unless that is ignored.
        enospc, ebadf = b"No space left on device\n", b"Bad file descriptor\n"

        def ignore_sigpipe():
            signal.signal(signal.SIGPIPE, signal.SIG_IGN)

        cases = [
            ("full device", "/dev/full", None, self.LOST_OUTPUT + enospc, 1),
            ("closed descriptor", None, lambda: os.close(1), self.LOST_OUTPUT + ebadf, 1),
            (
                "full device, input closed",
                "/dev/full",
                lambda: os.close(0),
                self.LOST_OUTPUT + enospc + self.UNREADABLE_INPUT + ebadf,
                1,
            ),
            ("reader gone", "pipe", None, b"", -signal.SIGPIPE),
            (
                "reader gone, SIGPIPE ignored",
                "pipe",
                ignore_sigpipe,
                self.LOST_OUTPUT + b"Broken pipe\n",
                1,
            ),
        ]
        for what, output, prepare, errors, status in cases:
            with self.subTest(what):
                if output == "/dev/full" and not os.path.exists(output):
                    self.skipTest(f"no {output} here (Linux has one)")
                with self.standard_output(output) as stdout:
                    done = run(stdout=stdout, preexec_fn=prepare)
                self.assertEqual(done.stderr, errors)
                self.assertEqual(done.returncode, status)

    def test_a_file_is_left_just_past_what_the_dialogue_took(self):
        # For whatever reads standard input next, as `{ membership; cat; } < file`
        # does: the rest of the name's line and every later line, however far the
        # program read ahead.
        # Where the input starts in the file: past 2 GiB, a 32-bit program needs
        # 64-bit positions (the file is sparse there). A long name within one read.
        tail = b"x" * 40_000
        long_name = b"A\n3\n" + b"N" * 12_000 + b" Lee\nnext\n"
        cases = [
            ("worked example", WORKED_EXAMPLE_INPUT + b"next\n", b"\nnext\n", 0),
            ("two-word name", b"A\n6\nAnn Lee\nnext\n", b" Lee\nnext\n", 0),
            ("months not a number", b"A\nsix\nAnn\n", b"six\nAnn\n", 0),
            ("a long tail", WORKED_EXAMPLE_INPUT + tail, b"\n" + tail, 0),
            ("a long name", long_name, b" Lee\nnext\n", 0),
            ("a long name past 3 GiB", long_name, b" Lee\nnext\n", 3 << 30),
            ("the end of the file", WORKED_EXAMPLE_INPUT.rstrip(), b"", 0),
        ]
        for what, given, rest, start in cases:
            with self.subTest(what), tempfile.TemporaryFile() as file:
                file.seek(start)
                file.write(given)
                file.seek(start)
                run(stdin=file)
                self.assertEqual(file.read(), rest)

    def test_non_blocking_descriptors_are_waited_on(self):
        # A parent may leave a descriptor non-blocking (O_NONBLOCK belongs to the
        # open file, which the child shares): a read or write that would block
        # must wait, not fail. The input comes once the first prompt is shown;
        # the output, a large name, is read slowly, so the pipe fills.
        name = b"N" * 1_000_000
        cases = [
            ("input", WORKED_EXAMPLE_INPUT, WORKED_EXAMPLE_RESULT),
            ("output", b"C\n2\n" + name + b"\n", name + b" The Total Charge is $ 60.00\n"),
        ]
        for non_blocking, given, result_line in cases:
            with self.subTest(non_blocking):
                input_reader, input_writer = os.pipe()
                output_reader, output_writer = os.pipe()
                os.set_blocking(input_reader if non_blocking == "input" else output_writer, False)
                program = subprocess.Popen(
                    COMMAND, stdin=input_reader, stdout=output_writer, stderr=subprocess.PIPE
                )
                os.close(input_reader)
                os.close(output_writer)
                with open(output_reader, "rb", buffering=0) as output:
                    shown = b""
                    while b"Enter your choice: " not in shown:
                        shown += output.read(4096) or self.fail(f"ended early: {shown!r}")
                    with open(input_writer, "wb") as typed:
                        typed.write(given)
                    while chunk := output.read(4096):
                        shown += chunk
                        time.sleep(0.001)
                self.assertEqual(shown, MENU + PROMPTS + result_line)
                self.assertEqual(program.stderr.read(), b"")
                self.assertEqual(program.wait(timeout=TIMEOUT_SECONDS), 0)
                program.stderr.close()

    @staticmethod
    @contextlib.contextmanager
    def standard_output(output):
        """A device opened for writing, a pipe with no reader, or None (the caller's)."""
        if output == "pipe":
            reader, writer = os.pipe()
            os.close(reader)
            try:
                yield writer
            finally:
                os.close(writer)
        elif output:
            with open(output, "wb") as device:
                yield device
        else:
            yield None


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2, failfast=True)
