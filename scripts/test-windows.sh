#!/usr/bin/env bash
# Builds the Windows programs, the zip and the installer
# (scripts/package-windows.sh) and runs the test suites that do not depend on
# POSIX through wine, in a wine prefix of its own inside build-windows/; then
# checks that v2bsp-extract.exe writes the same bytes as the Linux build on the
# sample, a large map and every builder map of the worst-case and corruption
# tables (scripts/compare-windows.sh), and that the installer installs and
# uninstalls silently and completely (scripts/check-installer.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${V2BSP_WINDOWS_BUILD_DIR:-build-windows}
# The build's messages only when it fails.
mkdir -p "$build"
if ! bash scripts/package-windows.sh >/dev/null 2>"$build/package.log"; then
  cat "$build/package.log" >&2
  exit 1
fi

export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
fi
# One server for every test program, kept until the tests end.
wineserver -p 2>/dev/null || true  # one already running serves as well
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# Wine once hung at a test program's exit: a test that times out runs again.
ctest --test-dir "$build" --output-on-failure --parallel "${V2BSP_JOBS:-$(nproc)}" \
  --timeout 60 --repeat after-timeout:2
bash scripts/compare-windows.sh
bash scripts/check-installer.sh
