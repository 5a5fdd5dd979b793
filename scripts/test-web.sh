#!/usr/bin/env bash
# The page's tests in Debian's headless Chromium, driven by puppeteer-core
# (scripts/test-web.mjs, and the 3D View's src/web/view/view-test.mjs): builds
# the page (scripts/build-web.sh) and, in the native build (${V2BSP_BUILD_DIR:-build}), v2bsp-extract and the map builder
# whose output the page's is compared with. puppeteer-core goes to
# build-web/npm, which git ignores.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh web
native=${V2BSP_BUILD_DIR:-build}
cmake -S . -B "$native" -G Ninja -DV2BSP_BUILD_TOOLS=ON >/dev/null
cmake --build "$native" --target v2bsp-extract v2bsp-mkmap --parallel "${V2BSP_JOBS:-$(nproc)}" >/dev/null
site=$(bash scripts/build-web.sh)

puppeteer=$(bash scripts/install-puppeteer.sh)
V2BSP_PUPPETEER=$puppeteer \
  node scripts/test-web.mjs "$site" "$PWD/$native/src/cli/v2bsp-extract" "$PWD/$native/tools/mapbuilder/v2bsp-mkmap"
V2BSP_PUPPETEER=$puppeteer \
  node src/web/view/view-test.mjs "$site" "$PWD/$native/tools/mapbuilder/v2bsp-mkmap" "$PWD/$native/src/cli/v2bsp-extract"
