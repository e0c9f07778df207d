#!/usr/bin/env bash
# clang-format (enforced), clang-tidy and cppcheck over every C++ file, the
# POSIX code compiled with only what POSIX.1-2008 (with XSI) declares, and black and
# flake8 over every Python file; any finding fails the job.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
ensure_packages clang-format clang-tidy cppcheck clang libgtest-dev cmake ninja-build python3 \
    black flake8 ||
    exit 1

status=0
mapfile -t sources < <(git ls-files '*.cpp' '*.hpp')

echo "clang-format: ${#sources[@]} files"
clang-format --dry-run -Werror "${sources[@]}" || status=1

# Each build's compilation database, every source a unit of its own, and the sources it is the
# one for.
declare -A sources_of_build=([test]='(src|tests)' [fuzz]='fuzz')
echo "clang-tidy"
mkdir -p build
: >build/clang-tidy.log
for preset in "${!sources_of_build[@]}"; do
    cmake --preset "$preset" -B "build/lint-$preset" -DCMAKE_UNITY_BUILD=OFF >/dev/null || status=1
    run-clang-tidy -quiet -j "$(nproc)" -p "build/lint-$preset" \
        "$PWD/${sources_of_build[$preset]}/" >>build/clang-tidy.log 2>&1 || status=1
done
grep -E '(warning|error):' build/clang-tidy.log && status=1

echo "cppcheck"
cppcheck --enable=warning,style,performance,portability --std=c++17 --language=c++ \
    --library=googletest --inline-suppr --error-exitcode=1 --quiet \
    -I src src tests/unit tests/program fuzz || status=1

echo "POSIX.1-2008 and its XSI option alone (glibc's extensions hidden)"
for source in src/main.cpp src/platform/console_pause_posix.cpp src/platform/descriptor_buffers.cpp; do
    g++ -std=c++17 -U_GNU_SOURCE -D_XOPEN_SOURCE=700 -Werror -Wall -Wextra -Isrc \
        -fsyntax-only "$source" || status=1
done

mapfile -t python < <(git ls-files '*.py')
echo "black and flake8: ${#python[@]} files"
black --check --quiet "${python[@]}" || status=1
flake8 "${python[@]}" || status=1

exit "$status"
