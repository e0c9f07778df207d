#!/usr/bin/env bash
# The release as packaging/release makes it, once, from a fresh clone of the last commit; then
# the packages alone (no test: tests never write them) from a second clone, as a past release is
# made (packaging/release VERSION, in a worktree of its own), by Debian's reprotest: twice, the
# second under what the release cannot fix. The three give the same SHA256SUMS, or diffoscope
# says which bytes differ. reprotest cannot vary the user here: its user_group variation runs
# `sudo -h localhost`, which sudo 1.9 refuses, and the user it names could not open the
# disorderfs mount of its file-order variation (FUSE is root's here). Then what a person
# downloads: lintian and rpmlint find nothing; each .deb installs into a dpkg root and each .rpm
# into an empty rpm root (no --nodeps), where rpm -V finds all as packed (their program runs the
# worked example in the package test); each program carries the protections the README's table
# gives. And the README's commands, as written: the run command, in a clone and in the released
# source, and the .tar.gz's install and removal (into a scratch /usr/local), which leave the
# folders already there as they were, and nothing.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
source .ci/readme.sh
# shellcheck disable=SC2046 # one package a word
ensure_packages $(packaging/release --packages) lintian rpmlint file binutils fakeroot \
    diffoscope-minimal util-linux busybox reprotest disorderfs

scratch=$(mktemp -d)
chmod 755 "$scratch"
again_group=
trap '[[ -z $again_group ]] || kill -- -"$again_group" 2>/dev/null; rm -rf "$scratch"' EXIT

# expect_worked_example COMMAND...: runs COMMAND with the worked example's
# entries as its input; fails unless its output ends with their dialogue.
expect_worked_example() {
    PYTHONPATH=$PWD/tests/program python3 - "$@" <<'EOF' || return
import subprocess
import sys
from expected_output import WORKED_EXAMPLE_INPUT, WORKED_EXAMPLE_OUTPUT
output = subprocess.run(sys.argv[1:], input=WORKED_EXAMPLE_INPUT, stdout=subprocess.PIPE).stdout
if not output.endswith(WORKED_EXAMPLE_OUTPUT):
    sys.exit(f"{' '.join(sys.argv[1:])} wrote {output[-300:]!r}")
EOF
    echo "$*: the worked example"
}

echo "--- the README's run command, with the worked example piped in"
run_command=$(readme_command "Build and run")
echo "$run_command"
[[ -n $run_command ]]
expect_worked_example bash -c "$run_command"

# clone_to FOLDER: a clone of the last commit. packaging/release refuses unreleased changes:
# where CHANGELOG.md has them, the clone names them X.Y.(Z+1000) after the newest release
# X.Y.Z (a version no release has, and a newer one, which the .msi's upgrade test needs), in
# a scratch commit that is the same in every clone (the last commit's author and times).
clone_to() {
    git clone --quiet "$PWD" "$1"
    grep -q '^## Unreleased$' "$1/CHANGELOG.md" || return 0
    local when day newest
    when=$(git -C "$1" log -1 --format=%cI)
    day=$(TZ=UTC git -C "$1" log -1 --format=%cd --date=format-local:%F)
    newest=$(sed -n 's/^## \([0-9]*\.[0-9]*\.\)\([0-9]*\) (.*/\1\2/p' "$1/CHANGELOG.md" | head -n 1)
    newest=${newest%.*}.$((${newest##*.} + 1000))
    sed -i "s/^## Unreleased\$/## $newest ($day)/" "$1/CHANGELOG.md"
    GIT_AUTHOR_DATE=$when GIT_COMMITTER_DATE=$when git -C "$1" -c user.name=CI \
        -c user.email=ci@localhost commit --quiet -am "Scratch: the unreleased changes as $newest"
}

echo "--- the README names the newest release's version, whose packages it describes"
newest=$(sed -n 's/^## \([0-9.]*\) (.*/\1/p' CHANGELOG.md | head -n 1)
grep -q "such as \`$newest\`" README.md || { echo "the README does not name $newest" >&2; exit 1; }
echo "$newest"

# Beside it (in a session of its own, ended with the job: their builds leave each other's idle
# time to use), reprotest makes the packages twice more from a clone at another path, as
# packaging/release VERSION makes a past release: once as they are, once with what reprotest
# varies (the build's path, clock, CPUs, umask, locale, time zone, HOME, environment, kernel
# personality, ASLR, and the order a folder lists its files in, by disorderfs).
echo "--- packaging/release; beside it, reprotest makes the packages twice, as packaging/release"
echo "    VERSION makes a past release, the second time under its variations"
clone_to "$scratch/release"
again=$scratch/again/at/another/path/membership
clone_to "$again"
read -r released _ <<<"$(cmake -P "$again/packaging/Changelog.cmake" 2>&1)"
(cd "$again" && exec setsid reprotest --vary=+all,-user_group,-domain_host \
    --store-dir "$scratch/reprotest" "packaging/release $released --untested" \
    "build/releases/$released/dist/*") >"$scratch/again.log" 2>&1 &
again_group=$!
(cd "$scratch/release" && packaging/release)
dist=$scratch/release/dist
wait "$again_group" || { grep -v '^[0-9a-f]\{64\} ' "$scratch/again.log" | tail -n 80; exit 1; }
again_group=
grep -x "Reproduction successful" "$scratch/again.log"
again=$scratch/reprotest/control/source-root/build/releases/$released
mapfile -t differing < <(diff "$dist/SHA256SUMS" "$again/dist/SHA256SUMS" | sed -n 's/^< [^ ]*  //p')
if ((${#differing[@]} > 0)); then
    echo "not the same bytes: ${differing[*]}; the first, as diffoscope reads it:"
    diffoscope --text-color=never "$dist/${differing[0]}" "$again/dist/${differing[0]}" |
        head -n 80 || true
    exit 1
fi
echo "the same SHA256SUMS"
(cd "$dist" && sha256sum --check --quiet SHA256SUMS)

echo "--- lintian and rpmlint"
report=$(lintian --tag-display-limit 0 "$dist"/*.deb 2>&1 | grep -v 'running with root privileges' ||
    true)
[[ -z $report ]] || { printf '%s\n' "$report"; exit 1; }
echo "lintian: nothing to report"
report=$(rpmlint -c packaging/rpm/rpmlint.toml "$dist"/*.rpm 2>&1 || true)
printf '%s\n' "$report" | grep -v '^ *$'
if grep -Eq ': [EW]: ' <<<"$report" || ! grep -q ' 0 errors, 0 warnings' <<<"$report"; then
    exit 1
fi

tarball=$(cd "$dist" && echo membership-*-Linux-x86_64.tar.gz)
version=${tarball#membership-}
version=${version%-Linux-x86_64.tar.gz}

echo "--- the released source, with the README's run command"
tar -xzf "$dist/membership-$version.tar.gz" -C "$scratch"
(cd "$scratch/membership-$version" && expect_worked_example bash -c "$run_command")

echo "--- the README's download check, and its .tar.gz install and removal (in a scratch"
echo "    /usr/local), with GNU's tools and BusyBox's"
# for_this_release TEXT: the README's words for the x86-64 .tar.gz of this release, run here.
for_this_release() {
    sed "s|/usr/local|$scratch/local|g; s/VERSION/$version/g; s/PROCESSOR/x86_64/g; s/sudo //g" <<<"$1"
}
check=$(grep -o "\`grep ' FILE\$' SHA256SUMS | sha256sum -c\`" README.md | tr -d '`')
install=$(awk '/^The `.tar.gz` holds one folder/ { section = 1 }
    section && /^```/ { if (inside) exit; inside = 1; next } inside' README.md)
removal=$(grep -o '`sudo rm -r /usr/local/bin/membership[^`]*`' README.md | tr -d '`')
[[ -n $check && -n $install && -n $removal ]] || { echo "the README's lines are gone" >&2; exit 1; }
for tools in gnu busybox; do
    (
        cd "$dist"
        if [[ $tools == busybox ]]; then
            mkdir "$scratch/busybox"
            for tool in tar cp sha256sum grep; do ln -s "$(command -v busybox)" "$scratch/busybox/$tool"; done
            PATH=$scratch/busybox:$PATH
        fi
        for file in *.tar.gz *.deb *.rpm *.zip *.msi; do
            eval "${check//FILE/$file}" | grep -qx "$file: OK" || { echo "$file: not OK" >&2; exit 1; }
        done
        mkdir -p "$scratch/local/share"
        chmod 2775 "$scratch/local/share"
        eval "$(for_this_release "$install")"
        [[ -x $scratch/local/bin/membership && $(stat -c %a "$scratch/local/share") == 2775 ]]
        eval "$(for_this_release "$removal")"
        [[ -z $(find "$scratch/local" -type f) ]] || { echo "the removal left files" >&2; exit 1; }
        rm -rf "$scratch/local" membership-*-Linux-x86_64/
    )
    echo "$tools: each file checked; installed, the folders there left as they were, and removed"
done

echo "--- each processor: in the README's table, its program's protections as the table says,"
echo "    its packages installed"
# Every program: relocations read-only (RELRO), a stack that is not executable,
# stack protector canaries, no loader and no shared library; position-
# independent (static-pie, bound at start-up) where the README's table says
# that it is loaded at a random address, else at a fixed one. (test_piped_run.py
# checks each row's names.)
while read -r debian _ _ qemu rpm; do
    row=$(grep "^| .* | \`$debian\` |" README.md) || { echo "no $debian in the README" >&2; exit 1; }
    build=$(echo "$scratch"/release/build/released/membership-*/build)/linux-$debian
    [[ $qemu != - ]] || build=${build%/*}/package
    # The oldest kernel, as `file` reads it off the program ("for GNU/Linux 3.2.0").
    kernel=$(file -b "$build/src/membership" | grep -Eo 'GNU/Linux [0-9.]+' | sed 's/.* //; s/\.0$//')
    [[ $row == *"| $kernel |"* ]] || { echo "$debian: Linux from $kernel, not as the README says" >&2; exit 1; }
    headers=$(readelf -hldsW "$build/src/membership")
    needs=('GNU_RELRO' 'GNU_STACK .* RW +0x' ' __stack_chk_fail$' 'Type: +EXEC')
    [[ $row != *"a random address"* ]] || needs=("${needs[@]:0:3}" 'Type: +DYN' 'Flags: NOW PIE')
    for need in "${needs[@]}"; do
        grep -Eq "$need" <<<"$headers" || { echo "$debian: no $need" >&2; exit 1; }
    done
    ! grep -Eq 'NEEDED|INTERP' <<<"$headers" || { echo "$debian: not static" >&2; exit 1; }
    root=$scratch/dpkg-$debian
    mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
    touch "$root/var/lib/dpkg/status"
    dpkg --root="$root" --add-architecture "$debian"
    dpkg --root="$root" --force-script-chrootless -i "$dist"/membership_*_"$debian".deb >/dev/null
    [[ $rpm != - ]] || continue
    root=$scratch/rpm-$rpm
    rpm --root "$root" --initdb
    rpm --root "$root" -i --ignorearch "$dist"/membership-*-1."$rpm".rpm
    rpm --root "$root" -V membership
done < <(grep -v '^#' packaging/linux-processors.txt)
