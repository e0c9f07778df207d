#!/usr/bin/env bash
# The Windows build (MinGW-w64), its whole test suite run under Wine: the
# installer's tests and the console's pause among them.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
ensure_packages g++-mingw-w64-x86-64-posix wine64 googletest cmake ninja-build python3 \
    wixl msitools faketime
cmake --workflow --preset windows
