#!/usr/bin/env python3
"""Windows executables import KERNEL32.dll and msvcrt.dll and nothing else,
which every Windows has; the program carries a version resource with the
project's version.

Usage: test_windows_imports.py VERSION OBJDUMP PROGRAM [EXE...]
"""
import re
import subprocess
import sys
import unittest

if len(sys.argv) < 4:
    sys.exit(__doc__)
VERSION, OBJDUMP, *EXECUTABLES = sys.argv[1:]
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"}


def imported_dlls(executable):
    dump = subprocess.run(
        [OBJDUMP, "-p", executable], capture_output=True, text=True, check=True
    ).stdout
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}


class SelfContained(unittest.TestCase):
    def test_only_the_system_dlls_are_imported(self):
        for executable in EXECUTABLES:
            with self.subTest(executable):
                self.assertEqual(imported_dlls(executable), SYSTEM_DLLS)

    def test_program_names_its_version(self):
        # VERSIONINFO strings are UTF-16: each key, padding, then its value.
        with open(EXECUTABLES[0], "rb") as program:
            content = program.read().decode("utf-16-le", errors="replace")
        for key in ("FileVersion", "ProductVersion"):
            with self.subTest(key):
                self.assertRegex(content, key + r"\x00+" + re.escape(VERSION) + r"\x00")
        self.assertIn("ProductName\x00\x00membership\x00", content)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
