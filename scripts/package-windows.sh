#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and packs them twice:
# - the portable zip build-windows/v2bsp-1.00-windows-x64.zip: the programs, a
#   README.txt for Windows users and the licence of the Debian package's
#   copyright file, both with CR LF line ends;
# - the installer build-windows/v2bsp-1.00-setup.exe, made by makensis from
#   data/windows/installer.nsi out of the zip's folder, with the icon the
#   cross build draws for the programs (src/win32/v2bsp.ico) as its own.
# The programs are those the cross build lists in windows-programs.txt:
# v2bsp-extract.exe, and v2bsp.exe once the build makes the window. Prints the
# zip's path, then the installer's.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${V2BSP_WINDOWS_BUILD_DIR:-build-windows}
# The programs alone, unless the caller asks for the tests too
# (scripts/test-windows.sh does).
V2BSP_WINDOWS_BUILD_DIR=$build V2BSP_WINDOWS_TESTS=${V2BSP_WINDOWS_TESTS:-OFF} bash scripts/build-windows.sh >&2
version=$(sed -n 's/^set(V2BSP_VERSION_TEXT "\(.*\)")$/\1/p' CMakeLists.txt)
version_quad=$(sed -n 's/^project(v2bsp VERSION \([0-9.]*\) .*/\1.0/p' CMakeLists.txt)
name=v2bsp-$version-windows-x64
stage=$build/zip/$name
setup=$build/v2bsp-$version-setup.exe
rm -rf "$build/zip" "$build/$name.zip" "$setup"
mkdir -p "$stage"
while read -r program; do
  if [ ! -f "$program" ]; then
    echo "package-windows.sh: the build lists $program but did not make it" >&2
    exit 1
  fi
  x86_64-w64-mingw32-strip -o "$stage/$(basename "$program")" "$program"
done <"$build/windows-programs.txt"
if [ ! -f "$stage/v2bsp-extract.exe" ]; then
  echo "package-windows.sh: v2bsp-extract.exe is missing from $build/windows-programs.txt" >&2
  exit 1
fi
icon=$build/src/win32/v2bsp.ico
if [ ! -f "$icon" ]; then
  echo "package-windows.sh: the build did not draw the programs' icon $icon" >&2
  exit 1
fi
sed 's/$/\r/' data/windows/README.txt >"$stage/README.txt"
# The licence as the Debian copyright file states it, its paragraph marks undone.
awk 'previous == "" && /^License: Expat$/ { text = 1; next } text { print } { previous = $0 }' data/copyright \
  | sed -e 's/^ \.$//' -e 's/^ //' \
  | { echo "Copyright 2026 v2bsp developers"; echo; cat; } | sed 's/$/\r/' >"$stage/LICENSE.txt"
(cd "$build/zip" && zip -q -X -r "../$name.zip" "$name")
makensis -V2 -WX -DVERSION="$version" -DVERSION_QUAD="$version_quad" \
  -DSTAGE="$(realpath "$stage")" -DICON="$(realpath "$icon")" -DOUTFILE="$(realpath "$setup")" data/windows/installer.nsi >&2
realpath "$build/$name.zip" "$setup"
