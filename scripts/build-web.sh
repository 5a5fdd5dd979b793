#!/usr/bin/env bash
# Builds the page with Debian's emscripten into build-web/ and assembles the
# site in build-web/site/: index.html, its scripts and style, the core's
# worker module and its wasm (and the 3D View's files when its part is in the
# tree). Nothing else: the folder can go to any static web host as it is.
# Installs what is missing through scripts/setup.sh. Prints the site's folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh web
build=${V2BSP_WEB_BUILD_DIR:-build-web}
# Debian's emscripten runs its JavaScript tools with the node modules Debian
# keeps in /usr/share/nodejs (acorn), where a node not built by Debian does
# not look.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DV2BSP_BUILD_UI=OFF -DV2BSP_BUILD_TESTS=OFF -DV2BSP_WERROR="${V2BSP_WERROR:-OFF}" >&2
cmake --build "$build" --parallel "${V2BSP_JOBS:-$(nproc)}" >&2
site=$build/site
rm -rf "$site"
cp -r "$build/src/web/site" "$site"
echo "$PWD/$site"
