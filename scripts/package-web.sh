#!/usr/bin/env bash
# Builds the page (scripts/build-web.sh) and packs its site as
# build-web/v2bsp-<version>-web.zip, whose folder v2bsp-<version>-web goes to
# any static web host as it is. Prints the zip's path.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${V2BSP_WEB_BUILD_DIR:-build-web}
V2BSP_WEB_BUILD_DIR=$build bash scripts/build-web.sh >/dev/null
version=$(sed -n 's/^set(V2BSP_VERSION_TEXT "\(.*\)")$/\1/p' CMakeLists.txt)
name=v2bsp-$version-web
rm -rf "$build/zip" "$build/$name.zip"
mkdir -p "$build/zip"
cp -r "$build/site" "$build/zip/$name"
(cd "$build/zip" && zip -qrX "../$name.zip" "$name")
rm -rf "$build/zip"
echo "$PWD/$build/$name.zip"
