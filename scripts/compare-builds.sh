#!/usr/bin/env bash
# Extracts builder maps with the Linux build's v2bsp-extract and with another
# build of it, every format at once, and fails unless both write the same files
# byte for byte and end with the same exit status:
#   scripts/compare-builds.sh windows   v2bsp-extract.exe (build-windows/) under wine
#   scripts/compare-builds.sh node      the WebAssembly build (build-node/) under node
# The maps: the sample, a large map (v2bsp-mkmap large, 72 MB), the
# edge meshes, every valid shape and corruption of the fuzz seeds, and the
# worst maps of the bounded-work table at 2 MiB (at 64 MiB one of them makes
# 190,000 mesh files, which takes wine about 8 minutes).
# Run by scripts/test-windows.sh, which sets up wine, and scripts/test-node.sh,
# which builds build-node/; the Linux build is the one in build/ when there is
# one (scripts/test.sh makes it), else one of the command line alone in
# build-windows/linux or build-node/linux.
set -euo pipefail
cd "$(dirname "$0")/.."

other=${1:-}
case $other in
  windows)
    otherbuild=${V2BSP_WINDOWS_BUILD_DIR:-build-windows}
    exe=$otherbuild/src/cli/v2bsp-extract.exe
    # The other build's command line, on a map, into a folder.
    extract_other() { wine "$exe" -q -j 2 --format meshes,obj,glb -o "$(winepath -w "$2")" "$(winepath -w "$1")"; }
    ;;
  node)
    otherbuild=${V2BSP_NODE_BUILD_DIR:-build-node}
    script=$otherbuild/src/cli/v2bsp-extract.js
    extract_other() { node --no-experimental-fetch "$script" -q -j 2 --format meshes,obj,glb -o "$2" "$1"; }
    ;;
  *)
    echo "usage: $0 windows|node" >&2
    exit 2
    ;;
esac
linux=build
if [ ! -f "$linux/CMakeCache.txt" ]; then
  linux=$otherbuild/linux
  cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DV2BSP_BUILD_UI=OFF -DV2BSP_BUILD_BENCHMARKS=OFF >/dev/null
fi
# v2bsp-testmaps is one of the tests' programs.
cmake -S . -B "$linux" -DV2BSP_BUILD_TESTS=ON >/dev/null
cmake --build "$linux" --target v2bsp-extract v2bsp-mkmap v2bsp-testmaps --parallel "${V2BSP_JOBS:-$(nproc)}" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
maps=$work/maps
mkdir -p "$maps"
"$linux/tools/mapbuilder/v2bsp-mkmap" sample "$maps/sample.map" >/dev/null
"$linux/tools/mapbuilder/v2bsp-mkmap" large "$maps/large.map" --meshes 200 >/dev/null
"$linux/tools/mapbuilder/v2bsp-mkmap" edge "$maps/edge.map" >/dev/null
"$linux/tests/faults/v2bsp-testmaps" "$work/seeds" >/dev/null
cp "$work/seeds/extract/"* "$maps/"
"$linux/tests/faults/v2bsp-testmaps" --worst 2 "$maps" >/dev/null

compared=0
failed=0
for map in "$maps"/*; do
  name=$(basename "$map")
  rm -rf "$work/linux" "$work/other"
  set +e
  "$linux/src/cli/v2bsp-extract" -q -j 2 --format meshes,obj,glb -o "$work/linux" "$map" >/dev/null 2>&1
  linux_status=$?
  extract_other "$map" "$work/other" >/dev/null 2>&1
  other_status=$?
  set -e
  if [ "$linux_status" != "$other_status" ]; then
    echo "$name: exit status $linux_status on Linux, $other_status on $other" >&2
    failed=$((failed + 1))
  elif [ -d "$work/linux" ] || [ -d "$work/other" ]; then
    if ! diff -r "$work/linux" "$work/other" >&2; then
      echo "$name: the files differ" >&2
      failed=$((failed + 1))
    fi
  fi
  compared=$((compared + 1))
done
echo "compare-builds $other: $compared maps, $failed differing"
[ "$failed" -eq 0 ]
