#!/usr/bin/env bash
# End-to-end benchmark of v2bsp-extract on a large synthetic map:
#   bash scripts/bench-extract.sh [MESHES VERTICES TRIANGLES [RUNS]]
# (defaults: 2000 meshes, 4 million vertices, 4 million triangles, 3 runs).
set -euo pipefail
cd "$(dirname "$0")/.."
meshes=${1:-2000}
vertices=${2:-4000000}
triangles=${3:-4000000}
runs=${4:-3}

bash scripts/setup.sh
build=${V2BSP_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target v2bsp-extract v2bsp-mkmap v2bsp-bench-extract >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/mapbuilder/v2bsp-mkmap" large "$work/large.map" \
  --meshes "$meshes" --vertices "$vertices" --triangles "$triangles"
"$build/tools/bench/extract/v2bsp-bench-extract" "$build/src/cli/v2bsp-extract" "$work/large.map" "$vertices" "$runs"
