#!/usr/bin/env bash
# The core as the page runs it: the command line and the core's test programs
# built with emscripten (WebAssembly, one thread) in build-node/ and run under
# node with the real file system, then the command line's files compared byte
# for byte with the Linux build's on builder maps (scripts/compare-builds.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh web
# Debian's emscripten runs its JavaScript tools with node and looks for their
# modules (acorn) where Debian puts them.
export NODE_PATH=/usr/share/nodejs
build=${V2BSP_NODE_BUILD_DIR:-build-node}
# emscripten 3.1.6 loads the wasm through fetch() where node has one, which
# cannot read a path: node runs without it.
emcmake cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DV2BSP_BUILD_UI=OFF \
  -DV2BSP_BUILD_TESTS=ON -DV2BSP_BUILD_BENCHMARKS=OFF \
  "-DCMAKE_EXE_LINKER_FLAGS=-sNODERAWFS=1 -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=4GB -sEXIT_RUNTIME=1" \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=$(command -v node);--no-experimental-fetch" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)"
bash scripts/compare-builds.sh node
