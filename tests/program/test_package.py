#!/usr/bin/env python3
"""Makes the build's packages with cpack, unpacks each and runs the program from it.

Usage: test_package.py --posix|--windows --version V --system S --processor P
                       [--debian-architecture A] [--rpm-architecture A] [--msi]
                       --cpack CPACK CPACK_CONFIG [-- EMULATOR...]
The names the packages must have come from the version, system, processor
and Debian and RPM architectures; a .deb or .rpm is expected only where its
architecture is given, a Windows .msi only with --msi. Under Wine, the .msi
is also installed, upgraded from an older version and removed again.
"""
import argparse
import gzip
import io
import os
import pathlib
import re
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

from expected_output import (
    INTERPRETER_PAUSE_PROMPT,
    WORKED_EXAMPLE_INPUT,
    WORKED_EXAMPLE_OUTPUT,
    split_windows_output,
)


def parse_arguments():
    arguments, emulator = sys.argv[1:], []
    if "--" in arguments:
        split = arguments.index("--")
        arguments, emulator = arguments[:split], arguments[split + 1 :]
    parser = argparse.ArgumentParser(usage=__doc__)
    platform = parser.add_mutually_exclusive_group(required=True)
    platform.add_argument("--posix", action="store_true")
    platform.add_argument("--windows", action="store_true")
    parser.add_argument("--version", required=True)
    parser.add_argument("--system", required=True)
    parser.add_argument("--processor", required=True)
    parser.add_argument("--debian-architecture")
    parser.add_argument("--rpm-architecture")
    parser.add_argument("--msi", action="store_true")
    parser.add_argument("--cpack", nargs=2, metavar=("CPACK", "CPACK_CONFIG"), required=True)
    return parser.parse_args(arguments), emulator


ARGUMENTS, EMULATOR = parse_arguments()
VERSION = ARGUMENTS.version
BASE_NAME = f"membership-{VERSION}-{ARGUMENTS.system}-{ARGUMENTS.processor}"

# Each package's files, below its top folder, and where the program is.
WINDOWS_FILES = ["LICENSE.txt", "MANUAL.txt", "README.txt", "membership.exe"]
WINDOWS_ZIP = (WINDOWS_FILES, "membership.exe")
WINDOWS_MSI = (["membership/" + file for file in WINDOWS_FILES], "membership/membership.exe")
TAR_GZ = (
    [
        "bin/membership",
        "share/doc/membership/CHANGELOG.md",
        "share/doc/membership/LICENSE",
        "share/doc/membership/README.md",
        "share/man/man1/membership.1",
    ],
    "bin/membership",
)
DEBIAN = (
    [
        "usr/bin/membership",
        "usr/share/doc/membership/README.md",
        "usr/share/doc/membership/changelog.gz",
        "usr/share/doc/membership/copyright",
        "usr/share/lintian/overrides/membership",
        "usr/share/man/man1/membership.1.gz",
    ],
    "usr/bin/membership",
)
RPM_LICENSE = "usr/share/licenses/membership/LICENSE"
RPM = (
    [
        "usr/bin/membership",
        "usr/share/doc/membership/CHANGELOG.md",
        "usr/share/doc/membership/README.md",
        RPM_LICENSE,
        "usr/share/man/man1/membership.1.gz",
    ],
    "usr/bin/membership",
)


def expected_packages():
    if ARGUMENTS.windows:
        return {
            BASE_NAME + ".zip": WINDOWS_ZIP,
            **({BASE_NAME + ".msi": WINDOWS_MSI} if ARGUMENTS.msi else {}),
        }
    expected = {BASE_NAME + ".tar.gz": TAR_GZ}
    if ARGUMENTS.debian_architecture:
        expected[f"membership_{VERSION}_{ARGUMENTS.debian_architecture}.deb"] = DEBIAN
    if ARGUMENTS.rpm_architecture:
        expected[f"membership-{VERSION}-1.{ARGUMENTS.rpm_architecture}.rpm"] = RPM
    return expected


def make_packages(directory):
    """Makes the packages with cpack into `directory`; returns the folder they are in."""
    cpack, config = ARGUMENTS.cpack
    subprocess.run(
        [cpack, "--config", config, "-B", str(directory)], check=True, stdout=subprocess.DEVNULL
    )
    return directory


def debian_member(package, prefix):
    """The member of a .deb (an ar archive) whose name starts with `prefix`, opened."""
    content = package.read_bytes()
    if not content.startswith(b"!<arch>\n"):
        raise AssertionError(f"{package} is not an ar archive")
    offset = 8
    while offset < len(content):
        header = content[offset : offset + 60]
        name, size = header[:16].strip().decode(), int(header[48:58])
        if name.startswith(prefix):
            data = content[offset + 60 : offset + 60 + size]
            return tarfile.open(fileobj=io.BytesIO(data))
        offset += 60 + size + size % 2
    raise AssertionError(f"{package} holds no {prefix}")


def debian_control(package):
    """The .deb's control fields, as a dictionary."""
    with debian_member(package, "control.tar") as archive:
        text = archive.extractfile("./control").read().decode()
    return dict(re.findall(r"^(\S+): (.*)$", text, re.MULTILINE))


def unpack(package, directory):
    """Unpacks the package; returns the folder that holds its files."""
    if package.name.endswith(".deb"):
        with debian_member(package, "data.tar") as archive:
            archive.extractall(directory)
        return directory
    if package.name.endswith(".zip"):
        with zipfile.ZipFile(package) as archive:
            archive.extractall(directory)
        return directory / package.name.removesuffix(".zip")
    if package.name.endswith(".msi"):
        subprocess.run(
            ["msiextract", "--directory", str(directory), str(package)],
            stdout=subprocess.DEVNULL,
            check=True,
        )
        return directory
    if package.name.endswith(".rpm"):
        payload = subprocess.run(
            ["rpm2archive", "-"], stdin=package.open("rb"), capture_output=True, check=True
        ).stdout
        with tarfile.open(fileobj=io.BytesIO(payload)) as archive:
            archive.extractall(directory)
        return directory
    with tarfile.open(package) as archive:
        archive.extractall(directory)
    return directory / package.name.removesuffix(".tar.gz")


def files_under(folder):
    return sorted(
        path.relative_to(folder).as_posix() for path in folder.rglob("*") if path.is_file()
    )


def newest_changelog_version(path):
    """The version of the first entry of CHANGELOG.md, or of Debian's changelog(.gz)."""
    text = (
        gzip.decompress(path.read_bytes()) if path.suffix == ".gz" else path.read_bytes()
    ).decode()
    found = re.search(r"^## (\S+) \(|^membership \(([^)]+)\)", text, re.MULTILINE)
    return found and (found[1] or found[2])


class Packages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        scratch = tempfile.TemporaryDirectory()
        cls.addClassCleanup(scratch.cleanup)
        cls.scratch = pathlib.Path(scratch.name)
        cls.folder = make_packages(cls.scratch / "packages")
        cls.packages = {path.name: path for path in cls.folder.iterdir() if path.is_file()}
        cls.expected = expected_packages()

    def test_the_packages_named_for_version_system_and_processor(self):
        self.assertEqual(sorted(self.packages), sorted(self.expected))

    def test_each_package_holds_its_files_and_runs_the_worked_example(self):
        for name, (files, program) in self.expected.items():
            with self.subTest(name):
                top = unpack(self.packages[name], self.scratch / name)
                self.assertEqual(files_under(top), files)
                self.assert_runs_the_worked_example(top / program)
                for text in (top / file for file in files if file.endswith(".txt")):
                    self.assertNotIn(
                        b"\n",
                        text.read_bytes().replace(b"\r\n", b""),
                        f"{text.name} has a line end that is not CR LF",
                    )
                for changelog in (
                    top / file
                    for file in files
                    if re.search(r"(CHANGELOG\.md|changelog\.gz)$", file)
                ):
                    self.assertEqual(
                        newest_changelog_version(changelog),
                        VERSION,
                        f"the newest entry of {changelog.name}",
                    )

    def test_debian_package_names_its_version_and_architecture(self):
        if ARGUMENTS.debian_architecture is None:
            self.skipTest("no .deb for this system")
        control = debian_control(
            self.packages[f"membership_{VERSION}_{ARGUMENTS.debian_architecture}.deb"]
        )
        self.assertEqual(
            (control["Package"], control["Version"], control["Architecture"]),
            ("membership", VERSION, ARGUMENTS.debian_architecture),
        )

    def test_rpm_names_its_version_and_architecture(self):
        if ARGUMENTS.rpm_architecture is None:
            self.skipTest("no .rpm for this system")
        package = self.packages[f"membership-{VERSION}-1.{ARGUMENTS.rpm_architecture}.rpm"]

        def query(*what):
            return subprocess.run(
                ["rpm", "-qp", *what, str(package)], capture_output=True, text=True, check=True
            ).stdout.split("\n")

        self.assertEqual(
            query("--queryformat", "%{NAME} %{VERSION} %{ARCH}"),
            [f"membership {VERSION} {ARGUMENTS.rpm_architecture}"],
        )
        # A static program needs nothing: rpm's own features alone.
        self.assertEqual(
            [need for need in query("--requires") if need and not need.startswith("rpmlib(")], []
        )
        self.assertEqual(query("--licensefiles"), ["/" + RPM_LICENSE, ""])

    def test_msi_replaces_an_older_version_and_uninstalls_without_a_trace(self):
        if not (ARGUMENTS.msi and EMULATOR):
            self.skipTest("needs the .msi and Wine")
        wine = Wine()
        older, newer = self.make_older_msi(), self.packages[BASE_NAME + ".msi"]
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
                self.assertEqual(
                    wine.installed_versions(), [VERSION], "the older version was not replaced"
                )
                self.assertEqual(sorted(path.name for path in folder.iterdir()), WINDOWS_FILES)
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

    def make_older_msi(self):
        """The .msi of the same files as an older version, as cpack makes it given that number."""
        cpack, config = ARGUMENTS.cpack
        folder = self.scratch / "older"
        name = f"membership-{OLDER_VERSION}-Windows-{ARGUMENTS.processor}"
        subprocess.run(
            [
                cpack,
                "--config",
                config,
                "-B",
                str(folder),
                "-D",
                f"CPACK_PACKAGE_VERSION={OLDER_VERSION}",
                "-D",
                f"CPACK_PACKAGE_FILE_NAME={name}",
            ],
            check=True,
            stdout=subprocess.DEVNULL,
        )
        return folder / f"{name}.msi"

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
            self.assertTrue(after.startswith(INTERPRETER_PAUSE_PROMPT), after)
        self.assertEqual(output, WORKED_EXAMPLE_OUTPUT)
        self.assertEqual(done.returncode, 0)


OLDER_VERSION = "0.9.0"


class Wine:
    """The emulator's Wine prefix, as the Windows installer sees it."""

    ENVIRONMENT = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"
    UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"

    def __init__(self):
        prefix = next(
            (
                word.removeprefix("WINEPREFIX=")
                for word in EMULATOR
                if word.startswith("WINEPREFIX=")
            ),
            os.environ.get("WINEPREFIX"),
        )
        self.prefix = pathlib.Path(prefix or pathlib.Path.home() / ".wine")

    def run(self, *command, given=b""):
        return subprocess.run(
            EMULATOR + list(command), input=given, capture_output=True, timeout=120, check=False
        )

    def msiexec(self, action, package, *properties):
        """Runs msiexec, quietly. Its output is not read: helpers it starts would hold a pipe
        open for seconds after it has ended. A Unix path would read as an option: drive Z:
        is the Unix root."""
        return subprocess.run(
            EMULATOR
            + ["msiexec", action, "Z:" + str(package).replace("/", "\\"), *properties, "/qn"],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            timeout=120,
            check=False,
        ).returncode

    def install(self, package, *properties):
        if self.msiexec("/i", package, *properties) != 0:
            raise AssertionError(f"msiexec could not install {package.name}")

    def uninstall(self, package):
        if self.msiexec("/x", package) != 0:
            raise AssertionError(f"msiexec could not uninstall {package.name}")

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
        """The system PATH's folders, in order. Wine leaves an empty one where it took an
        appended folder away, which Windows passes over."""
        path = next(
            values["PATH"]
            for values in self.registry(self.ENVIRONMENT, "/v", "PATH")
            if "PATH" in values
        )
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
        return [
            values.get("DisplayVersion")
            for values in self.registry(self.UNINSTALL, "/s")
            if values.get("DisplayName") == "membership"
        ]

    def start_menu_shortcut(self):
        return next((self.prefix / "drive_c").glob("**/Start Menu/Programs/membership.lnk"), None)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
