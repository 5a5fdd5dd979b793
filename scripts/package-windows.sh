#!/usr/bin/env bash
# Builds v2bsp-extract.exe (scripts/build-windows.sh, without the tests) and
# packs the portable zip build-windows/v2bsp-1.00-windows-x64.zip: the program,
# a README.txt for Windows users and the licence of the Debian package's
# copyright file, both with CR LF line ends. Prints the zip's path last.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${V2BSP_WINDOWS_BUILD_DIR:-build-windows}
V2BSP_WINDOWS_BUILD_DIR=$build bash scripts/build-windows.sh >&2
version=$(sed -n 's/^set(V2BSP_VERSION_TEXT "\(.*\)")$/\1/p' CMakeLists.txt)
name=v2bsp-$version-windows-x64
stage=$build/zip/$name
rm -rf "$build/zip" "$build/$name.zip"
mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/v2bsp-extract.exe" "$build/src/cli/v2bsp-extract.exe"
sed 's/$/\r/' data/windows/README.txt >"$stage/README.txt"
# The licence as the Debian copyright file states it, its paragraph marks undone.
awk 'previous == "" && /^License: Expat$/ { text = 1; next } text { print } { previous = $0 }' data/copyright \
  | sed -e 's/^ \.$//' -e 's/^ //' \
  | { echo "Copyright 2026 v2bsp developers"; echo; cat; } | sed 's/$/\r/' >"$stage/LICENSE.txt"
(cd "$build/zip" && zip -q -X -r "../$name.zip" "$name")
realpath "$build/$name.zip"
