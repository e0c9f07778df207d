#!/usr/bin/env bash
# What a person downloads. The README's run command, exactly as written, on
# the worked example; the program needs no shared library and carries the
# protections the README lists; the packages made twice, from two fresh
# clones of this commit at two paths, the second under another umask, time
# zone and locale, give the same bytes; lintian finds nothing in the .deb;
# the program in each package is stripped and runs the worked example (the
# Windows one under Wine). The clones are of the last commit: uncommitted
# changes are not in it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
source .ci/readme.sh
source .ci/package_checks.sh
ensure_packages cmake g++ ninja-build python3 git file binutils lintian rpm rpmlint \
    g++-mingw-w64-x86-64-posix wine64 wixl msitools faketime

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "--- the README's run command, with the worked example piped in"
run_command=$(readme_command "Build and run")
echo "$run_command"
[[ -n $run_command ]]
expect_worked_example bash -c "$run_command"

echo "--- the release program: no shared library, no interpreter"
program=build/release/src/membership
file "$program"
readelf -d "$program"
if readelf -d "$program" | grep -q NEEDED || readelf -l "$program" | grep -q INTERP; then
    echo "the release program needs a shared library" >&2
    exit 1
fi

echo "--- the release program's protections, as the README lists them"
# Position-independent; relocations read-only once bound at start-up (full
# RELRO); a stack that is not executable; stack protector canaries.
headers=$(readelf -hlW "$program" && readelf -dW "$program" && nm "$program")
for required in 'Type: +DYN' 'GNU_RELRO' 'GNU_STACK .* RW +0x' 'Flags: NOW PIE' '__stack_chk_fail'; do
    grep -Eq "$required" <<<"$headers" || { echo "not in the program: $required" >&2; exit 1; }
done
echo "PIE, full RELRO, non-executable stack, stack protector: all there"

echo "--- the packages, twice, from two clones"
package_twice "$scratch" package package-windows
made=$scratch/first/build
(cd "$made/package/packages" && sha256sum -c SHA256SUMS)
(cd "$made/package-windows/packages" && sha256sum -c SHA256SUMS)

echo "--- lintian and rpmlint"
check_debs "$made"/package/packages/*.deb
check_rpms "$made"/package/packages/*.rpm

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
# The names the packages must have: the Linux ones as this machine names its
# processor; the Windows toolchain's is x86_64.
version=$(package_version "$made/package")
python3 tests/program/test_package.py --posix --version "$version" --system Linux \
    --processor "$(uname -m)" --debian-architecture "$(dpkg --print-architecture)" \
    --rpm-architecture "$(uname -m)" --made "$made/package/packages"
# Wine in a prefix of its own, its server kept up so that no helper of it
# holds the program's pipes open after the program has ended.
export WINEPREFIX=$scratch/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=
mkdir "$WINEPREFIX"
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wineserver" -p </dev/null >/dev/null 2>&1
"$wine64" wineboot -i </dev/null >/dev/null 2>&1
python3 tests/program/test_package.py --windows --version "$version" --system Windows \
    --processor x86_64 --msi --made "$made/package-windows/packages" -- "$wine64"
"$wineserver" -k
