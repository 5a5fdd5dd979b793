#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
build=${V2BSP_BUILD_DIR:-build}
# Warnings are errors on CI (CI=true), so that none gets in; elsewhere a newer
# compiler's new warning does not stop the build.
werror=OFF
if [ "${CI:-}" = true ]; then werror=ON; fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DV2BSP_BUILD_TESTS=ON -DV2BSP_WERROR=$werror
cmake --build "$build" --parallel "$(nproc)"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)"
