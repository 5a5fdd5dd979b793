#!/usr/bin/env bash
# The page's tests in Debian's headless Chromium, driven by puppeteer-core:
# scripts/test-web.mjs (the page against v2bsp-extract) and the 3D View's
# src/web/view/view-test.mjs. What they need is built and installed first
# (scripts/webprep.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/webprep.sh
V2BSP_PUPPETEER=$puppeteer \
  node scripts/test-web.mjs "$site" "$PWD/$native/src/cli/v2bsp-extract" "$PWD/$native/tools/mapbuilder/v2bsp-mkmap"
V2BSP_PUPPETEER=$puppeteer \
  node src/web/view/view-test.mjs "$site" "$PWD/$native/tools/mapbuilder/v2bsp-mkmap" "$PWD/$native/src/cli/v2bsp-extract"
