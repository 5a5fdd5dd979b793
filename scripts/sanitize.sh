#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (in build-asan/, or V2BSP_ASAN_BUILD_DIR), then v2bsp-extract on the sample
# map under Valgrind, which must find no error and no leak. The Valgrind run
# uses the plain build of the test command (build/, or V2BSP_BUILD_DIR) and
# builds what it needs there when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
asan=${V2BSP_ASAN_BUILD_DIR:-build-asan}
echo "== Test suite under ASan + UBSan in $asan"
cmake -S . -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DV2BSP_SANITIZE=ON \
  -DV2BSP_BUILD_TESTS=ON -DV2BSP_BUILD_UI=OFF -DV2BSP_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$asan" --parallel "$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1:strict_init_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$asan" --output-on-failure --parallel "$(nproc)"

build=${V2BSP_BUILD_DIR:-build}
echo "== v2bsp-extract on the sample map under Valgrind ($build)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DV2BSP_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target v2bsp-extract v2bsp_sample_map >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes \
  "$build/src/cli/v2bsp-extract" -q -o "$out" "$build/sample/sample.map"
meshes=$(find "$out" -name 'mesh*.obj' | wc -l)
if [ "$meshes" -eq 0 ]; then
  echo "sanitize.sh: the Valgrind run wrote no mesh file" >&2
  exit 1
fi
echo "Valgrind: no error, no leak; $meshes mesh files written"
