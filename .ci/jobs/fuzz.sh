#!/usr/bin/env bash
# libFuzzer on the dialogue, the same run for the same commit: every input in
# fuzz/corpus replayed once, then FUZZ_RUNS runs from seed FUZZ_SEED. By hand,
# FUZZ_SEED picks another seed and FUZZ_SECONDS fuzzes for that long instead.
# A failing input is kept in build/fuzz/findings/ (HACKING.md: make it a test).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
ensure_packages clang cmake ninja-build
# libFuzzer's runtime comes with the installed clang's own version.
ensure_packages "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"

cmake --workflow --preset fuzz
fuzzer=build/fuzz/fuzz/dialogue_fuzzer

echo "replaying fuzz/corpus"
"$fuzzer" fuzz/corpus/*

seed=${FUZZ_SEED:-1}
if [[ -n ${FUZZ_SECONDS:-} ]]; then
    bound=-max_total_time=$FUZZ_SECONDS
else
    bound=-runs=${FUZZ_RUNS:-2000000}
fi
echo "fuzzing: -seed=$seed $bound"
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
mkdir -p build/fuzz/findings
"$fuzzer" -seed="$seed" "$bound" -print_final_stats=1 -timeout=10 \
    -artifact_prefix=build/fuzz/findings/ "$corpus" fuzz/corpus
