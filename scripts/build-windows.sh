#!/usr/bin/env bash
# Builds v2bsp-extract.exe and the window program v2bsp.exe for 64-bit Windows
# (and, unless V2BSP_WINDOWS_TESTS=OFF, the test programs that run under
# wine): a Release cross build with MinGW-w64 into build-windows/, statically
# linked. Installs what is missing through scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh windows
build=${V2BSP_WINDOWS_BUILD_DIR:-build-windows}
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DV2BSP_BUILD_UI=OFF -DV2BSP_BUILD_BENCHMARKS=OFF -DV2BSP_WERROR=OFF \
  -DV2BSP_BUILD_TESTS="${V2BSP_WINDOWS_TESTS:-ON}"
cmake --build "$build" --parallel "${V2BSP_JOBS:-$(nproc)}"
echo "$PWD/$build/src/cli/v2bsp-extract.exe"
echo "$PWD/$build/src/win32/v2bsp.exe"
