#!/usr/bin/env python3
"""The built program as a process, its standard streams pipes, files and odd descriptors: a row
per promise of the manual's for the streams, the errors and the exit statuses; and what the
documents say it writes (and the README, the processors), checked against what it writes. No
failure stops the run: one run names every row and document that a change leaves behind.

Usage: test_piped_run.py --posix|--windows COMMAND...
COMMAND may start with an emulator (wine, say). A Windows program writes CR LF
line ends and its command interpreter's own "pause" prompt after the result.
"""
import os
import pathlib
import re
import resource
import select
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from expected_output import (
    CHARGE_LABEL,
    INTERPRETER_PAUSE_PROMPT,
    LOST_OUTPUT as LOST,
    MENU,
    PROMPTS,
    UNREADABLE_INPUT as UNREAD,
    WORKED_EXAMPLE_AT_A_TERMINAL,
    WORKED_EXAMPLE_ENTRIES,
    WORKED_EXAMPLE_INPUT,
    WORKED_EXAMPLE_OUTPUT,
    WORKED_EXAMPLE_RESULT,
    first_difference,
    platform_and_arguments,
    split_windows_output,
)
from job_control import WAIT_SECONDS, die_with_parent, process_state, wait_until

ON_WINDOWS, COMMAND = platform_and_arguments(__doc__)
TIMEOUT_SECONDS = 300  # a name of more than 1 GiB under an emulator
# Address space for the program that its start needs, but not a name twice as long.
MEMORY_LIMIT = 8 << 20
# More than a string of a 32-bit program holds (1 GiB less a byte).
HUGE_NAME_SIZE = 1_200_000_000
# The worked example's entries before its name, and the end of its result line.
BEFORE_THE_NAME = b"".join(entry + b"\n" for entry in WORKED_EXAMPLE_ENTRIES[:2])
WORKED_EXAMPLE_ENDING = CHARGE_LABEL + WORKED_EXAMPLE_RESULT.split(CHARGE_LABEL)[1]


ROOT = pathlib.Path(__file__).resolve().parents[2]
MANUAL = "packaging/membership.1.in"
# Each document that gives the plans, and how a plan reads there.
DOCUMENTED_PLANS = [
    ("README.md", r"^\| (?P<name>\w+) \| (?P<letter>[A-D]) \| (?P<rate>\d+) \|$"),
    (MANUAL, r"(?P<letter>[A-D]), (?P<name>\w+), (?P<rate>\d+)"),
    ("packaging/windows/README.txt", r"^  (?P<name>\w+) +(?P<letter>[A-D]) +(?P<rate>\d+)$"),
]
# Each total a document gives, and the entries it says give it.
DOCUMENTED_TOTALS = [
    ("README.md", r"another letter prices at ([-\d.]+)", b"x\n1\nX\n"),
    (MANUAL, r"-2 months of plan A is\n\.BR (-[\d.]+)", b"A\n-2\nX\n"),
    (MANUAL, r"no plan prints\n\.BR (-[\d.]+)", b"x\n-3\nX\n"),
    (MANUAL, r"99999999999 months of plan A print a one-space\nname and\n\.BR ([\d.]+)",
     b"A\n99999999999\nX\n"),
]  # fmt: skip
# Each worked example a document shows, and where: at a terminal, or with its entries piped.
WORKED_EXAMPLES = [
    ("README.md", r"\n```\n( Brenmoor Menu .*?)\n```", "terminal"),
    ("packaging/windows/README.txt", r"\n\n(  Enter your choice: .*?)\n\n", "terminal, no menu"),
    (MANUAL, r"\.EX\n\$ printf '(.*?)' \| membership\n(.*?)\n\.EE", "piped"),
]


def read_document(path):
    """The document as a reader sees it: the manual page's minus, backslash and quote read so."""
    text = (ROOT / path).read_text()
    return text.replace("\\-", "-").replace("\\e", "\\").replace("\\(aq", "'")


def is_32_bit_x86(path):
    """Whether the program is a 32-bit x86 ELF one, whose strings hold less than 1 GiB."""
    # The rows that need one run there alone: every 32-bit processor runs the same C++.
    with open(path, "rb") as program:
        header = program.read(20)
    return header[:5] == b"\x7fELF\x01" and header[18:20] == b"\x03\x00"


def run(given=b"", stdin=None, stdout=subprocess.PIPE, preexec_fn=None, arguments=()):
    """Runs the program, `given` piped in, or `stdin`; preexec_fn may close or limit a thing."""
    source = {"input": given} if stdin is None else {"stdin": stdin}
    options = {"stderr": subprocess.PIPE, "timeout": TIMEOUT_SECONDS, "check": False}
    command, before = COMMAND + list(arguments), preexec_fn or (lambda: None)
    return subprocess.run(
        command,
        **source,
        stdout=stdout,
        preexec_fn=lambda: [die_with_parent(), before()],
        **options,
    )


def read_until(pipe, text=None, shown=b""):
    """Reads the pipe until `shown` holds `text` (None: its end), within WAIT_SECONDS."""
    deadline = time.monotonic() + WAIT_SECONDS
    while text is None or text not in shown:
        ready = select.select([pipe], [], [], max(deadline - time.monotonic(), 0))[0]
        more = os.read(pipe, 65536) if ready else b""
        if not more and (text or not ready):
            then, due = "its end" if ready else f"nothing in {WAIT_SECONDS} s", text or "its end"
            raise AssertionError(f"came {shown[-80:]!r}, then {then}; due {due!r}")
        if not more:
            break
        shown += more
    return shown


def where(what):
    """A row's words and its own line, which its failure then names."""
    return f"{what} ({pathlib.Path(__file__).name}:{sys._getframe(2).f_lineno})"


def row(what, status, report, given=b"", out=None, do=None, ending=b""):
    what = where(what)
    return dict(what=what, status=status, report=report, given=given, out=out, do=do, ending=ending)


def shown(what, arguments, given, shown_name, total):
    return where(what), arguments, given, shown_name, total


def limit(kind, size):
    return lambda: resource.setrlimit(kind, (size, size))


def close(descriptor):
    return lambda: os.close(descriptor)


def ignore(number):
    return lambda: signal.signal(number, signal.SIG_IGN)


class PipedRun(unittest.TestCase):
    def assert_dialogue(self, done, result_line):
        """The whole output is the menu, prompts and result line, byte for byte."""
        output = done.stdout
        if ON_WINDOWS:
            output, pause_prompt = split_windows_output(output)
            self.assertEqual(
                pause_prompt[: len(INTERPRETER_PAUSE_PROMPT)], INTERPRETER_PAUSE_PROMPT
            )
        due = MENU + PROMPTS + result_line
        self.assertEqual(output, due, first_difference(output, due))
        self.assertEqual((done.stderr, done.returncode), (b"", 0))

    def test_whole_output_byte_for_byte(self):
        # Each row: the manual's words, the arguments, the input, the name and the total
        # the result line shows.
        name, ctrl_z = b"N" * 16370, b"" if ON_WINDOWS else b"\x1aLee"
        cases = [
            shown("any arguments are ignored", [b"--help"], WORKED_EXAMPLE_INPUT, b"Ann",
                  b"240.00"),
            # Windows reads CR LF as one line end; elsewhere the CR is whitespace that ends
            # the name. Either way the CR never reaches the output.
            shown("line ends may be LF or CR LF", [], b"c\r\n3\r\nAnn\r\n", b"Ann", b"90.00"),
            shown("a Ctrl-Z byte ends the input on Windows alone", [], b"c\n3\nAnn\x1aLee\n",
                  b"Ann" + ctrl_z, b"90.00"),
            shown("output across its blocks", [], b"C\n2\n" + name + b"\n", name, b"60.00"),
        ]  # fmt: skip
        for what, arguments, given, shown_name, total in cases:
            with self.subTest(what):
                result_line = shown_name + CHARGE_LABEL + total + b"\n"
                self.assert_dialogue(run(given, arguments=arguments), result_line)

    def test_the_documents_give_the_plans_as_the_program_prices_them(self):
        # The program's own menu and charges are the reference: a month of each plan.
        menu = re.findall(rb"^ ([A-D])\. (\w+) ", run().stdout, re.MULTILINE)
        self.assertEqual(len(menu), 4, "no menu of four plans")
        plans = set()
        for letter, name in menu:
            charge = re.search(
                b"X" + re.escape(CHARGE_LABEL) + rb"(\d+)\.00", run(letter + b"\n1\nX\n").stdout
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
                shown = run(given).stdout.split(CHARGE_LABEL)[-1].split()[0].decode()
                self.assertEqual(said[1], shown, f"{document}'s total for {given!r}")
        for document, sample, where in WORKED_EXAMPLES:
            with self.subTest(document):
                shown = re.search(sample, read_document(document), re.DOTALL)
                self.assertTrue(shown, f"no worked example in {document}")
                if where == "piped":
                    self.assertEqual(shown[1].replace("\\n", "\n").encode(), WORKED_EXAMPLE_INPUT)
                    due = run(WORKED_EXAMPLE_INPUT).stdout
                    due = split_windows_output(due)[0] if ON_WINDOWS else due
                else:
                    due = WORKED_EXAMPLE_AT_A_TERMINAL
                    if where.endswith("no menu"):
                        due = b"\n".join(b"  " + line for line in due[len(MENU) :].split(b"\n"))
                # Trailing spaces are lost in a manual page's example, and an editor's.
                lines = [line.rstrip() for line in shown[shown.lastindex].split("\n")]
                due = [line.rstrip() for line in due.decode().rstrip("\n").split("\n")]
                if lines != due:
                    self.fail(first_difference("\n".join(lines), "\n".join(due)))

    def test_the_readme_gives_the_processors_the_release_has(self):
        # Each row of packaging/linux-processors.txt, by its Debian, uname and RPM names.
        rows = (ROOT / "packaging/linux-processors.txt").read_text().splitlines()
        due = {(r[0], r[2], r[4].strip("-")) for r in map(str.split, rows) if r and r[0][0] != "#"}
        table = r"^\| [^|]+ \| `([a-z0-9_]+)` \| `([a-z0-9_]+)` \|\s*`?([a-z0-9_]*)`?\s*\|"
        came = set(re.findall(table, read_document("README.md"), re.MULTILINE))
        if came != due:
            self.fail(f"README.md's processors (DEBIAN, UNAME, RPM) lack {due - came} of"
                      f" packaging/linux-processors.txt, and have {came - due} beside")  # fmt: skip


@unittest.skipIf(ON_WINDOWS, "closed descriptors, limits and POSIX signals")
class PosixDescriptors(unittest.TestCase):
    def test_each_exit_status_and_report_of_the_manual(self):
        # The dialogue is what the input read gives; only the status and report differ.
        # Each row: the manual's words, the status and the report due, and the run: standard
        # input (`given` piped, or a descriptor), standard output (`out`: "/dev/full", "a
        # file", "a reader gone", or the test's pipe), what to `do` before the program
        # starts, and the output's `ending` where it is read.
        directory = os.open("/", os.O_RDONLY)
        self.addCleanup(os.close, directory)
        none_read = b" " + CHARGE_LABEL + b"0.00\n"
        full, closed = LOST + b"No space left on device\n", b"Bad file descriptor\n"
        name = BEFORE_THE_NAME + b"N" * (2 * MEMORY_LIMIT) + b"\n"
        fsize = limit(resource.RLIMIT_FSIZE, 40)
        # Too long for a string, or for the memory left (a 32-bit MIPS program has 2 GiB).
        too_long = [
            UNREAD + b"Value too large for defined data type\n",
            UNREAD + b"Cannot allocate memory\n",
        ]
        cases = [
            row("0: the end of input is no failure", 0, b"", ending=none_read),
            row("1: output to a full disk", 1, full, given=WORKED_EXAMPLE_INPUT, out="/dev/full"),
            row("1: output to a closed descriptor", 1, LOST + closed, do=close(1)),
            row("1: input from a directory", 1, UNREAD + b"Is a directory\n", given=directory,
                ending=none_read),
            row("1: input from a closed descriptor", 1, UNREAD + closed, do=close(0),
                ending=none_read),
            row("1: both, each its own reason", 1, full + UNREAD + closed, out="/dev/full",
                do=close(0)),
            row("1: too little memory", 1, UNREAD + b"Cannot allocate memory\n", given=name,
                do=limit(resource.RLIMIT_AS, MEMORY_LIMIT), ending=WORKED_EXAMPLE_ENDING),
            row("1: a name longer than a string holds", 1, too_long, given="huge",
                ending=WORKED_EXAMPLE_ENDING),
            row("141: SIGPIPE, the reader gone", -signal.SIGPIPE, b"", out="a reader gone"),
            row("1: Broken pipe, SIGPIPE ignored", 1, LOST + b"Broken pipe\n",
                out="a reader gone", do=ignore(signal.SIGPIPE)),
            row("153: SIGXFSZ, the file size limit", -signal.SIGXFSZ, b"", out="a file", do=fsize),
            row("1: File too large, SIGXFSZ ignored", 1, LOST + b"File too large\n", out="a file",
                do=lambda: [fsize(), ignore(signal.SIGXFSZ)()]),
        ]  # fmt: skip
        # Not every row runs everywhere.
        if not self.starts_within_the_memory_limit():  # under an emulator or a sanitizer
            cases = [case for case in cases if "memory" not in case["what"]]
        if not is_32_bit_x86(COMMAND[-1]):  # one 32-bit processor is enough (i386)
            cases = [case for case in cases if case["given"] != "huge"]
        for case in cases:
            with self.subTest(case["what"]):
                given = case["given"]
                if given == "huge":
                    given = self.huge_name_input()
                source = {"given": given} if isinstance(given, bytes) else {"stdin": given}
                out = self.standard_output(case["out"])
                done = run(**source, stdout=out, preexec_fn=case["do"])
                reports = case["report"] if isinstance(case["report"], list) else [case["report"]]
                ending = case["ending"]
                came = (done.returncode, done.stderr, done.stdout[-len(ending) :] if ending else "")
                due = (case["status"], done.stderr if done.stderr in reports else reports[0])
                self.assertEqual(came, due + (ending or "",), "status, report, the output's end")
                if ending:
                    start = done.stdout[: len(MENU + PROMPTS)]
                    self.assertEqual(start, MENU + PROMPTS, first_difference(start, MENU + PROMPTS))

    def standard_output(self, kind):
        """Standard output: None (the test's pipe), a device, a file, or a pipe, its reader gone."""
        if kind is None:
            return subprocess.PIPE
        if kind == "a file":
            return self.closed_at_the_end(tempfile.TemporaryFile())
        if kind == "a reader gone":
            reader, writer = os.pipe()
            os.close(reader)
            self.addCleanup(os.close, writer)
            return writer
        return self.closed_at_the_end(open(kind, "wb"))

    def closed_at_the_end(self, file):
        self.addCleanup(file.close)
        return file

    def huge_name_input(self):
        """The worked example's entries, a name of HUGE_NAME_SIZE bytes, in a sparse file."""
        file = self.closed_at_the_end(tempfile.TemporaryFile())
        file.write(BEFORE_THE_NAME)
        file.seek(HUGE_NAME_SIZE, os.SEEK_CUR)  # NUL bytes: a word's like any other
        file.write(b" tail\n")
        file.seek(0)
        return file

    def starts_within_the_memory_limit(self):
        """Not under an emulator or a sanitizer, which need more address space."""
        done = run(WORKED_EXAMPLE_INPUT, preexec_fn=limit(resource.RLIMIT_AS, MEMORY_LIMIT))
        return done.returncode == 0 and done.stdout.endswith(b"\n")

    def test_a_file_is_left_just_past_what_the_dialogue_took(self):
        # For whatever reads standard input next, as `{ membership; cat; } < file` does: the
        # rest of the name's line and every later line, however far the program read ahead.
        # Where the input starts in the file: past 2 GiB, a 32-bit program needs 64-bit
        # positions (the file is sparse there).
        tail = b"x" * 40_000
        long_name = b"A\n3\n" + b"N" * 12_000 + b" Lee\nnext\n"
        cases = [
            ("the worked example", WORKED_EXAMPLE_INPUT + b"next\n", b"\nnext\n", 0),
            ("past the name", b"A\n6\nAnn Lee\nnext\n", b" Lee\nnext\n", 0),
            ("past whatever the last read took", b"A\nsix\nAnn\n", b"six\nAnn\n", 0),
            ("past more than it read ahead", WORKED_EXAMPLE_INPUT + tail, b"\n" + tail, 0),
            ("past a long name", long_name, b" Lee\nnext\n", 0),
            ("past a name beyond 3 GiB", long_name, b" Lee\nnext\n", 3 << 30),
            ("at the end of the file", WORKED_EXAMPLE_INPUT.rstrip(), b"", 0),
        ]
        for what, given, rest, start in cases:
            with self.subTest(what), tempfile.TemporaryFile() as file:
                file.seek(start)
                file.write(given)
                file.seek(start)
                run(stdin=file)
                self.assertEqual(file.read(), rest)
        # A pipe cannot be given back what was read from it: up to 16 KiB is gone.
        reader, writer = os.pipe()
        os.write(writer, WORKED_EXAMPLE_INPUT + tail)
        os.close(writer)
        with self.subTest("a pipe: up to 16 KiB after the last entry gone"), open(
            reader, "rb"
        ) as pipe:
            run(stdin=pipe)
            rest = pipe.read()
            gone = len(tail) - len(rest)
            self.assertTrue(
                tail.endswith(rest) and gone <= 16 << 10, f"{gone} bytes gone; at most 16 KiB due"
            )

    def test_a_stream_left_non_blocking_is_waited_on(self):
        # O_NONBLOCK belongs to the open file, which the child shares: a read or write that
        # would block must wait, as on a blocking stream, neither failing nor spinning. The
        # input comes once the program waits for it; the output, a large name, is read once
        # the program waits for the pipe to take more.
        name = b"N" * 1_000_000
        cases = [
            # Its name ends with the input: a read at the end, where errno is still EAGAIN.
            ("input", WORKED_EXAMPLE_INPUT.rstrip(), WORKED_EXAMPLE_OUTPUT),
            ("output", b"C\n2\n" + name + b"\n",
             MENU + PROMPTS + name + CHARGE_LABEL + b"60.00\n"),
        ]  # fmt: skip
        for non_blocking, given, due in cases:
            with self.subTest(non_blocking):
                input_reader, input_writer = os.pipe()
                output_reader, output_writer = os.pipe()
                os.set_blocking(input_reader if non_blocking == "input" else output_writer, False)
                program = subprocess.Popen(
                    COMMAND, stdin=input_reader, stdout=output_writer, preexec_fn=die_with_parent
                )
                self.addCleanup(program.kill)
                self.addCleanup(os.close, output_reader)
                os.close(input_reader)
                os.close(output_writer)
                waits = lambda: process_state(program.pid) == "S"  # noqa: E731
                shown = read_until(output_reader, PROMPTS[:19])
                wait_until(waits, "waited for its input, as it spins or has ended")
                with open(input_writer, "wb") as typed:
                    typed.write(given)
                if non_blocking == "output":
                    wait_until(waits, "waited for the pipe, as it spins or has ended")
                else:
                    wait_until(lambda: program.poll() is not None, "ended, as it spins")
                shown = read_until(output_reader, shown=shown)
                self.assertEqual(shown, due, first_difference(shown, due))
                self.assertEqual(program.wait(timeout=WAIT_SECONDS), 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
