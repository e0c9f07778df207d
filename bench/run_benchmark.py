#!/usr/bin/env python3
"""Builds the bench preset and times whole-process runs of the shipped program.

Startup: the worked example (a, 6, Ann) through the shipped program, the same
sources linked dynamically, and a static C program that writes the same output
with one write(), in alternating runs; the median of each and its ratio to the
C program. Each is timed as packages ship programs: a stripped copy.
Throughput: the shipped program on a 64 MiB name and on 48 MiB of blank lines
before the month count; the median time and the peak memory (/usr/bin/time -f
%M: a child of Python would count Python's own).

Usage: python3 bench/run_benchmark.py [--runs N]
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
    "C, one write()": os.path.join(BUILD, "bench", "one_write_baseline"),
}
WORKED_EXAMPLE = b"a\n6\nAnn\n"
MIB = 1 << 20
LARGE_INPUTS = {
    "64 MiB name": lambda: b"A\n3\n" + b"N" * (64 * MIB) + b"\n",
    "48 MiB of blank lines": lambda: b"A\n" + b"\n" * (48 * MIB) + b"12\nAnn\n",
}
LARGE_INPUT_RUNS = 5


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


def startup(scratch, runs):
    input_path = write_input(scratch, WORKED_EXAMPLE)
    programs = {
        label: stripped_copy(program, scratch) for label, program in STARTUP_PROGRAMS.items()
    }
    outputs = {output_of(program, input_path, scratch) for program in programs.values()}
    if len(outputs) != 1:
        sys.exit(f"the programs disagree on the worked example: {outputs}")
    samples = {label: [] for label in programs}
    labels = list(programs)
    for index in range(runs):
        # A different program goes first in each round, so none is favoured.
        for label in labels[index % len(labels) :] + labels[: index % len(labels)]:
            samples[label].append(run_once(programs[label], input_path))
    floor = statistics.median(samples["C, one write()"])
    print(f"startup, the worked example: median of {runs} alternating runs each")
    for label, times in samples.items():
        median = statistics.median(times)
        print(f"  {label:<20}{median * 1e6:>8.0f} us{median / floor:>7.2f}x")


def throughput(scratch):
    print(f"throughput, the shipped program: median of {LARGE_INPUT_RUNS} runs")
    for name, make in LARGE_INPUTS.items():
        input_path = write_input(scratch, make())
        if not output_of(SHIPPED, input_path, scratch).endswith(b"\n"):
            sys.exit(f"{name}: no result line")
        wall = statistics.median(run_once(SHIPPED, input_path) for _ in range(LARGE_INPUT_RUNS))
        peak = peak_kib(SHIPPED, input_path, scratch)
        print(f"  {name:<24}{wall:>8.3f} s{peak / 1024:>8.1f} MiB peak")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=300, help="startup runs per program")
    runs = parser.parse_args().runs
    build()
    with tempfile.TemporaryDirectory() as scratch:
        startup(scratch, runs)
        throughput(scratch)


if __name__ == "__main__":
    main()
