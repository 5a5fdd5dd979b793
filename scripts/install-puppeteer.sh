#!/usr/bin/env bash
# Installs puppeteer-core from npm into ${V2BSP_WEB_BUILD_DIR:-build-web}/npm
# (which git ignores) unless that version is there, and prints its folder.
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=$PWD/${V2BSP_WEB_BUILD_DIR:-build-web}/npm
# Pinned, so that a new release cannot change a verdict unnoticed.
version=25.19.0
installed=$(node -p "require('$prefix/node_modules/puppeteer-core/package.json').version" 2>/dev/null || true)
if [ "$installed" != "$version" ]; then
  mkdir -p "$prefix"
  npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error "puppeteer-core@$version" >&2
fi
echo "$prefix/node_modules/puppeteer-core"
