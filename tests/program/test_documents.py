#!/usr/bin/env python3
"""What a document says of the program, checked against what the built program does: its plans
and rates, the totals it gives and its worked example; and the README's processors, against
the release's (packaging/linux-processors.txt). Each document is a test of its own, so that
one run names every document that a changed fact leaves behind.

Usage: test_documents.py DOCUMENT PROGRAM   (DOCUMENT from the source's top: README.md, say)
"""
import pathlib
import re
import subprocess
import sys
import unittest

from expected_output import (
    CHARGE_LABEL,
    MENU,
    WORKED_EXAMPLE_AT_A_TERMINAL,
    WORKED_EXAMPLE_INPUT,
    first_difference,
)

if len(sys.argv) != 3:
    sys.exit(__doc__)
DOCUMENT, PROGRAM = sys.argv[1:]
ROOT = pathlib.Path(__file__).resolve().parents[2]
# Each document: how it gives a plan; each total it gives, and the entries it says give it;
# and its worked example, shown at a terminal (its entries echoed) or with its entries piped.
DOCUMENTS = {
    "README.md": (
        r"^\| (?P<name>\w+) \| (?P<letter>[A-D]) \| (?P<rate>\d+) \|$",
        [(r"another letter prices at ([-\d.]+)", b"x\n1\nX\n")],
        (r"\n```\n( Brenmoor Menu .*?)\n```", "terminal"),
    ),
    "packaging/membership.1.in": (
        r"(?P<letter>[A-D]), (?P<name>\w+), (?P<rate>\d+)",
        [
            (r"-2 months of plan A is\n\.BR (-[\d.]+)", b"A\n-2\nX\n"),
            (r"no plan prints\n\.BR (-[\d.]+)", b"x\n-3\nX\n"),
            (r"99999999999 months of plan A print a one-space\nname and\n\.BR ([\d.]+)",
             b"A\n99999999999\nX\n"),
        ],
        (r"\.EX\n\$ printf '(.*?)' \| membership\n(.*?)\n\.EE", "piped"),
    ),
    "packaging/windows/README.txt": (
        r"^  (?P<name>\w+) +(?P<letter>[A-D]) +(?P<rate>\d+)$",
        [],
        (r"\n\n(  Enter your choice: .*?)\n\n", "terminal, no menu"),
    ),
}  # fmt: skip
PLAN, TOTALS, (EXAMPLE, SHOWN) = DOCUMENTS[DOCUMENT]
# The document as a reader sees the words: the manual page's escapes for a minus, a backslash
# and a quote read as those characters.
TEXT = (ROOT / DOCUMENT).read_text().replace("\\-", "-").replace("\\e", "\\")
TEXT = TEXT.replace("\\(aq", "'")


def run(given=b""):
    return subprocess.run([PROGRAM], input=given, capture_output=True, timeout=60).stdout


class Document(unittest.TestCase):
    def test_it_gives_the_plans_as_the_program_prices_them(self):
        # The program's own menu and charges are the reference: a month of each plan.
        menu = re.findall(rb"^ ([A-D])\. (\w+) ", run(), re.MULTILINE)
        self.assertEqual(len(menu), 4, "no menu of four plans")
        plans = set()
        for letter, name in menu:
            charge = re.search(
                b"X" + re.escape(CHARGE_LABEL) + rb"(\d+)\.00", run(letter + b"\n1\nX\n")
            )
            self.assertTrue(charge, f"no whole charge for a month of plan {letter}")
            plans.add((letter.decode(), name.decode(), charge[1].decode()))
        found = {(m["letter"], m["name"], m["rate"]) for m in re.finditer(PLAN, TEXT, re.M)}
        self.assertEqual(found, plans, "(letter, plan, rate): the document's, then the program's")

    def test_it_gives_the_totals_the_program_writes(self):
        for total, given in TOTALS:
            with self.subTest(given=given):
                said = re.search(total, TEXT)
                self.assertTrue(said, f"it no longer says {total!r}")
                shown = run(given).split(CHARGE_LABEL)[-1].split()[0].decode()
                self.assertEqual(said[1], shown, f"the total for {given!r}")

    def test_its_worked_example_is_what_the_program_writes(self):
        shown = re.search(EXAMPLE, TEXT, re.DOTALL)
        self.assertTrue(shown, f"no worked example as {EXAMPLE!r} finds one")
        if SHOWN == "piped":
            self.assertEqual(shown[1].replace("\\n", "\n").encode(), WORKED_EXAMPLE_INPUT)
            due = run(WORKED_EXAMPLE_INPUT)
        else:
            due = WORKED_EXAMPLE_AT_A_TERMINAL
            if SHOWN.endswith("no menu"):
                due = b"\n".join(b"  " + line for line in due[len(MENU) :].split(b"\n"))
        # Trailing spaces are lost in a manual page's example, and an editor's.
        lines = "\n".join(line.rstrip() for line in shown[shown.lastindex].split("\n"))
        due = "\n".join(line.rstrip() for line in due.decode().rstrip("\n").split("\n"))
        if lines != due:
            self.fail(first_difference(lines, due))

    @unittest.skipUnless(DOCUMENT == "README.md", "the README alone lists the processors")
    def test_its_processors_are_the_releases(self):
        rows = (ROOT / "packaging/linux-processors.txt").read_text().splitlines()
        due = {(r[0], r[2], r[4].strip("-")) for r in map(str.split, rows) if r and r[0][0] != "#"}
        table = r"^\| [^|]+ \| `([a-z0-9_]+)` \| `([a-z0-9_]+)` \|\s*`?([a-z0-9_]*)`?\s*\|"
        came = set(re.findall(table, TEXT, re.MULTILINE))
        if came != due:
            self.fail(
                f"README.md's table of processors (DEBIAN, UNAME, RPM) lacks"
                f" {sorted(due - came)} of packaging/linux-processors.txt, and has"
                f" {sorted(came - due)} beside"
            )


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
