#!/usr/bin/env bash
# The page's speed in Debian's headless Chromium against v2bsp-extract -j 1 on
# the large builder map (200 meshes, 4 million vertices): its mesh files, its
# glb and the 3D View's first picture (tools/bench/web/bench-web.mjs).
#   scripts/bench-web.sh [RUNS]      (default 5; medians)
# Builds what it needs as scripts/test-web.sh does (scripts/webprep.sh). A
# bench: it prints figures and fails only when something cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/webprep.sh
V2BSP_PUPPETEER=$puppeteer node tools/bench/web/bench-web.mjs "$site" "$PWD/$native/src/cli/v2bsp-extract" \
  "$PWD/$native/tools/mapbuilder/v2bsp-mkmap" "${1:-5}"
