#!/usr/bin/env bash
# Every test under AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer, the
# torture test thoroughly (its seed shown).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
ensure_packages g++ libgtest-dev cmake ninja-build python3
cmake --workflow --preset sanitize
grep -h -A1 "random runs from seed" build/sanitize/Testing/Temporary/LastTest.log # its seed
