"""What the program writes, byte for byte, once for every process test and document check,
and the command line those tests share."""

import sys

MENU = (
    b" Brenmoor Menu \n"
    b" A. Adult membership\n"
    b" B. Child membership\n"
    b" C. Senior membership\n"
    b" D. Family memmbership\n"
)
PROMPT_LIST = (b"Enter your choice: ", b"Enter How many Months? ", b"Enter Your Name? ")
PROMPTS = b"".join(PROMPT_LIST)
# The worked example: six months of the Adult plan for Ann.
WORKED_EXAMPLE_ENTRIES = (b"a", b"6", b"Ann")
WORKED_EXAMPLE_INPUT = b"".join(entry + b"\n" for entry in WORKED_EXAMPLE_ENTRIES)
WORKED_EXAMPLE_RESULT = b"Ann The Total Charge is $ 240.00\n"
WORKED_EXAMPLE_OUTPUT = MENU + PROMPTS + WORKED_EXAMPLE_RESULT
PAUSE_PROMPT = b"Press any key to continue . . . "
# At a terminal, each entry shows with its line end after its prompt, as the README shows it.
WORKED_EXAMPLE_AT_A_TERMINAL = (
    MENU
    + b"".join(p + e + b"\n" for p, e in zip(PROMPT_LIST, WORKED_EXAMPLE_ENTRIES))
    + WORKED_EXAMPLE_RESULT
    + PAUSE_PROMPT
)
# Typed at a terminal, each entry ends with Enter; the terminal shows each line end as CR LF.
WORKED_EXAMPLE_TYPED = b"".join(entry + b"\r" for entry in WORKED_EXAMPLE_ENTRIES)
RESULT_AND_PAUSE_AT_A_TERMINAL = WORKED_EXAMPLE_RESULT.replace(b"\n", b"\r\n") + PAUSE_PROMPT
# Both Windows' and Wine's command interpreters start "pause" with this.
INTERPRETER_PAUSE_PROMPT = b"Press any key to continue"


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
