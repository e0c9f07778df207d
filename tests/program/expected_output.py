"""What the program writes, shared by the process-level tests."""

MENU = (b" Brenmoor Menu \n"
        b" A. Adult membership\n"
        b" B. Child membership\n"
        b" C. Senior membership\n"
        b" D. Family memmbership\n")
PROMPTS = b"Enter your choice: Enter How many Months? Enter Your Name? "
WORKED_EXAMPLE_INPUT = b"a\n6\nAnn\n"
WORKED_EXAMPLE_OUTPUT = MENU + PROMPTS + b"Ann The Total Charge is $ 240.00\n"
# Both Windows' and Wine's command interpreters start "pause" with this.
INTERPRETER_PAUSE_PROMPT = b"Press any key to continue"


def split_windows_output(output):
    """A Windows run's output as (dialogue with LF line ends, what followed its last line).

    Raises ValueError on a bare CR, which no correct run writes.
    """
    if b"\r\r" in output or b"\r" in output.replace(b"\r\n", b""):
        raise ValueError(f"stray CR in {output!r}")
    output = output.replace(b"\r\n", b"\n")
    end = output.rfind(b"\n") + 1
    return output[:end], output[end:]
