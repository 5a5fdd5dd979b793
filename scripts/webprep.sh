# Sourced by scripts/test-web.sh and scripts/bench-web.sh, from the tree's
# top: installs what the page and its runs in a browser need, builds
# v2bsp-extract and the map builder in the native build
# (${V2BSP_BUILD_DIR:-build}) and the page (scripts/build-web.sh), and
# installs puppeteer-core from npm into ${V2BSP_WEB_BUILD_DIR:-build-web}/npm
# (which git ignores). Sets native, site and puppeteer (the package's folder).
bash scripts/setup.sh web
native=${V2BSP_BUILD_DIR:-build}
cmake -S . -B "$native" -G Ninja -DV2BSP_BUILD_TOOLS=ON >/dev/null
cmake --build "$native" --target v2bsp-extract v2bsp-mkmap --parallel "${V2BSP_JOBS:-$(nproc)}" >/dev/null
site=$(bash scripts/build-web.sh)

prefix=$PWD/${V2BSP_WEB_BUILD_DIR:-build-web}/npm
# Pinned, so that a new release cannot change a verdict unnoticed.
puppeteer_version=25.19.0
installed=$(node -p "require('$prefix/node_modules/puppeteer-core/package.json').version" 2>/dev/null || true)
if [ "$installed" != "$puppeteer_version" ]; then
  mkdir -p "$prefix"
  npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error "puppeteer-core@$puppeteer_version" >&2
fi
puppeteer=$prefix/node_modules/puppeteer-core
