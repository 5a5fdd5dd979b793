#!/usr/bin/env bash
# The page's speed in Debian's headless Chromium against v2bsp-extract -j 1 on
# the large builder map (200 meshes, 4 million vertices): its mesh files, its
# glb and the 3D View's first picture (tools/bench/web/bench-web.mjs).
#   scripts/bench-web.sh [RUNS]      (default 5; medians)
# Builds what it needs as scripts/test-web.sh does. A bench: it prints figures
# and fails only when something cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh web
native=${V2BSP_BUILD_DIR:-build}
cmake -S . -B "$native" -G Ninja -DV2BSP_BUILD_TOOLS=ON >/dev/null
cmake --build "$native" --target v2bsp-extract v2bsp-mkmap --parallel "${V2BSP_JOBS:-$(nproc)}" >/dev/null
site=$(bash scripts/build-web.sh)
puppeteer=$(bash scripts/install-puppeteer.sh)
V2BSP_PUPPETEER=$puppeteer node tools/bench/web/bench-web.mjs "$site" "$PWD/$native/src/cli/v2bsp-extract" \
  "$PWD/$native/tools/mapbuilder/v2bsp-mkmap" "${1:-5}"
