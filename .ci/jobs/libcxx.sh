#!/usr/bin/env bash
# clang++ with libc++: the whole tree with no warning, every test passing, the terminal
# test's random job control thoroughly (its seed shown).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
ensure_packages clang libc++-dev libc++abi-dev googletest cmake ninja-build python3
cmake --workflow --preset libcxx
grep -h -A1 "random runs from seed" build/libcxx/Testing/Temporary/LastTest.log # its seed
