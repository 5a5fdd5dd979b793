#!/usr/bin/env bash
# The page's tests in Debian's headless Chromium, driven by puppeteer-core
# (scripts/test-web.mjs): builds the page (scripts/build-web.sh) and, in the
# native build (${V2BSP_BUILD_DIR:-build}), v2bsp-extract and the map builder
# whose output the page's is compared with. puppeteer-core goes to
# build-web/npm, which git ignores.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh web
native=${V2BSP_BUILD_DIR:-build}
cmake -S . -B "$native" -G Ninja -DV2BSP_BUILD_TOOLS=ON >/dev/null
cmake --build "$native" --target v2bsp-extract v2bsp-mkmap --parallel "${V2BSP_JOBS:-$(nproc)}" >/dev/null
site=$(bash scripts/build-web.sh)

prefix=${V2BSP_WEB_BUILD_DIR:-build-web}/npm
# Pinned, so that a new release cannot change a verdict unnoticed.
version=25.19.0
installed=$(node -p "require('$PWD/$prefix/node_modules/puppeteer-core/package.json').version" 2>/dev/null || true)
if [ "$installed" != "$version" ]; then
  mkdir -p "$prefix"
  npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error "puppeteer-core@$version" >&2
fi
V2BSP_PUPPETEER=$PWD/$prefix/node_modules/puppeteer-core \
  node scripts/test-web.mjs "$site" "$PWD/$native/src/cli/v2bsp-extract" "$PWD/$native/tools/mapbuilder/v2bsp-mkmap"
