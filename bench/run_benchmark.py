#!/usr/bin/env python3
"""Builds the bench preset and times whole-process runs of the shipped program.

Startup: the worked example (a, 6, Ann) through the shipped program, the same
sources linked dynamically, and a static program that writes the same output
with one write(), in alternating runs; the median of each and its ratio to
that floor. A long name: 64 MiB of it from a file, through the shipped program
and a static C program that reads all its input and writes it back, in
alternating runs; the median, the spread and the peak memory of each, and
their ratios to the C program's. Where the library's scan for the name's end
sits (its offset in a 64-byte line moves the figure by up to a fifth): a
layout shift, not a regression. Then 48 MiB of blank lines before the month
count. Each program is timed as packages ship it: a stripped copy. Peak
memory is /usr/bin/time's (a child of Python would count Python's own).

Usage: python3 bench/run_benchmark.py [--runs N] [--long-runs N]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "bench")
SHIPPED = os.path.join(BUILD, "src", "membership")
STARTUP_PROGRAMS = {
    "shipped": SHIPPED,
    "linked dynamically": os.path.join(BUILD, "bench", "membership_dynamic"),
    "floor, one write()": os.path.join(BUILD, "bench", "one_write_baseline"),
}
LONG_NAME_PROGRAMS = {
    "shipped": SHIPPED,
    "C, read all, write back": os.path.join(BUILD, "bench", "read_all_baseline"),
}
WORKED_EXAMPLE = b"a\n6\nAnn\n"
MIB = 1 << 20
LONG_NAME = b"N" * (64 * MIB)
BLANK_LINES = b"A\n" + b"\n" * (48 * MIB) + b"12\nAnn\n"
BLANK_LINES_RUNS = 5


def build():
    for step in (["cmake", "--preset", "bench"], ["cmake", "--build", "--preset", "bench"]):
        subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def run_once(program, input_path, output_path=os.devnull):
    """One whole-process run's wall seconds."""
    given = os.open(input_path, os.O_RDONLY)
    taken = os.open(output_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        started = time.perf_counter()
        pid = os.posix_spawn(
            program,
            [program],
            {},
            file_actions=[(os.POSIX_SPAWN_DUP2, given, 0), (os.POSIX_SPAWN_DUP2, taken, 1)],
        )
        _, status = os.waitpid(pid, 0)
        wall = time.perf_counter() - started
    finally:
        os.close(given)
        os.close(taken)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{program} failed: {status}")
    return wall


def peak_kib(program, input_path, scratch):
    report = os.path.join(scratch, "peak")
    with open(input_path, "rb") as given:
        subprocess.run(
            ["/usr/bin/time", "-f", "%M", "-o", report, program],
            stdin=given,
            stdout=subprocess.DEVNULL,
            check=True,
        )
    with open(report, encoding="ascii") as peak:
        return int(peak.read().split()[-1])


def output_of(program, input_path, scratch):
    path = os.path.join(scratch, "output")
    run_once(program, input_path, path)
    with open(path, "rb") as output:
        return output.read()


def write_input(scratch, data):
    path = os.path.join(scratch, "input")
    with open(path, "wb") as given:
        given.write(data)
    return path


def stripped_copy(program, scratch):
    copy = os.path.join(scratch, os.path.basename(program))
    subprocess.run(["strip", "-o", copy, program], check=True)
    return copy


def alternate(programs, input_path, runs):
    """Each program's wall times over `runs` rounds; a different one goes first in
    each round, so none is favoured."""
    samples = {label: [] for label in programs}
    labels = list(programs)
    for index in range(runs):
        for label in labels[index % len(labels) :] + labels[: index % len(labels)]:
            samples[label].append(run_once(programs[label], input_path))
    return samples


def startup(scratch, runs):
    input_path = write_input(scratch, WORKED_EXAMPLE)
    programs = {
        label: stripped_copy(program, scratch) for label, program in STARTUP_PROGRAMS.items()
    }
    outputs = {output_of(program, input_path, scratch) for program in programs.values()}
    if len(outputs) != 1:
        sys.exit(f"the programs disagree on the worked example: {outputs}")
    samples = alternate(programs, input_path, runs)
    floor = statistics.median(samples["floor, one write()"])
    print(f"startup, the worked example: median of {runs} alternating runs each")
    for label, times in samples.items():
        median = statistics.median(times)
        print(f"  {label:<20}{median * 1e6:>8.0f} us{median / floor:>7.2f}x")


def scan_loop_offset():
    """Where the library's extraction of a word, whose loop scans for its end, sits."""
    symbols = subprocess.run(["nm", "-C", SHIPPED], capture_output=True, text=True).stdout
    for line in symbols.splitlines():
        address, _, name = line.split(" ", 2)
        if name.startswith("std::basic_istream<char, std::char_traits<char> >& std::operator>>"):
            if "basic_string" in name:
                return int(address, 16)
    return None


def long_name(scratch, runs):
    input_path = write_input(scratch, b"A\n3\n" + LONG_NAME + b"\n")
    programs = {
        label: stripped_copy(program, scratch) for label, program in LONG_NAME_PROGRAMS.items()
    }
    expected = LONG_NAME + b" The Total Charge is $ 120.00\n"
    if not output_of(programs["shipped"], input_path, scratch).endswith(expected):
        sys.exit("64 MiB name: not the name and its charge")
    samples = alternate(programs, input_path, runs)
    peaks = {label: peak_kib(program, input_path, scratch) for label, program in programs.items()}
    floor_time = statistics.median(samples["C, read all, write back"])
    floor_peak = peaks["C, read all, write back"]
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
        print(
            f"  the library's word extraction at {address:#x}: {address % 64} into its 64-byte line"
        )


def blank_lines(scratch):
    input_path = write_input(scratch, BLANK_LINES)
    if not output_of(SHIPPED, input_path, scratch).endswith(b"Ann The Total Charge is $ 480.00\n"):
        sys.exit("48 MiB of blank lines: not the charge")
    wall = statistics.median(run_once(SHIPPED, input_path) for _ in range(BLANK_LINES_RUNS))
    peak = peak_kib(SHIPPED, input_path, scratch)
    print(
        f"48 MiB of blank lines before the months, the shipped program: median of "
        f"{BLANK_LINES_RUNS} runs {wall * 1e3:.0f} ms, {peak / 1024:.1f} MiB peak"
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=300, help="startup runs per program")
    parser.add_argument("--long-runs", type=int, default=15, help="long-name runs per program")
    arguments = parser.parse_args()
    build()
    with tempfile.TemporaryDirectory() as scratch:
        startup(scratch, arguments.runs)
        long_name(scratch, arguments.long_runs)
        blank_lines(scratch)


if __name__ == "__main__":
    main()
