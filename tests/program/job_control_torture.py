#!/usr/bin/env python3
"""The pause under random job control, as an adversary plays it. Each run is a scene
(job_control.scene) of a random world (SIGTSTP, SIGTTIN, SIGTTOU or SIGCONT ignored or
blocked from the start, descriptors in use past 1024, tostop) and random events at the pause,
each after a random delay (none, a few hundred microseconds, or a few milliseconds): keys,
stops and continues sent and typed, output held and let go, the job moved to the background
(and continued there, as `bg` does), another job holding the terminal with settings and keys
of its own, and back. Then a key (or Ctrl-C) ends it. What must hold is checked at every
step (job_control.play). The first seed is the commit's, so that each commit plays runs of
its own; a failure prints the run's world and events, and the arguments that play it again.

Usage: job_control_torture.py [--runs N] [--seed S] COMMAND
"""
import argparse
import pathlib
import random
import signal
import subprocess
import sys
import time

from job_control import in_sessions_of_their_own, scene

JOB_CONTROL = ["SIGTSTP", "SIGTTIN", "SIGTTOU", "SIGCONT"]
RUNS_AT_ONCE = 4


def world_of_a_run(rng):
    """What the program inherits (Leader.start's world, and tostop)."""
    inherited = [getattr(signal, name) for name in JOB_CONTROL]
    return dict(
        ignored=[number for number in inherited if rng.random() < 0.15],
        blocked=[number for number in inherited if rng.random() < 0.15],
        descriptors=rng.choice([3, rng.randint(1024, 1100)]),
        tostop=rng.random() < 0.5,
    )


def events_of_a_run(rng):
    """The run's events, each a name and a delay in seconds, ending with the final ones."""
    events, program_holds, other_job = [("prompted 1", 0)], True, False
    for _ in range(rng.randint(5, 60)):
        if program_holds:
            name = rng.choice(["key", "Ctrl-Z", "Ctrl-S", "Ctrl-Q", "bg", "bg, continued"])
            name = rng.choice([name, *JOB_CONTROL])
        elif other_job:
            name = rng.choice(["fg", *JOB_CONTROL])
        else:
            name = rng.choice(["other job", "fg", *JOB_CONTROL])
        program_holds = (program_holds and not name.startswith("bg")) or name == "fg"
        other_job = (other_job or name == "other job") and not program_holds
        events.append((name, rng.choice([0, rng.uniform(0, 300e-6), rng.uniform(1e-3, 20e-3)])))
    last = ["settled", "Ctrl-Q", "fg" if not program_holds else "SIGCONT"]
    last.append(rng.choice(["key"] * 9 + ["Ctrl-C"]) + " until ended, as a shell")
    return events + [(name, 0) for name in last]


def run(command, seed):
    rng = random.Random(seed)
    world, events = world_of_a_run(rng), events_of_a_run(rng)
    failure = scene(command, events, **world)
    if "(at 'prompted 1')" in failure:  # before any event: the run is no matter
        return f"{failure}; the dialogue and its prompt: the unit tests and the terminal test"
    played = ", ".join(f"{name} +{delay * 1e6:.0f}us" for name, delay in events)
    return failure and f"{failure}\n  world: {world}\n  events: {played}\n  again: --seed {seed}"


def the_commits_seed():
    """The first 32 bits of the checkout's commit, or 1 where there is none."""
    asked = ["git", "-C", str(pathlib.Path(__file__).parent), "rev-parse", "HEAD"]
    done = subprocess.run(asked, capture_output=True, text=True, check=False)
    return int(done.stdout[:8], 16) if done.returncode == 0 else 1


def main():
    parser = argparse.ArgumentParser(usage=__doc__.rsplit("Usage: ", 1)[1])
    parser.add_argument("--runs", type=int, default=100)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("command", nargs="+")
    options = parser.parse_args()
    seed = the_commits_seed() if options.seed is None else options.seed
    print(f"{options.runs} runs from seed {seed}", flush=True)
    started = time.monotonic()
    bodies = [lambda s=seed + i: run(options.command, s) for i in range(options.runs)]
    failures = [f for f in in_sessions_of_their_own(bodies, RUNS_AT_ONCE) if f]
    if failures:
        sys.exit(f"FAILED: {len(failures)} of {options.runs} runs; the first: {failures[0]}")
    print(f"all held, in {time.monotonic() - started:.0f} s")


if __name__ == "__main__":
    main()
