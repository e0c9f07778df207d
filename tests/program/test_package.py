#!/usr/bin/env python3
"""Makes the build's packages with cpack, unpacks each and runs the program from it.

Usage: test_package.py --posix|--windows CPACK CPACK_CONFIG [EMULATOR...]
       test_package.py --posix|--windows --made DIRECTORY [EMULATOR...]
The second form tries the packages already made in DIRECTORY instead.
"""
import io
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
MADE = pathlib.Path(CPACK_CONFIG) if CPACK == "--made" else None

# Each package's files, below its top folder, and where the program is.
WINDOWS_ZIP = (["LICENSE.txt", "README.txt", "membership.exe"], "membership.exe")
LINUX_TAR_GZ = (["bin/membership", "share/doc/membership/CHANGELOG.md",
                 "share/doc/membership/LICENSE", "share/doc/membership/README.md",
                 "share/man/man1/membership.1"], "bin/membership")
DEBIAN = (["usr/bin/membership", "usr/share/doc/membership/README.md",
           "usr/share/doc/membership/changelog.gz", "usr/share/doc/membership/copyright",
           "usr/share/lintian/overrides/membership", "usr/share/man/man1/membership.1.gz"],
          "usr/bin/membership")


def make_packages(directory):
    if MADE is None:
        subprocess.run([CPACK, "--config", CPACK_CONFIG, "-B", str(directory)], check=True,
                       stdout=subprocess.DEVNULL)
    return {path.name: path for path in (MADE or directory).iterdir() if path.is_file()}


def debian_data(package):
    """The data.tar member of a .deb (an ar archive), opened."""
    content = package.read_bytes()
    if not content.startswith(b"!<arch>\n"):
        raise AssertionError(f"{package} is not an ar archive")
    offset = 8
    while offset < len(content):
        header = content[offset:offset + 60]
        name, size = header[:16].strip().decode(), int(header[48:58])
        if name.startswith("data.tar"):
            data = content[offset + 60:offset + 60 + size]
            return tarfile.open(fileobj=io.BytesIO(data))
        offset += 60 + size + size % 2
    raise AssertionError(f"{package} holds no data.tar")


def unpack(package, directory):
    """Unpacks the package; returns the folder that holds its files."""
    if package.name.endswith(".deb"):
        with debian_data(package) as archive:
            archive.extractall(directory)
        return directory
    if package.name.endswith(".zip"):
        with zipfile.ZipFile(package) as archive:
            archive.extractall(directory)
        return directory / package.name.removesuffix(".zip")
    with tarfile.open(package) as archive:
        archive.extractall(directory)
    return directory / package.name.removesuffix(".tar.gz")


def files_under(folder):
    return sorted(path.relative_to(folder).as_posix() for path in folder.rglob("*")
                  if path.is_file())


class Packages(unittest.TestCase):
    def test_each_package_holds_its_files_and_runs_the_worked_example(self):
        expected = {"membership-1.0.0-Windows-x86_64.zip": WINDOWS_ZIP} if ON_WINDOWS else {
            "membership-1.0.0-Linux-x86_64.tar.gz": LINUX_TAR_GZ,
            "membership_1.0.0_amd64.deb": DEBIAN,
        }
        with tempfile.TemporaryDirectory() as scratch:
            scratch = pathlib.Path(scratch)
            packages = make_packages(scratch / "packages")
            self.assertEqual(sorted(packages), sorted(expected))
            for name, (files, program) in expected.items():
                with self.subTest(name):
                    top = unpack(packages[name], scratch / name)
                    self.assertEqual(files_under(top), files)
                    self.assert_runs_the_worked_example(top / program)
                    for text in (top / file for file in files if file.endswith(".txt")):
                        self.assertNotIn(b"\n", text.read_bytes().replace(b"\r\n", b""),
                                         f"{text.name} has a line end that is not CR LF")

    def assert_runs_the_worked_example(self, program):
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
