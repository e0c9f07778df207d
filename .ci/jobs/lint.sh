#!/usr/bin/env bash
# clang-format (enforced), clang-tidy and cppcheck over every C++ file; any
# finding fails the job.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
ensure_packages clang-format clang-tidy cppcheck clang libgtest-dev cmake ninja-build python3 ||
    exit 1

status=0
mapfile -t sources < <(git ls-files '*.cpp' '*.hpp')

echo "clang-format: ${#sources[@]} files"
clang-format --dry-run -Werror "${sources[@]}" || status=1

# Compilation databases: the test build (library, tests), the fuzz build
# (fuzzer) and the benchmark build (its twin program).
for preset in test fuzz bench; do
    cmake --preset "$preset" >/dev/null || status=1
done
echo "clang-tidy"
run-clang-tidy -quiet -j "$(nproc)" -p build/test "$PWD/(src|tests)/" >build/clang-tidy.log 2>&1 ||
    status=1
run-clang-tidy -quiet -j "$(nproc)" -p build/fuzz "$PWD/fuzz/" >>build/clang-tidy.log 2>&1 ||
    status=1
run-clang-tidy -quiet -j "$(nproc)" -p build/bench "$PWD/bench/" >>build/clang-tidy.log 2>&1 ||
    status=1
grep -E '(warning|error):' build/clang-tidy.log && status=1

echo "cppcheck"
cppcheck --enable=warning,style,performance,portability --std=c++17 --language=c++ \
    --library=googletest --inline-suppr --error-exitcode=1 --quiet \
    -I src src tests/unit fuzz bench || status=1

exit "$status"
