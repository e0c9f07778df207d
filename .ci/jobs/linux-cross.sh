#!/usr/bin/env bash
# Linux on the other processors its users have: arm64, armhf, riscv64 and
# i386, cross-built with Debian's cross compilers. Every test runs under
# qemu-user (the host's Python drives the process tests); each processor's
# packages are made twice, from two clones, and must agree; lintian and
# rpmlint report nothing; the arm64 .deb and .rpm are installed into private
# roots, and the installed program runs the worked example.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
source .ci/package_checks.sh
processors=(arm64 armhf riscv64 i386)
# What each package's name and fields must say, and what runs its program.
declare -A uname_of=([arm64]=aarch64 [armhf]=armv7l [riscv64]=riscv64 [i386]=i686)
declare -A rpm_of=([arm64]=aarch64)
declare -A qemu_of=([arm64]=qemu-aarch64 [armhf]=qemu-arm [riscv64]=qemu-riscv64 [i386]=qemu-i386)
ensure_packages cmake ninja-build python3 git file googletest qemu-user lintian rpm rpmlint \
    g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-riscv64-linux-gnu g++-i686-linux-gnu

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for processor in "${processors[@]}"; do
    echo "--- linux-$processor: every test under qemu"
    cmake --workflow --preset "linux-$processor" >"$scratch/linux-$processor.log" 2>&1 || {
        cat "$scratch/linux-$processor.log"
        exit 1
    }
    grep -E 'tests passed|static' "$scratch/linux-$processor.log"
    file -b "build/linux-$processor/src/membership"
done

echo "--- the packages, twice, from two clones"
package_twice "$scratch" "${processors[@]/#/package-linux-}"
made=$scratch/first/build
version=$(package_version "$made/package-linux-arm64")
for processor in "${processors[@]}"; do
    echo "--- package-linux-$processor: names, fields, files, the worked example"
    (cd "$made/package-linux-$processor/packages" && sha256sum -c SHA256SUMS)
    rpm=()
    [[ -z ${rpm_of[$processor]:-} ]] || rpm=(--rpm-architecture "${rpm_of[$processor]}")
    python3 tests/program/test_package.py --posix --version "$version" --system Linux \
        --processor "${uname_of[$processor]}" --debian-architecture "$processor" "${rpm[@]}" \
        --made "$made/package-linux-$processor/packages" -- "${qemu_of[$processor]}"
done

echo "--- lintian and rpmlint"
check_debs "$made"/package-linux-*/packages/*.deb
check_rpms "$made"/package-linux-*/packages/*.rpm

echo "--- the arm64 .deb, installed into a private dpkg root"
root=$scratch/dpkg-root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --add-architecture arm64
dpkg --root="$root" --force-script-chrootless -i "$made"/package-linux-arm64/packages/*.deb
dpkg --root="$root" -L membership
expect_worked_example qemu-aarch64 "$root/usr/bin/membership"

echo "--- the arm64 .rpm, installed into a private rpm root"
root=$scratch/rpm-root
rpm --root "$root" --initdb
rpm --root "$root" -i --nodeps --ignorearch "$made"/package-linux-arm64/packages/*.rpm
rpm --root "$root" -ql membership
expect_worked_example qemu-aarch64 "$root/usr/bin/membership"
