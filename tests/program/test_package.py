#!/usr/bin/env python3
"""Checks the packages a build's package step made in its package folder, the very files a
release ships: each unpacked, its files listed, its program run, and what its own tools say
it names itself. Under Wine, the .msi is also installed, upgraded and removed.

Usage: test_package.py --posix|--windows --version V --rpm-version R --windows-version W
       --folder DIR PACKAGE... [-- EMULATOR...]
PACKAGE: each file the folder must hold; it holds nothing else.
"""
import argparse
import gzip
import io
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest

from expected_output import (
    INTERPRETER_PAUSE_PROMPT,
    WORKED_EXAMPLE_INPUT,
    WORKED_EXAMPLE_OUTPUT,
    platform_and_arguments,
    split_windows_output,
)


def parse_arguments():
    windows, arguments = platform_and_arguments(__doc__)
    split = arguments.index("--") if "--" in arguments else len(arguments)
    parser = argparse.ArgumentParser(usage=__doc__)
    for form in ("--version", "--rpm-version", "--windows-version"):
        parser.add_argument(form, required=True)
    parser.add_argument("--folder", required=True, type=pathlib.Path)
    parser.add_argument("packages", nargs="+")
    parsed = parser.parse_args(arguments[:split])
    parsed.windows = windows
    return parsed, arguments[split + 1 :]


ARGUMENTS, EMULATOR = parse_arguments()
VERSION = ARGUMENTS.version
RPM_VERSION = ARGUMENTS.rpm_version
WINDOWS_VERSION = ARGUMENTS.windows_version
RELEASE = VERSION.partition("+")[0]

# Each kind of package's files, below its top folder, its program first.
WINDOWS_FILES = ["membership.exe", "LICENSE.txt", "MANUAL.txt", "README.txt"]
DOCUMENTS = "share/doc/membership/"
RPM_LICENSE = "usr/share/licenses/membership/LICENSE"
CONTENTS = {
    ".zip": WINDOWS_FILES,
    ".msi": ["membership/" + file for file in WINDOWS_FILES],
    ".tar.gz": ["bin/membership", "share/man/man1/membership.1"]
    + [DOCUMENTS + file for file in ("CHANGELOG.md", "LICENSE", "README.md")],
    ".deb": ["usr/bin/membership", "usr/share/man/man1/membership.1.gz"]
    + ["usr/share/lintian/overrides/membership"]
    + ["usr/" + DOCUMENTS + file for file in ("README.md", "changelog.gz", "copyright")],
    ".rpm": ["usr/bin/membership", "usr/share/man/man1/membership.1.gz", RPM_LICENSE]
    + ["usr/" + DOCUMENTS + file for file in ("CHANGELOG.md", "README.md")],
}


def contents_of(name):
    return next(files for suffix, files in CONTENTS.items() if name.endswith(suffix))


def read_out(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def unpack(package, directory):
    """Unpacks the package; returns the folder that holds its files."""
    name = package.name
    if name.endswith((".zip", ".tar.gz")):
        shutil.unpack_archive(package, directory)
        return directory / re.sub(r"\.(zip|tar\.gz)$", "", name)
    if name.endswith(".rpm"):
        with package.open("rb") as rpm:
            payload = subprocess.run(
                ["rpm2archive", "-"], stdin=rpm, capture_output=True, check=True
            )
        with tarfile.open(fileobj=io.BytesIO(payload.stdout)) as archive:
            archive.extractall(directory)
    elif name.endswith(".deb"):
        read_out("dpkg-deb", "--extract", package, directory)
    else:
        read_out("msiextract", "--directory", directory, package)
    return directory


def files_under(folder):
    return sorted(
        path.relative_to(folder).as_posix() for path in folder.rglob("*") if path.is_file()
    )


def newest_changelog_version(text):
    """The version of the first entry of CHANGELOG.md, or of Debian's changelog(.gz)."""
    text = (gzip.decompress(text) if text.startswith(b"\x1f\x8b") else text).decode()
    found = re.search(r"^## (\S+) \(|^membership \(([^)]+)\)", text, re.MULTILINE)
    return found and (found[1] or found[2])


class Packages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        scratch = tempfile.TemporaryDirectory()
        cls.addClassCleanup(scratch.cleanup)
        cls.scratch = pathlib.Path(scratch.name)
        cls.packages = {name: ARGUMENTS.folder / name for name in ARGUMENTS.packages}

    def test_the_folder_holds_the_packages_and_nothing_else(self):
        made = [path.name for path in ARGUMENTS.folder.iterdir() if path.is_file()]
        self.assertEqual(sorted(made), sorted(self.packages))

    def test_each_package_holds_its_files_and_runs_the_worked_example(self):
        for name, package in self.packages.items():
            with self.subTest(name):
                files = contents_of(name)
                program = files[0]
                top = unpack(package, self.scratch / name)
                self.assertEqual(files_under(top), sorted(files))
                self.assert_runs_the_worked_example(top / program)
                if ARGUMENTS.windows:
                    self.assert_needs_only_windows_and_names_its_version(top / program)
                for file in files:
                    text = (top / file).read_bytes()
                    if file.endswith(".txt"):
                        self.assertNotIn(b"\n", text.replace(b"\r\n", b""), f"{file}: LF alone")
                    # Debian's names the snapshot; CHANGELOG.md, the release it follows.
                    if file.endswith("changelog.gz"):
                        self.assertEqual(newest_changelog_version(text), VERSION, file)
                    elif file.endswith("CHANGELOG.md"):
                        self.assertEqual(newest_changelog_version(text), RELEASE, file)

    def test_each_package_names_its_version_and_processor_as_its_file_name_does(self):
        # Debian's and RPM's names: membership_VERSION_ARCH.deb, membership-VERSION-1.ARCH.rpm.
        for name, package in self.packages.items():
            with self.subTest(name):
                if name.endswith(".deb"):
                    fields = read_out("dpkg-deb", "--field", package, *"Package Version".split())
                    architecture = read_out("dpkg-deb", "--field", package, "Architecture")
                    self.assertEqual(fields, f"Package: membership\nVersion: {VERSION}\n")
                    self.assertEqual(name, f"membership_{VERSION}_{architecture.strip()}.deb")
                elif name.endswith(".rpm"):
                    said = read_out(
                        "rpm", "-qp", "--queryformat", "%{NAME}-%{VERSION}-%{ARCH}", package
                    )
                    release = f"-{RPM_VERSION}-"
                    self.assertEqual(name, said.replace(release, f"{release}1.") + ".rpm")
                    # A static program needs nothing: rpm's own features alone.
                    needs = read_out("rpm", "-qp", "--requires", package).split("\n")
                    self.assertEqual([need for need in needs if need and "rpmlib(" not in need], [])
                    licences = read_out("rpm", "-qp", "--licensefiles", package)
                    self.assertEqual(licences, "/" + RPM_LICENSE + "\n")
                elif name.endswith(".msi"):
                    properties = read_out("msiinfo", "export", package, "Property")
                    self.assertIn(f"\nProductVersion\t{WINDOWS_VERSION}\n", properties)

    def test_msi_replaces_an_older_version_and_uninstalls_without_a_trace(self):
        if not (ARGUMENTS.windows and EMULATOR):
            self.skipTest("needs the .msi and Wine")
        newer = next(package for name, package in self.packages.items() if name.endswith(".msi"))
        wine = Wine()
        older = self.make_older_msi(newer)
        self.addCleanup(wine.uninstall_if_installed, newer, older)
        path_before = wine.system_path_folders()
        # Where the older version was installed: the default, and a folder of an
        # administrator's choosing, which the newer version must go into too.
        cases = [
            ("Program Files", None, "C:\\Program Files\\membership"),
            ("a chosen folder", "C:\\tools\\membership", "C:\\tools\\membership"),
        ]
        for what, chosen, windows_folder in cases:
            with self.subTest(what):
                folder = wine.prefix / "drive_c" / windows_folder[3:].replace("\\", "/")
                wine.install(older, *([f"INSTALLDIR={chosen}"] if chosen else []))
                self.assertEqual(wine.installed_versions(), [OLDER_VERSION])
                wine.install(newer)
                replaced = "the older version was not replaced"
                self.assertEqual(wine.installed_versions(), [WINDOWS_VERSION], replaced)
                self.assertEqual(files_under(folder), sorted(WINDOWS_FILES))
                shortcut = wine.start_menu_shortcut()
                self.assertIsNotNone(shortcut, "no Start-menu shortcut")
                self.assertIn(windows_folder.encode() + rb"\membership.exe", shortcut.read_bytes())
                self.assertEqual(wine.system_path_folders(), path_before + [windows_folder + "\\"])
                # Through PATH, looked up as Windows does (Wine's cmd stops at an empty
                # folder, which Wine's upgrade leaves before an appended one).
                program = wine.find_on_path("membership.exe")
                self.assertEqual(program, windows_folder + "\\membership.exe")
                done = wine.run(program, given=WORKED_EXAMPLE_INPUT)
                self.assertEqual(split_windows_output(done.stdout)[0], WORKED_EXAMPLE_OUTPUT)

                wine.uninstall(newer)
                self.assertEqual(wine.installed_versions(), [])
                self.assertFalse(folder.exists(), "the install folder is left")
                self.assertIsNone(wine.start_menu_shortcut(), "the shortcut is left")
                self.assertEqual(wine.system_path_folders(), path_before)

    def make_older_msi(self, newer):
        """The shipped .msi relabelled as an older version: another version and product code."""
        older = self.scratch / f"membership-{OLDER_VERSION}.msi"
        shutil.copyfile(newer, older)
        relabel = "UPDATE `Property` SET `Value` = '{}' WHERE `Property` = '{}'"
        versions = relabel.format(OLDER_VERSION, "ProductVersion")
        codes = relabel.format(OLDER_CODE, "ProductCode")
        subprocess.run(["msibuild", str(older), "-q", versions, "-q", codes], check=True)
        return older

    def assert_needs_only_windows_and_names_its_version(self, program):
        """Imports KERNEL32.dll and msvcrt.dll, which every Windows has, and nothing else; its
        version resource (UTF-16 strings: each key, padding, then its value) names VERSION."""
        dump = read_out("x86_64-w64-mingw32-objdump", "-p", program)
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertEqual(imported, {"kernel32.dll", "msvcrt.dll"})
        content = program.read_bytes().decode("utf-16-le", errors="replace")
        for key in ("FileVersion", "ProductVersion"):
            self.assertRegex(content, key + r"\x00+" + re.escape(VERSION) + r"\x00")
        self.assertIn("ProductName\x00\x00membership\x00", content)

    def assert_runs_the_worked_example(self, program):
        done = subprocess.run(
            EMULATOR + [str(program)],
            input=WORKED_EXAMPLE_INPUT,
            capture_output=True,
            timeout=60,
            check=False,
        )
        output = done.stdout
        if ARGUMENTS.windows:
            output, after = split_windows_output(output)
            self.assertEqual(after[: len(INTERPRETER_PAUSE_PROMPT)], INTERPRETER_PAUSE_PROMPT)
        self.assertEqual(output, WORKED_EXAMPLE_OUTPUT)
        self.assertEqual(done.returncode, 0)


OLDER_VERSION = "0.9.0"
OLDER_CODE = "{0D5E4C1B-6A2F-4E8D-9B3C-7F1A2E4D6C80}"


class Wine:
    """The emulator's Wine prefix, as the Windows installer sees it."""

    ENVIRONMENT = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"
    UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"

    def __init__(self):
        settings = [word.split("=", 1) for word in EMULATOR if "=" in word]
        prefix = dict(settings).get("WINEPREFIX", os.environ.get("WINEPREFIX"))
        self.prefix = pathlib.Path(prefix or pathlib.Path.home() / ".wine")

    def run(self, *command, given=b""):
        return subprocess.run(
            EMULATOR + list(command), input=given, capture_output=True, timeout=120
        )

    def msiexec(self, action, package, *properties):
        """Runs msiexec, quietly; its exit status."""
        # Its output is not read: helpers it starts would hold a pipe open for seconds after it
        # has ended. A Unix path would read as an option: drive Z: is the Unix root. Wine's
        # msiexec has once failed at once, under load in a new prefix: a second and a third try
        # are made a second apart.
        command = ["msiexec", action, "Z:" + str(package).replace("/", "\\"), *properties, "/qn"]
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(3):
            status = subprocess.run(EMULATOR + command, **quiet, timeout=120).returncode
            if status == 0:
                break
            time.sleep(1)
        return status

    def install(self, package, *properties):
        if status := self.msiexec("/i", package, *properties):
            raise AssertionError(f"msiexec could not install {package.name}: status {status}")

    def uninstall(self, package):
        if status := self.msiexec("/x", package):
            raise AssertionError(f"msiexec could not uninstall {package.name}: status {status}")

    def uninstall_if_installed(self, *packages):
        for package in packages:
            if self.installed_versions():
                self.msiexec("/x", package)

    def registry(self, key, *options):
        """The keys under `key` that `reg query` lists, each as a dictionary of its values."""
        listed = self.run("reg", "query", key, *options).stdout.decode(errors="replace")
        return [
            dict(re.findall(r"^[ \t]+(\S+)[ \t]+REG_\w+[ \t]*(.*?)[ \t\r]*$", block, re.MULTILINE))
            for block in re.split(r"\r?\n\s*\r?\n", listed)
        ]

    def system_path_folders(self):
        """The system PATH's folders, in order, but the empty one Wine leaves (Windows does)."""
        path = next(key["PATH"] for key in self.registry(self.ENVIRONMENT) if "PATH" in key)
        return [folder for folder in path.split(";") if folder]

    def find_on_path(self, name):
        """The first folder of the system PATH, on drive C:, that holds `name`, with it."""
        for folder in self.system_path_folders():
            unix_folder = self.prefix / "drive_c" / folder[3:].replace("\\", "/")
            if folder[:3].upper() == "C:\\" and (unix_folder / name).is_file():
                return folder.rstrip("\\") + "\\" + name
        return None

    def installed_versions(self):
        """The versions of membership that Add/Remove Programs lists."""
        keys = self.registry(self.UNINSTALL, "/s")
        return [key["DisplayVersion"] for key in keys if key.get("DisplayName") == "membership"]

    def start_menu_shortcut(self):
        return next((self.prefix / "drive_c").glob("**/Start Menu/Programs/membership.lnk"), None)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2, failfast=True)
