#!/usr/bin/env bash
# What a person downloads. The README's run command, exactly as written, on
# the worked example; the program needs no shared library; the packages
# made twice, from two fresh clones of this commit at two paths, give the
# same bytes; lintian finds nothing in the .deb; the program in each
# package is stripped and runs the worked example (the Windows one under
# Wine). The clones are of the last commit: uncommitted changes are not in it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
ensure_packages cmake g++ ninja-build python3 git file binutils lintian \
    g++-mingw-w64-x86-64-posix wine64

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
worked_example=$'a\n6\nAnn\n'

echo "--- the README's run command, with the worked example piped in"
run_command=$(awk '/^## Build and run/ { section = 1 }
                   section && /^```/ { if (inside) exit; inside = 1; next }
                   inside { print }' README.md)
echo "$run_command"
printf '%s' "$worked_example" | bash -c "$run_command" >"$scratch/run-output"
python3 - "$scratch/run-output" <<'PYTHON'
import sys
sys.path.insert(0, "tests/program")
from expected_output import WORKED_EXAMPLE_OUTPUT
output = open(sys.argv[1], "rb").read()
if not output.endswith(WORKED_EXAMPLE_OUTPUT):
    sys.exit(f"the run command's program wrote {output[-300:]!r}")
PYTHON

echo "--- the release program: no shared library, no interpreter"
program=build/release/src/membership
file "$program"
readelf -d "$program"
if readelf -d "$program" | grep -q NEEDED || readelf -l "$program" | grep -q INTERP; then
    echo "the release program needs a shared library" >&2
    exit 1
fi

echo "--- the packages, twice, from two clones"
for clone in first second; do
    git clone --quiet "$PWD" "$scratch/$clone"
    (cd "$scratch/$clone" && cmake --workflow --preset package >/dev/null &&
        cmake --workflow --preset package-windows >/dev/null)
    (cd "$scratch/$clone/build" &&
        sha256sum package/packages/*.{tar.gz,deb} package-windows/packages/*.zip) |
        tee "$scratch/$clone.sha256"
done
diff "$scratch/first.sha256" "$scratch/second.sha256"
made=$scratch/first/build

echo "--- lintian"
lintian --tag-display-limit 0 "$made"/package/packages/*.deb >"$scratch/lintian" 2>&1
grep -v 'running with root privileges' "$scratch/lintian" && exit 1 # any tag at all
echo "lintian: nothing to report"

echo "--- each package's program: stripped, and the worked example"
for archive in "$made"/package/packages/*.tar.gz; do tar -xzf "$archive" -C "$scratch"; done
dpkg-deb -x "$made"/package/packages/*.deb "$scratch/deb"
python3 -m zipfile -e "$made"/package-windows/packages/*.zip "$scratch"
for binary in "$scratch"/membership-*-Linux-*/bin/membership "$scratch/deb/usr/bin/membership" \
    "$scratch"/membership-*-Windows-*/membership.exe; do
    description=$(file -b "$binary")
    echo "$binary: $description"
    [[ $description == *stripped* && $description != *"not stripped"* ]]
done
python3 tests/program/test_package.py --posix --made "$made/package/packages"
# Wine in a prefix of its own, its server kept up so that no helper of it
# holds the program's pipes open after the program has ended.
export WINEPREFIX=$scratch/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
mkdir "$WINEPREFIX"
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wineserver" -p </dev/null >/dev/null 2>&1
"$wine64" wineboot -i </dev/null >/dev/null 2>&1
python3 tests/program/test_package.py --windows --made "$made/package-windows/packages" "$wine64"
"$wineserver" -k
