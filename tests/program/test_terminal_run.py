#!/usr/bin/env python3
"""The built program at a real pseudo-terminal, as the job of a leader of the test's own
(job_control.py): a row per promise of the manual's NOTES and BUGS that only the kernel shows
(what the pause decides is the unit tests'). The worked example first (a changed dialogue stops
the run there), then scenes of keys, signals and job control at the pause, and scenes of the program
with hooks at its calls on the terminal, built beside it (membership_with_call_hooks), which
act as a call is due. With --windows, the Windows program as a person at a console
meets it: in a console of the command interpreter's (under Wine, which draws it on the
terminal), and its pause.
Usage: test_terminal_run.py --posix|--windows COMMAND...   (COMMAND may start with an emulator)
"""
import os
import pathlib
import random
import re
import signal
import subprocess
import sys
import time
import unittest

from expected_output import (
    INTERPRETER_PAUSE_PROMPT,
    PAUSE_PROMPT,
    PROMPT_LIST,
    WORKED_EXAMPLE_AT_A_TERMINAL,
    WORKED_EXAMPLE_ENTRIES,
    WORKED_EXAMPLE_OUTPUT,
    WORKED_EXAMPLE_RESULT,
    first_difference,
    platform_and_arguments,
)
from job_control import (
    Leader,
    in_sessions_of_their_own,
    key_mode,
    pause_for,
    scene,
    settings_left,
    wait_until,
)

ON_WINDOWS, COMMAND = platform_and_arguments(__doc__)
EMULATOR = COMMAND[:-1]
BESIDE = pathlib.Path(COMMAND[-1]).parent  # where the build puts the helpers
HOOKED = BESIDE / "membership_with_call_hooks"
# Each key at the pause: its first byte, what is typed after it and how long after, and whether
# that is dropped with the key (it comes within 50 ms of the first byte) or reaches the shell.
KEY_WINDOW = 0.05
KEYS_AT_THE_PAUSE = [
    ("an arrow key's rest, within 50 ms, is dropped with it", b"\x1b", b"[A", 0.04, True),
    ("a held key's repeat, within 50 ms, is dropped with it", b"k", b"k", 0.04, True),
    ("a paste, within 50 ms, is dropped whole", b"e", b"echo pasted\n" * 1700, 0, True),
    ("what comes later reaches the shell", b"k", b"ls", 0.06, False),
]
SPLIT_KEY_ATTEMPTS = 10
# Scenes played at once, each in a session of its own: they wait on what the program shows.
SCENES_AT_ONCE = 4
# Wine's first start in a new prefix, on a loaded machine, was seen to stall some 10 s at a read.
WINE_SECONDS = 60
JOB_CONTROL = ["SIGTSTP", "SIGTTIN", "SIGTTOU", "SIGCONT"]


def statically_linked(path):
    """Whether the ELF program has no loader, which needs a descriptor: no .interp section."""
    with open(path, "rb") as program:
        return b".interp" not in program.read()


def ignored_or_blocked(number, events):
    """The scene again with the signal ignored from the start, and again with it blocked."""
    name = signal.Signals(number).name
    return [(f"the same, {name} {how}", {how: [number]}, events) for how in ("ignored", "blocked")]


# Each scene: the promise it checks, the world it begins in (Leader.start's), and its events
# (job_control.play's), one after another.
# fmt: off
EXITS, KEY = "ends at once", "prompted 1; key until ended"
CONTINUED = "prompted 1; SIGSTOP; settled; shell's settings; SIGCONT; prompted 2; key until ended"
SCENES = [
    ("standard input not a terminal: it exits at once", {"stdin": "not a terminal"}, EXITS),
    ("a terminal not its own: at once", {"stdin": "another terminal"}, EXITS),
    ("its terminal's controlling side: at once", {"stdin": "its terminal's master", "stdout": True},
     EXITS),
    ("it waits with no descriptor to spare", {"no_descriptor_to_spare": True}, KEY),
    ("it waits with descriptors past 1024 in use", {"descriptors": 1030}, KEY),
    ("standard output a file: the prompt goes there, and it waits for a key", {"stdout": True},
     "in key mode; key until ended; the file holds the prompt"),
    ("a signal that the prompt's write raises ends it by that signal",
     {"stdout": True, "file_size": len(WORKED_EXAMPLE_OUTPUT)}, "ends by SIGXFSZ"),
    ("Ctrl-C ends it by SIGINT, held too", {}, "prompted 1; Ctrl-C held; ends by SIGINT"),
    ("Ctrl-\\ ends it by SIGQUIT", {}, "prompted 1; Ctrl-\\; ends by SIGQUIT"),
    ("keys typed while it is stopped never reach the shell when a signal ends it", {},
     "prompted 1; SIGSTOP; abc; SIGTERM; SIGCONT; ends by SIGTERM"),
    ("hung up, SIGHUP ignored, it ends with 1", {"ignored": [signal.SIGHUP]},
     "prompted 1; hung up"),
    ("in a PID namespace of its own it waits; Ctrl-C, which cannot end it there, does not",
     {"pid_namespace": True}, "prompted 1; Ctrl-C; prompted 2; key until ended"),
    ("each stop, Ctrl-Z, SIGTTIN or SIGTTOU, puts the terminal back; a continue takes it", {},
     "prompted 1; Ctrl-Z; stopped; SIGCONT; prompted 2; SIGTTIN; stopped; SIGCONT; prompted 3; "
     "SIGTTOU; stopped; SIGCONT; prompted 4; key until ended"),
    ("continued, however it was stopped, it takes the terminal again", {}, CONTINUED),
    *ignored_or_blocked(signal.SIGCONT, CONTINUED),
    ("in a group no shell could continue, a stop puts the terminal back, and it takes it again",
     {"orphaned": True}, "prompted 1; Ctrl-Z; prompted 2; SIGTTIN; prompted 3; key until ended"),
    ("in the background of such a group, it leaves the other job's screen as it is",
     {"orphaned": True}, "prompted 1; bg, another group; other job; ends by 0"),
    ("in a PID namespace at a shell, Ctrl-Z stops its job, and once brought back it waits",
     {"pid_namespace": True},
     "prompted 1; Ctrl-Z; stopped; bg; shell's settings; key; Enter; settled; fg; prompted 2; "
     "key until ended"),
]
BROUGHT_BACK = "fg; prompted 1; key until ended"
IN_THE_BACKGROUND = "waiting for a key; free; bg; key; stopped; fg; prompted 2; key until ended"
BEGUN_IN_THE_BACKGROUND = "at tcgetpgrp; bg; other job; free; stopped; " + BROUGHT_BACK
HELD_OUTPUT = "at pselect on output; Ctrl-S; free; settled; "
HOOKED_SCENES = [
    ("what was typed before its prompt is dropped; ignored signals stay ignored",
     {"typed": b"X", "ignored": [signal.SIGINT, signal.SIGTTOU, signal.SIGCONT]},
     "at pselect on input; nothing typed left; free; Ctrl-C; key until ended"),
    ("begun in the background, it stops before it reads or sets the terminal", {},
     BEGUN_IN_THE_BACKGROUND),
    *ignored_or_blocked(signal.SIGTTOU, BEGUN_IN_THE_BACKGROUND),
    ("brought back just as it first sets the terminal, it puts back its own job's settings", {},
     "at tcgetpgrp; bg; other job; at tcsetattr to key mode or a stop; fg; free; key until ended"),
    ("the result is on the screen before the pause waits", {},
     "at pselect on output; the result shown; free; prompted 1; key until ended"),
    ("moved to the background as its prompt is due, it stops before writing it", {},
     "at pselect on output; bg; free; stopped; unprompted; " + BROUGHT_BACK),
    ("moved there just after that check, it writes the prompt there, tostop too, and waits",
     {"tostop": True}, "at tcdrain; at write to output; bg; free; settled; fg; prompted 2; "
     "key until ended"),
    ("a stop as it begins to wait for a key stops it", {},
     "at pselect on input; Ctrl-Z; free; stopped; SIGCONT; key until ended"),
    ("a key read in the background stops it", {}, IN_THE_BACKGROUND),
    ("the same, SIGTTIN ignored", {"ignored": [signal.SIGTTIN]}, IN_THE_BACKGROUND),
    ("ended as another job takes the terminal, it leaves that job's settings and keys", {},
     "waiting for a key; SIGTERM; at tcsetattr to put back; bg; other job; free; ends by SIGTERM"),
    ("stopped by its own SIGTTOU in the background, a shell's kill ends it", {},
     "waiting for a key; free; bg; other job; SIGCONT; stopped; SIGTERM; SIGCONT; ends by SIGTERM"),
    ("a continue just before it stops is not lost", {},
     "waiting for a key; Ctrl-Z; at kill; SIGCONT; free; key until ended"),
    ("a stop after that continue stops it", {},
     "waiting for a key; Ctrl-Z; at kill; SIGCONT taken; Ctrl-Z; free; stopped; SIGCONT; "
     "key until ended"),
    ("moved to the background as it puts the terminal back after the key, it does so once"
     " brought back", {},
     "waiting for a key; key; at tcsetattr to put back; bg; free; stopped; fg; ends by 0"),
    ("stopped while its output is held (Ctrl-S), it prompts once brought back", {},
     HELD_OUTPUT + "Ctrl-Z; stopped; Ctrl-Q; SIGCONT; key until ended"),
    ("ended while its output is held", {}, HELD_OUTPUT + "SIGTERM; ends by SIGTERM"),
]
# fmt: on


def random_run(seed):
    """A scene of random job control, as an adversary plays it."""
    # A random world (a job-control signal ignored or blocked from the start, descriptors past
    # 1024, tostop), then random events, each after no delay, a few hundred microseconds or a
    # few milliseconds; then a key (or Ctrl-C) ends it.
    rng = random.Random(seed)
    world = dict(
        ignored=[getattr(signal, name) for name in JOB_CONTROL if rng.random() < 0.15],
        blocked=[getattr(signal, name) for name in JOB_CONTROL if rng.random() < 0.15],
        descriptors=rng.choice([3, rng.randint(1024, 1100)]),
        tostop=rng.random() < 0.5,
    )
    events, program_holds, other_job = [("prompted 1", 0)], True, False
    for _ in range(rng.randint(5, 60)):
        if program_holds:
            name = rng.choice(["key", "Ctrl-Z", "Ctrl-S", "Ctrl-Q", "bg", "bg, continued"])
            name = rng.choice([name, *JOB_CONTROL])
        else:
            name = rng.choice(["fg", *JOB_CONTROL] + ([] if other_job else ["other job"]))
        program_holds = (program_holds and not name.startswith("bg")) or name == "fg"
        other_job = (other_job or name == "other job") and not program_holds
        events.append((name, rng.choice([0, rng.uniform(0, 300e-6), rng.uniform(1e-3, 20e-3)])))
    last = ["settled", "Ctrl-Q", "fg" if not program_holds else "SIGCONT"]
    last.append(rng.choice(["key"] * 9 + ["Ctrl-C"]) + " until ended, as a shell")
    events += [(name, 0) for name in last]
    played = ", ".join(f"{name} +{delay * 1e6:.0f}us" for name, delay in events)
    return f"random, MEMBERSHIP_RANDOM_SEED={seed}: {world}; {played}", world, events


def the_commits_seed():
    """The first 32 bits of the checkout's commit, or 1 where there is none."""
    asked = ["git", "-C", str(pathlib.Path(__file__).parent), "rev-parse", "HEAD"]
    done = subprocess.run(asked, capture_output=True, text=True, check=False)
    return int(done.stdout[:8], 16) if done.returncode == 0 else 1


def wine_screen(drawn):
    """What Wine draws, as text."""
    # Wine draws a console with escape sequences, a space at the end of what it writes as a
    # move to the right, and its line ends as CR CR LF: the moves are read as spaces, the rest
    # of them and the CRs dropped.
    text = re.sub(rb"\x1b\[(\d*)C", lambda move: b" " * int(move[1] or 1), drawn)
    text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07", b"", text)
    return text.replace(b"\r", b"")


def play_scenes(test, command, scenes):
    """Plays each (what, world, events) scene in a session of its own, a few at a time."""
    bodies = [lambda w=world, e=events: scene(command, e, **w) for _, world, events in scenes]
    fail_each(test, scenes, bodies, SCENES_AT_ONCE)


def fail_each(test, rows, bodies, at_once=1):
    """Runs each row's body in a session of its own; a row whose body did not hold fails."""
    for (what, *_), outcome in zip(rows, in_sessions_of_their_own(bodies, at_once)):
        with test.subTest(what):
            if outcome:
                test.fail(outcome)


@unittest.skipUnless(ON_WINDOWS, "the Windows program's own console")
class WindowsConsole(unittest.TestCase):
    def test_prompts_show_before_each_read_and_the_interpreters_pause_takes_a_key(self):
        # Started by the command interpreter, as from a command prompt, under a shell:
        # Wine's console takes no keys from a terminal its session leader controls (seen
        # with Wine 8). It draws on a terminal of a kind it knows.
        def meet_it():
            os.environ["TERM"] = "xterm"
            leader = Leader()
            leader.start(["/bin/sh", "-c", '"$@"', "sh", *EMULATOR, "cmd", "/c", COMMAND[-1]])

            def drawn():
                return wine_screen(leader.read(0.01))[-300:]

            try:
                for prompt, entry in zip(PROMPT_LIST, WORKED_EXAMPLE_ENTRIES):
                    wait_until(lambda: prompt in drawn(), f"drawn {prompt}", WINE_SECONDS, drawn)
                    # Wine's console takes the terminal over when the first read begins; a
                    # key typed before that would be the terminal's own.
                    wait_until(lambda: key_mode(leader.settings()), "in key mode", WINE_SECONDS)
                    leader.type(entry + b"\r")
                # Wine says "Press any key to continue...", Windows "...continue . . . ".
                shown = re.escape(WORKED_EXAMPLE_RESULT + INTERPRETER_PAUSE_PROMPT)
                shown += rb"( \. \. \.|\.\.\.) "
                wait_until(lambda: re.search(shown, drawn()), "paused", WINE_SECONDS, drawn)
                time.sleep(0.5)  # nothing of Wine's tells that its pause waits
                if leader.ended():
                    return "the pause did not wait for a key"
                leader.type(b"k")
                wait_until(leader.ended, "ended by the key")
                return "" if leader.status == 0 else f"ended with {leader.status}"
            finally:
                leader.end()

        fail_each(self, [("the Windows console",)], [meet_it])


@unittest.skipIf(ON_WINDOWS, "the stand-in for pause on POSIX systems")
class AtATerminal(unittest.TestCase):
    def test_first_the_worked_example_and_one_whole_key_at_the_pause(self):
        # The key's first byte is read alone, then the rest typed: in the window, timed from the
        # first byte typed; past it, from the first byte seen read. An attempt whose timing
        # missed (a look or the rest late, or the program slow to put the terminal back) proves
        # nothing: it says why, and is made again.
        def one_try(leader, first, rest, after, dropped):
            leader.start(COMMAND)
            for prompt, entry in zip(PROMPT_LIST, WORKED_EXAMPLE_ENTRIES):
                leader.wait_to_see(prompt)  # each prompt on screen before its read waits
                leader.type(entry + b"\r")
            leader.wait_to_see(PAUSE_PROMPT)
            screen = leader.read().replace(b"\r\n", b"\n")
            if screen != WORKED_EXAMPLE_AT_A_TERMINAL:
                return "the worked example at a terminal: " + first_difference(
                    screen, WORKED_EXAMPLE_AT_A_TERMINAL
                )
            wait_until(lambda: key_mode(leader.settings()), "in key mode at the pause")
            typed_at = time.monotonic()
            leader.type(first)
            wait_until(lambda: leader.unread() == 0, "the key's first byte read")
            pause_for((typed_at if dropped else time.monotonic()) + after - time.monotonic())
            looked, late = key_mode(leader.settings()), time.monotonic() - typed_at > KEY_WINDOW
            if looked != dropped:
                if dropped and not late:
                    return f"put back within {after * 1000:.0f} ms of the key"
                return None, "the pause still in key mode" if looked else "looked late"
            leader.type(rest)
            if dropped and time.monotonic() - typed_at > KEY_WINDOW:
                late = (time.monotonic() - typed_at) * 1000
                return None, f"the rest typed {late:.0f} ms on: not all taken within the window"
            wait_until(leader.ended, "ended by the key")
            shown, left = leader.read().rsplit(PAUSE_PROMPT, 1)[1], leader.unread()
            if leader.status != 0 or settings_left(leader):
                return f"ended with {leader.status}: {settings_left(leader) or 'settings put back'}"
            if dropped and (shown != b"\r\n" or left):
                return f"the key's rest echoed or left for the shell: {shown!r}, {left} unread"
            return "" if dropped or left == len(rest) else f"{left} of {rest!r} left for the shell"

        def tries(row):
            leader = Leader()
            for _ in range(SPLIT_KEY_ATTEMPTS):
                try:
                    outcome = one_try(leader, *row)
                finally:
                    leader.end()
                if isinstance(outcome, str):
                    return outcome
            return f"in {SPLIT_KEY_ATTEMPTS} tries, never timed; the last: {outcome[1]}"

        fail_each(
            self, KEYS_AT_THE_PAUSE, [lambda r=row: tries(r[1:]) for row in KEYS_AT_THE_PAUSE]
        )

    def test_scenes(self):
        # qemu-user stops a group no shell could continue, and ends a PID namespace's first
        # process by a signal it raises, as the kernel does not; and a program's loader, or
        # qemu, opens descriptors of its own.
        if EMULATOR:
            left_out = {"orphaned", "pid_namespace", "no_descriptor_to_spare"}
        else:
            left_out = set() if statically_linked(COMMAND[-1]) else {"no_descriptor_to_spare"}
        play_scenes(self, COMMAND, [row for row in SCENES if not left_out & set(row[1])])

    @unittest.skipIf(EMULATOR, "qemu-user's own job control would be played")
    def test_random_job_control(self):
        # As many runs as MEMBERSHIP_RANDOM_RUNS says, from the commit's seed, or from
        # MEMBERSHIP_RANDOM_SEED's: a failing run names its seed, to play it again alone.
        seed = int(os.environ.get("MEMBERSHIP_RANDOM_SEED") or the_commits_seed())
        runs = int(os.environ.get("MEMBERSHIP_RANDOM_RUNS", "12"))
        print(f"{runs} random runs from seed {seed}", file=sys.stderr, flush=True)
        play_scenes(self, COMMAND, [random_run(s) for s in range(seed, seed + runs)])


@unittest.skipIf(ON_WINDOWS or not HOOKED.exists(), f"no {HOOKED.name} beside the program")
class AtEachCallOnTheTerminal(unittest.TestCase):
    """Scenes in which the test acts as a call on the terminal is due, each held till then."""

    def test_scenes(self):
        scenes = [(what, dict(world, hooks=True), events) for what, world, events in HOOKED_SCENES]
        play_scenes(self, [str(HOOKED)], scenes)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2, failfast=True)
