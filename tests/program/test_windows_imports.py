#!/usr/bin/env python3
"""Windows executables import only DLLs that every Windows has.

Usage: test_windows_imports.py OBJDUMP EXE [EXE...]
"""
import re
import subprocess
import sys
import unittest

if len(sys.argv) < 3:
    sys.exit(__doc__)
OBJDUMP, *EXECUTABLES = sys.argv[1:]
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "ws2_32.dll"}


def imported_dlls(executable):
    dump = subprocess.run([OBJDUMP, "-p", executable], capture_output=True, text=True,
                          check=True).stdout
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}


class SelfContained(unittest.TestCase):
    def test_only_system_dlls_are_imported(self):
        for executable in EXECUTABLES:
            with self.subTest(executable):
                dlls = imported_dlls(executable)
                self.assertIn("kernel32.dll", dlls)  # the dump was read at all
                self.assertLessEqual(dlls, SYSTEM_DLLS, f"non-system DLLs: {dlls - SYSTEM_DLLS}")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
