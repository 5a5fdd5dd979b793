#!/usr/bin/env bash
# Installs what is missing, builds, makes the bundled sample map and extracts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
build=${V2BSP_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --parallel "$(nproc)" >/dev/null

sample="$build/sample/sample.map"
out="$PWD/extracted"
echo "Extracting the sample map $sample into $out:"
"$build/src/cli/v2bsp-extract" -o "$out" "$sample"
echo
echo "The mesh files are in $out/sample room/:"
ls -l "$out/sample room"
