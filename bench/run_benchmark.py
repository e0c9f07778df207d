#!/usr/bin/env python3
"""Builds the Release program and its stdio-synchronised twin, then times both on
a typical entry, a 64 MiB name and 48 MiB of blank lines before the month count.

Prints, per input, the median whole-process wall time and the peak resident
memory (/usr/bin/time -f %M) of each, and the speed-up.

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
PROGRAMS = {
    "unsynchronised (shipped)": os.path.join(BUILD, "src", "membership"),
    "stdio-synchronised": os.path.join(BUILD, "bench", "membership_stdio_synced"),
}
MIB = 1 << 20
INPUTS = {
    "typical entry": lambda: b"a\n6\nAnn\n",
    "64 MiB name": lambda: b"A\n3\n" + b"N" * (64 * MIB) + b"\n",
    "48 MiB of blank lines": lambda: b"A\n" + b"\n" * (48 * MIB) + b"12\nAnn\n",
}


def build():
    for step in (["cmake", "--preset", "bench"], ["cmake", "--build", "--preset", "bench"]):
        subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def measure(program, input_path, scratch):
    """One run: (wall seconds, peak KiB, end of the result line)."""
    report_path = os.path.join(scratch, "time.txt")
    output_path = os.path.join(scratch, "output")
    with open(input_path, "rb") as given, open(output_path, "wb") as output:
        started = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report_path, program],
                       stdin=given, stdout=output, check=True)
        wall = time.perf_counter() - started
    with open(report_path, encoding="ascii") as report:
        peak_kib = int(report.read().split()[-1])
    with open(output_path, "rb") as output:
        output.seek(max(0, os.path.getsize(output_path) - 40))
        return wall, peak_kib, output.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5, help="runs per program and input")
    runs = parser.parse_args().runs

    build()
    rows = []
    with tempfile.TemporaryDirectory() as scratch:
        for input_name, make in INPUTS.items():
            input_path = os.path.join(scratch, "input")
            data = make()
            with open(input_path, "wb") as given:
                given.write(data)
            results = {}
            for label, program in PROGRAMS.items():
                samples = [measure(program, input_path, scratch) for _ in range(runs)]
                results[label] = (statistics.median(s[0] for s in samples),
                                  max(s[1] for s in samples), {s[2] for s in samples})
            outputs = set().union(*(r[2] for r in results.values()))
            if len(outputs) != 1:
                sys.exit(f"{input_name}: the programs disagree: {outputs}")
            rows.append((input_name, len(data), results))

    shipped, synced = PROGRAMS
    print(f"median of {runs} runs; peak = maximum resident set")
    print(f"{'input':<24}{'size MiB':>9}  {'shipped s':>10}{'peak MiB':>9}"
          f"  {'synced s':>9}{'peak MiB':>9}  {'speed-up':>8}")
    for input_name, size, results in rows:
        fast, slow = results[shipped], results[synced]
        print(f"{input_name:<24}{size / MIB:>9.1f}  {fast[0]:>10.3f}{fast[1] / 1024:>9.1f}"
              f"  {slow[0]:>9.3f}{slow[1] / 1024:>9.1f}  {slow[0] / fast[0]:>7.1f}x")


if __name__ == "__main__":
    main()
