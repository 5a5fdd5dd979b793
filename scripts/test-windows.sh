#!/usr/bin/env bash
# Builds the Windows programs, the zip and the installer
# (scripts/package-windows.sh) and runs the test suites that do not depend on
# POSIX through wine, in a wine prefix of its own inside build-windows/ and on
# a virtual X server of its own (the windows of v2bsp.exe); then checks that
# v2bsp-extract.exe writes the same bytes as the Linux build on the sample, a
# large map and every builder map of the worst-case and corruption tables
# (scripts/compare-builds.sh windows), and that the installer installs and
# uninstalls silently and completely (scripts/check-installer.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${V2BSP_WINDOWS_BUILD_DIR:-build-windows}
# How long, in seconds, the virtual X server may take to start before it
# counts as hung: only a hang reaches it, never a machine busy with other work.
patience=600
# The build's messages only when it fails.
mkdir -p "$build"
if ! V2BSP_WINDOWS_TESTS=ON bash scripts/package-windows.sh >/dev/null 2>"$build/package.log"; then
  cat "$build/package.log" >&2
  exit 1
fi

export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
fi
# The window tests need an X server: a virtual one of their own, at 96 dpi.
# A wine server left from before may hold another display; it is ended first.
wineserver -k >/dev/null 2>&1 || true
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb=$!
started=$SECONDS
until [ -s "$display_file" ]; do
  if ! kill -0 "$xvfb" 2>/dev/null || [ $((SECONDS - started)) -ge $patience ]; then
    echo "test-windows.sh: the virtual X server did not start" >&2
    kill "$xvfb" 2>/dev/null || true
    exit 1
  fi
  sleep 0.1
done
export DISPLAY=":$(cat "$display_file")"
rm -f "$display_file"
# One server for every test program, kept until the tests end.
wineserver -p 2>/dev/null || true
# The first program on a new display also starts wine's own desktop process;
# a small one does that here, before the tests start side by side.
wine cmd.exe /c exit 0 >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true; kill "$xvfb" 2>/dev/null || true' EXIT

# Each test's hang catch is its TIMEOUT from the CMake files. Wine once hung
# at a test program's exit, after every test had passed: a test that times
# out runs again.
ctest --test-dir "$build" --output-on-failure --parallel "${V2BSP_JOBS:-$(nproc)}" \
  --repeat after-timeout:2
bash scripts/compare-builds.sh windows
bash scripts/check-installer.sh
