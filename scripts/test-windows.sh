#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and runs the test
# suites that do not depend on POSIX through wine, in a wine prefix of its own
# inside build-windows/; then checks that v2bsp-extract.exe writes the same
# bytes as the Linux build on the sample, a large map and every builder map of
# the worst-case and corruption tables (scripts/compare-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build-windows.sh >/dev/null
build=${V2BSP_WINDOWS_BUILD_DIR:-build-windows}

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
