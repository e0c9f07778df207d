#!/usr/bin/env python3
"""Makes the build's package with cpack, unpacks it and runs the program from it.

Usage: test_package.py --posix|--windows CPACK CPACK_CONFIG [EMULATOR...]
"""
import pathlib
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

from expected_output import (INTERPRETER_PAUSE_PROMPT, WORKED_EXAMPLE_INPUT,
                             WORKED_EXAMPLE_OUTPUT, split_windows_output)

if len(sys.argv) < 4 or sys.argv[1] not in ("--posix", "--windows"):
    sys.exit(__doc__)
PLATFORM, CPACK, CPACK_CONFIG, *EMULATOR = sys.argv[1:]
ON_WINDOWS = PLATFORM == "--windows"
PROGRAM = "membership.exe" if ON_WINDOWS else "membership"


def make_package(directory):
    subprocess.run([CPACK, "--config", CPACK_CONFIG, "-B", str(directory)], check=True,
                   stdout=subprocess.DEVNULL)
    archives = list(directory.glob("*.zip" if ON_WINDOWS else "*.tar.gz"))
    if len(archives) != 1:
        raise AssertionError(f"expected one package in {directory}, found {archives}")
    return archives[0]


def unpack(archive, directory):
    if archive.suffix == ".zip":
        with zipfile.ZipFile(archive) as package:
            package.extractall(directory)
    else:
        with tarfile.open(archive) as package:
            package.extractall(directory)
    return sorted(path.relative_to(directory).as_posix()
                  for path in directory.rglob("*") if path.is_file())


class Package(unittest.TestCase):
    def test_unpacked_program_runs_the_worked_example(self):
        with tempfile.TemporaryDirectory() as scratch:
            scratch = pathlib.Path(scratch)
            archive = make_package(scratch / "packages")
            contents = unpack(archive, scratch / "unpacked")
            top = archive.name.removesuffix(".zip").removesuffix(".tar.gz")
            self.assertEqual(contents, [f"{top}/bin/{PROGRAM}",
                                        f"{top}/share/doc/membership/README.md"])

            program = scratch / "unpacked" / top / "bin" / PROGRAM
            done = subprocess.run(EMULATOR + [str(program)], input=WORKED_EXAMPLE_INPUT,
                                  capture_output=True, timeout=60, check=False)
            output = done.stdout
            if ON_WINDOWS:
                output, after = split_windows_output(output)
                self.assertTrue(after.startswith(INTERPRETER_PAUSE_PROMPT), after)
            self.assertEqual(output, WORKED_EXAMPLE_OUTPUT)
            self.assertEqual(done.returncode, 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
