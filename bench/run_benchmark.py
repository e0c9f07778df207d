#!/usr/bin/env python3
"""Builds the bench preset and times whole-process runs of the shipped program.

Startup: the worked example (a, 6, Ann) through the shipped program, the same sources linked
dynamically, and a static program that writes the same output with one write(), in
alternating runs; the median of each and its ratio to that floor. A long name: 64 MiB of it
from a file, through the shipped program and a static C program that reads all its input and
writes it back, in alternating runs; the median, the spread and the peak memory of each, and
their ratios to the C program's. Where the library's scan for the name's end sits (its
offset in a 64-byte line moves the figure by up to a fifth): a layout shift, not a
regression. Then 48 MiB of blank lines before the month count. Each program is timed as
packages ship it: a stripped copy. Peak memory is /usr/bin/time's (a child of Python would
count Python's own).

Usage: python3 bench/run_benchmark.py [--runs N] [--long-runs N]
"""
import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"
SHIPPED, DYNAMIC, ONE_WRITE, READ_ALL = "shipped", "linked dynamically", "floor", "C, read all"
PROGRAMS = {
    SHIPPED: BUILD / "src" / "membership",
    DYNAMIC: BUILD / "bench" / "membership_dynamic",
    ONE_WRITE: BUILD / "bench" / "one_write_baseline",
    READ_ALL: BUILD / "bench" / "read_all_baseline",
}
MIB = 1 << 20
LONG_NAME = b"N" * (64 * MIB)
BLANK_LINES_RUNS = 5


def run_once(program, given, output=os.devnull):
    """One whole-process run's wall seconds, its input from the file `given`."""
    with open(given, "rb") as stdin, open(output, "wb") as stdout:
        files = [
            (os.POSIX_SPAWN_DUP2, stdin.fileno(), 0),
            (os.POSIX_SPAWN_DUP2, stdout.fileno(), 1),
        ]
        started = time.perf_counter()
        _, status = os.waitpid(os.posix_spawn(program, [program], {}, file_actions=files), 0)
        wall = time.perf_counter() - started
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{program} failed: {status}")
    return wall


class Scratch:
    def __init__(self, folder):
        self.folder = pathlib.Path(folder)

    def prepare(self, data, labels):
        """The input file holding `data`, and a stripped copy of each program named."""
        given = self.folder / "input"
        given.write_bytes(data)
        programs = {label: self.folder / PROGRAMS[label].name for label in labels}
        for label, copy in programs.items():
            subprocess.run(["strip", "-o", copy, PROGRAMS[label]], check=True)
        return given, programs

    def output_of(self, program, given):
        run_once(program, given, self.folder / "output")
        return (self.folder / "output").read_bytes()

    def peak_kib(self, program, given):
        report = self.folder / "peak"
        with open(given, "rb") as stdin:
            command = ["/usr/bin/time", "-f", "%M", "-o", report, program]
            subprocess.run(command, stdin=stdin, stdout=subprocess.DEVNULL, check=True)
        return int(report.read_text().split()[-1])


def alternate(programs, given, runs):
    """Each program's wall times over `runs` rounds; a different one goes first in
    each round, so none is favoured."""
    samples = {label: [] for label in programs}
    labels = list(programs)
    for index in range(runs):
        for label in labels[index % len(labels) :] + labels[: index % len(labels)]:
            samples[label].append(run_once(programs[label], given))
    return samples


def startup(scratch, runs):
    given, programs = scratch.prepare(b"a\n6\nAnn\n", [SHIPPED, DYNAMIC, ONE_WRITE])
    outputs = {scratch.output_of(program, given) for program in programs.values()}
    if len(outputs) != 1:
        sys.exit(f"the programs disagree on the worked example: {outputs}")
    samples = alternate(programs, given, runs)
    floor = statistics.median(samples[ONE_WRITE])
    print(f"startup, the worked example: median of {runs} alternating runs each")
    for label, times in samples.items():
        median = statistics.median(times)
        print(f"  {label:<20}{median * 1e6:>8.0f} us{median / floor:>7.2f}x")


def scan_loop_offset():
    """Where the library's extraction of a word, whose loop scans for its end, sits."""
    symbols = subprocess.run(["nm", "-C", PROGRAMS[SHIPPED]], capture_output=True, text=True)
    for line in symbols.stdout.splitlines():
        address, _, name = line.split(" ", 2)
        if name.startswith("std::basic_istream<char, std::char_traits<char> >& std::operator>>"):
            if "basic_string" in name:
                return int(address, 16)
    return None


def long_name(scratch, runs):
    given, programs = scratch.prepare(b"A\n3\n" + LONG_NAME + b"\n", [SHIPPED, READ_ALL])
    expected = LONG_NAME + b" The Total Charge is $ 120.00\n"
    if not scratch.output_of(programs[SHIPPED], given).endswith(expected):
        sys.exit("64 MiB name: not the name and its charge")
    samples = alternate(programs, given, runs)
    peaks = {label: scratch.peak_kib(program, given) for label, program in programs.items()}
    floor_time, floor_peak = statistics.median(samples[READ_ALL]), peaks[READ_ALL]
    print(f"a 64 MiB name from a file: {runs} alternating runs each")
    print(f"  {'':<24}{'median':>9}{'spread':>16}{'peak':>11}{'time':>8}{'peak':>7}")
    for label, times in samples.items():
        median, spread = statistics.median(times), f"{min(times) * 1e3:.0f}-{max(times) * 1e3:.0f}"
        print(
            f"  {label:<24}{median * 1e3:>6.0f} ms{spread:>13} ms{peaks[label] / 1024:>7.1f} MiB"
            f"{median / floor_time:>7.2f}x{peaks[label] / floor_peak:>6.2f}x"
        )
    address = scan_loop_offset()
    if address is not None:
        print(f"  the library's word extraction at {address:#x}: {address % 64} into its line")


def blank_lines(scratch):
    given, programs = scratch.prepare(b"A\n" + b"\n" * (48 * MIB) + b"12\nAnn\n", [SHIPPED])
    shipped = programs[SHIPPED]
    if not scratch.output_of(shipped, given).endswith(b"Ann The Total Charge is $ 480.00\n"):
        sys.exit("48 MiB of blank lines: not the charge")
    wall = statistics.median(run_once(shipped, given) for _ in range(BLANK_LINES_RUNS))
    print(
        f"48 MiB of blank lines before the months, the shipped program: median of "
        f"{BLANK_LINES_RUNS} runs {wall * 1e3:.0f} ms, "
        f"{scratch.peak_kib(shipped, given) / 1024:.1f} MiB peak"
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=300, help="startup runs per program")
    parser.add_argument("--long-runs", type=int, default=15, help="long-name runs per program")
    arguments = parser.parse_args()
    workflow = ["cmake", "--workflow", "--preset", "bench"]
    subprocess.run(workflow, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory() as folder:
        scratch = Scratch(folder)
        startup(scratch, arguments.runs)
        long_name(scratch, arguments.long_runs)
        blank_lines(scratch)


if __name__ == "__main__":
    main()
