# Sourced by the CI jobs that make packages, to check them. Each is made
# twice, from two fresh clones of the last commit at two paths, the second
# under another umask, time zone and locale (what a builder could leak into
# an archive: modes, times, order and words), and must come out the same.

# package_twice SCRATCH PRESET...: makes each package workflow's packages in
# SCRATCH/first and SCRATCH/second, prints their SHA256SUMS and fails unless
# the two agree. SCRATCH/first/build is left for further checks.
package_twice() {
    local scratch=$1 clone
    shift
    for clone in first second; do
        git clone --quiet "$PWD" "$scratch/$clone"
    done
    run_workflows "$scratch/first" "$@" || return 1
    (umask 077 && TZ=Pacific/Chatham LANG=C.UTF-8 LC_ALL=C.UTF-8 \
        run_workflows "$scratch/second" "$@") || return 1
    sums_of "$scratch/first" "$@"
    diff <(sums_of "$scratch/first" "$@") <(sums_of "$scratch/second" "$@")
}

# run_workflows CLONE PRESET...
run_workflows() {
    local clone=$1 preset
    shift
    for preset in "$@"; do
        (cd "$clone" && cmake --workflow --preset "$preset" >/dev/null) || return 1
    done
}

# sums_of CLONE PRESET...: each workflow's SHA256SUMS, under its preset's name.
sums_of() {
    local clone=$1 preset
    shift
    for preset in "$@"; do
        sed "s|  |  $preset/|" "$clone/build/$preset/packages/SHA256SUMS"
    done
}

# check_debs PACKAGE...: lintian must report nothing; what it reports is shown.
check_debs() {
    local report
    report=$(lintian --tag-display-limit 0 "$@" 2>&1 | grep -v 'running with root privileges' ||
        true)
    if [[ -n $report ]]; then
        printf '%s\n' "$report"
        return 1
    fi
    echo "lintian: nothing to report in $*"
}

# check_rpms PACKAGE...: rpmlint, with the project's configuration, must
# report no error or warning; its report is shown.
check_rpms() {
    local report
    report=$(rpmlint -c packaging/rpm/rpmlint.toml "$@" 2>&1 || true)
    printf '%s\n' "$report" | grep -v '^ *$'
    ! grep -Eq ': [EW]: ' <<<"$report" && grep -q ' 0 errors, 0 warnings' <<<"$report"
}

# package_version BUILD: the version the packages of a build folder carry.
package_version() {
    sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$1/CPackConfig.cmake"
}

# expect_worked_example COMMAND...: runs COMMAND with the worked example's
# entries as its input; fails unless its output ends with their dialogue.
expect_worked_example() {
    printf 'a\n6\nAnn\n' | "$@" | python3 -c '
import sys
sys.path.insert(0, "tests/program")
from expected_output import WORKED_EXAMPLE_OUTPUT
output = sys.stdin.buffer.read()
if not output.endswith(WORKED_EXAMPLE_OUTPUT):
    sys.exit(f"{sys.argv[1]} wrote {output[-300:]!r}")' "$*"
    echo "$*: the worked example"
}
