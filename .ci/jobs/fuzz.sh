#!/usr/bin/env bash
# A bounded libFuzzer run of the dialogue, from the seed corpus in fuzz/corpus.
# A crashing input is kept in build/fuzz/findings/ (make it a unit test case).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
ensure_packages clang libclang-rt-14-dev cmake ninja-build
seconds=${FUZZ_SECONDS:-60}

cmake --workflow --preset fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
mkdir -p build/fuzz/findings
build/fuzz/fuzz/dialogue_fuzzer -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -artifact_prefix=build/fuzz/findings/ "$corpus" fuzz/corpus
