#!/usr/bin/env python3
"""The pause under random job control, as an adversary plays it.

Each run starts the program as the foreground job of a leader of the test's own (see
job_control.py), in a world of the run's own (SIGTSTP, SIGTTIN, SIGTTOU or SIGCONT ignored or
blocked from the start, descriptors in use past 1024, tostop), answers its dialogue and, once
the pause has the terminal in key mode, plays a random sequence of events, each after a random
delay (none, a few hundred microseconds, or a few milliseconds): keys, SIGTSTP, SIGTTIN,
SIGTTOU and SIGCONT sent by kill, Ctrl-Z typed, output held and let go (Ctrl-S, Ctrl-Q), the
job moved to the background (and continued there, as `bg` does), another job holding the
terminal with settings of its own and bytes typed for it, and back to the foreground with a
continue. Then, once the program has settled, output let go, the foreground, a continue, and
a key (or Ctrl-C). What must hold is checked at every step (job_control.play): the other job's
settings and keys its own while it holds the terminal, the terminal put back whenever the
program is seen stopped while its job holds it; and at the end, a key ends it, with 0 (or
Ctrl-C, by SIGINT), the terminal as it was before it started.
A failure prints the run's seed, its world and its events: `--seed SEED --runs 1` plays it
again. The first seed is the commit's (its hash's first 32 bits, where there is a checkout),
so that each commit plays runs of its own and plays them again.

Usage: job_control_torture.py [--runs N] [--seed S] COMMAND
"""
import argparse
import pathlib
import random
import signal
import subprocess
import sys
import termios
import time

from expected_output import PAUSE_PROMPT, WORKED_EXAMPLE_TYPED
from job_control import Leader, in_a_session_of_its_own, key_mode, play, wait_until

JOB_CONTROL = ["SIGTSTP", "SIGTTIN", "SIGTTOU", "SIGCONT"]


def world_of_a_run(rng):
    """What the program inherits: Leader.start's world, and whether tostop is set."""
    inherited = [getattr(signal, name) for name in JOB_CONTROL]
    return dict(
        ignored=[number for number in inherited if rng.random() < 0.15],
        blocked=[number for number in inherited if rng.random() < 0.15],
        descriptors=rng.choice([3, rng.randint(1024, 1100)]),
        tostop=rng.random() < 0.5,
    )


def events_of_a_run(rng):
    """The run's events, each a name and a delay in seconds, ending with the final ones."""
    events, program_holds, other_job = [], True, False
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
        delay = rng.choice([0, rng.uniform(0, 300e-6), rng.uniform(1e-3, 20e-3)])
        events.append((name, delay))
    return (
        events
        + [("settled", 0), ("Ctrl-Q", 0), ("fg" if not program_holds else "SIGCONT", 0)]
        + [(rng.choice(["key"] * 9 + ["Ctrl-C"]) + " until ended", 0)]
    )


def torture(command, runs, seed):
    leader = Leader()  # one for all runs: a session has one controlling terminal
    settings = leader.settings_before
    for run in range(runs):
        rng = random.Random(seed + run)
        world, events = world_of_a_run(rng), events_of_a_run(rng)
        tostop = world.pop("tostop")
        leader.settings_before = leader.set_settings(settings, termios.TOSTOP if tostop else 0)
        leader.start(command, **world)
        try:
            leader.type(WORKED_EXAMPLE_TYPED)
            leader.wait_to_see(PAUSE_PROMPT)
            wait_until(lambda: key_mode(leader.settings()), "in key mode at the pause")
            failure = play(leader, events)
        except AssertionError as error:
            failure = str(error)
        finally:
            leader.end()
        if failure:
            played = ", ".join(f"{name} +{delay * 1e6:.0f}us" for name, delay in events)
            return (
                f"run {run + 1} of {runs}: {failure}\n  world: {world}, tostop {tostop}\n"
                f"  events: {played}\n  again: --seed {seed + run} --runs 1"
            )
    return ""


def the_commits_seed():
    """The first 32 bits of the checkout's commit, or 1 where there is none."""
    here = pathlib.Path(__file__).parent
    asked = ["git", "-C", str(here), "rev-parse", "HEAD"]
    done = subprocess.run(asked, capture_output=True, text=True, check=False)
    return int(done.stdout[:8], 16) if done.returncode == 0 else 1


def main():
    parser = argparse.ArgumentParser(usage=__doc__.rsplit("Usage: ", 1)[1])
    parser.add_argument("--runs", type=int, default=100)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    if not options.command:
        parser.error("no program given")
    if options.seed is None:
        options.seed = the_commits_seed()
    print(f"{options.runs} runs from seed {options.seed}", flush=True)
    started = time.monotonic()
    failure = in_a_session_of_its_own(torture, options.command, options.runs, options.seed)
    if failure:
        sys.exit(f"FAILED: {failure}")
    print(f"all held, in {time.monotonic() - started:.0f} s")


if __name__ == "__main__":
    main()
