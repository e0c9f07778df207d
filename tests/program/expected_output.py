"""What the program writes, shared by the process-level tests."""

MENU = (
    b" Brenmoor Menu \n"
    b" A. Adult membership\n"
    b" B. Child membership\n"
    b" C. Senior membership\n"
    b" D. Family memmbership\n"
)
PROMPTS = b"Enter your choice: Enter How many Months? Enter Your Name? "
WORKED_EXAMPLE_INPUT = b"a\n6\nAnn\n"
WORKED_EXAMPLE_RESULT = b"Ann The Total Charge is $ 240.00\n"
WORKED_EXAMPLE_OUTPUT = MENU + PROMPTS + WORKED_EXAMPLE_RESULT
# Both Windows' and Wine's command interpreters start "pause" with this.
INTERPRETER_PAUSE_PROMPT = b"Press any key to continue"


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
