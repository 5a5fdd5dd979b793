#!/usr/bin/env bash
# Checks the naming rule of .clang-tidy over src/ and fails on any finding.
# Two passes, each over a configured build's compile commands (nothing is built):
#   Linux: every source of src/, with the Qt window (tests and tools off);
#   Windows: the Win32-only sources (src/win32, src/platform/win32, the Win32
#   entry point), parsed by clang as x86_64-w64-mingw32 against the MinGW
#   headers. Their shared headers are checked by both passes.
# "--no-windows" skips the second pass. Build folders: V2BSP_TIDY_DIR (default
# build-tidy) and V2BSP_TIDY_WINDOWS_DIR (default build-tidy-windows).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

windows=yes
for argument in "$@"; do
  case "$argument" in
    --no-windows) windows=no ;;
    *) echo "usage: scripts/tidy.sh [--no-windows]" >&2; exit 2 ;;
  esac
done

if [ $windows = yes ]; then bash scripts/setup.sh windows; else bash scripts/setup.sh; fi

jobs=${V2BSP_TIDY_JOBS:-2}
status=0
findings=$(mktemp)
trap 'rm -f "$findings"' EXIT

# run-clang-tidy colours its output whatever it is written to; the colour
# codes are taken out so that the log reads in a file.
tidy() {
  local log rc=0
  log=$(mktemp)
  run-clang-tidy -quiet -j "$jobs" "$@" >"$log" 2>&1 || rc=$?
  sed 's/\x1b\[[0-9;]*m//g' "$log" |
    grep -v -E '^(clang-tidy-[0-9]+ |[0-9]+ warnings? (and [0-9]+ errors? )?generated|Suppressed [0-9]+ warnings|Use -header-filter|[0-9]+ warnings? treated as errors)' || true
  # One line per finding, a header's findings once however many sources include it.
  sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^/.*: (error|warning): ' |
    sed -E 's#/[^/]+/\.\./#/#g' >>"$findings" || true
  rm -f "$log"
  return $rc
}

linux=${V2BSP_TIDY_DIR:-build-tidy}
cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DV2BSP_BUILD_UI=ON -DV2BSP_BUILD_TESTS=OFF -DV2BSP_BUILD_TOOLS=OFF \
  -DV2BSP_BUILD_BENCHMARKS=OFF -DV2BSP_FUZZ=OFF >/dev/null
echo "clang-tidy: Linux sources of src/"
tidy -p "$linux" "^$root/src/" || status=1

if [ $windows = yes ]; then
  mingw=${V2BSP_TIDY_WINDOWS_DIR:-build-tidy-windows}
  cmake -S . -B "$mingw" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DV2BSP_BUILD_UI=OFF \
    -DV2BSP_BUILD_TESTS=OFF -DV2BSP_BUILD_TOOLS=OFF -DV2BSP_BUILD_BENCHMARKS=OFF >/dev/null
  # clang does not find the C++ library of Debian's MinGW GCC by itself (its
  # folder is named "<version>-posix"), so it is named here.
  gcc=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix | sort -V | tail -n 1)
  echo "clang-tidy: Win32 sources (x86_64-w64-mingw32)"
  tidy -p "$mingw" -extra-arg=--target=x86_64-w64-mingw32 -extra-arg=-nostdinc++ \
    -extra-arg=-isystem"$gcc/include/c++" \
    -extra-arg=-isystem"$gcc/include/c++/x86_64-w64-mingw32" \
    -extra-arg=-isystem"$gcc/include/c++/backward" \
    "^$root/src/(win32|platform/win32)/.*\.cpp$" "^$root/src/cli/main_win32\.cpp$" || status=1
fi

if [ $status -ne 0 ]; then
  echo "clang-tidy: $(sort -u "$findings" | wc -l) distinct findings:" >&2
  sort -u "$findings" | sed "s#^$root/##" >&2
else
  echo "clang-tidy: no findings"
fi
exit $status
