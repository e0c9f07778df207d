"""What the program writes, byte for byte, as tests/unit/dialogue_texts.hpp gives it (the one
place the tests have it), and the command line the process tests share."""

import ast
import pathlib
import re
import sys

HEADER = pathlib.Path(__file__).resolve().parents[1] / "unit" / "dialogue_texts.hpp"
TEXTS = {
    name: ast.literal_eval(f"({literals})").encode()
    for name, literals in re.findall(
        r"string_view k(\w+) =((?:\s*\"(?:[^\"\\]|\\.)*\")+);", HEADER.read_text()
    )
}
MENU, PAUSE_PROMPT, CHARGE_LABEL = TEXTS["Menu"], TEXTS["PausePrompt"], TEXTS["ChargeLabel"]
PROMPT_LIST = (TEXTS["ChoicePrompt"], TEXTS["MonthsPrompt"], TEXTS["NamePrompt"])
PROMPTS = b"".join(PROMPT_LIST)
WORKED_EXAMPLE_INPUT = TEXTS["WorkedExampleInput"]
WORKED_EXAMPLE_RESULT = TEXTS["WorkedExampleResult"]
WORKED_EXAMPLE_ENTRIES = WORKED_EXAMPLE_INPUT.split()
WORKED_EXAMPLE_OUTPUT = MENU + PROMPTS + WORKED_EXAMPLE_RESULT
# At a terminal, each entry shows with its line end after its prompt, as the README shows it.
WORKED_EXAMPLE_AT_A_TERMINAL = (
    MENU
    + b"".join(p + e + b"\n" for p, e in zip(PROMPT_LIST, WORKED_EXAMPLE_ENTRIES))
    + WORKED_EXAMPLE_RESULT
    + PAUSE_PROMPT
)
# Typed at a terminal, each entry ends with Enter.
WORKED_EXAMPLE_TYPED = b"".join(entry + b"\r" for entry in WORKED_EXAMPLE_ENTRIES)
# How a failure is reported, before its reason.
LOST_OUTPUT = b"membership: cannot write standard output: "
UNREADABLE_INPUT = b"membership: cannot read standard input: "
# Both Windows' and Wine's command interpreters start "pause" with this.
INTERPRETER_PAUSE_PROMPT = b"Press any key to continue"


def first_difference(came, due, context=24):
    """Where two texts first differ, in one line: a little of each around it, and their
    lengths (never the whole texts: a name may be long)."""
    at = next((i for i, (a, b) in enumerate(zip(came, due)) if a != b), min(len(came), len(due)))
    start, end = max(at - context, 0), at + context
    return (
        f"from byte {start}, came {came[start:end]!r} ({len(came)} bytes in all),"
        f" due {due[start:end]!r} ({len(due)})"
    )


def platform_and_arguments(usage):
    """The test's platform (True for --windows, False for --posix) and the rest of its
    arguments; the usage, and an exit, where the command line starts otherwise."""
    if len(sys.argv) < 3 or sys.argv[1] not in ("--posix", "--windows"):
        sys.exit(usage)
    return sys.argv[1] == "--windows", sys.argv[2:]


def split_windows_output(output):
    """A Windows run's output as (dialogue with LF line ends, what followed its last line).

    Raises ValueError on a CR or LF that is not part of a CR LF line end: a
    Windows console program writes its line ends in text mode.
    """
    rest = output.replace(b"\r\n", b"")
    if b"\r" in rest or b"\n" in rest:
        raise ValueError(f"a line end that is not CR LF in {output!r}")
    output = output.replace(b"\r\n", b"\n")
    end = output.rfind(b"\n") + 1
    return output[:end], output[end:]
