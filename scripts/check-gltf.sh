#!/usr/bin/env bash
# The whole-level glb of builder maps of every shape, run through the glTF
# validator: the sample room (Y up and Z up), a large map, a mesh whose
# triangles use the index 65535, the edge meshes (faces naming missing
# vertices, degenerate faces, meshes without vertices or faces; both axes),
# meshes that are all empty, no mesh at all, a map name of control characters
# and bytes 80-9F, and every corruption the builder knows. A corruption whose
# map is no map must make no file at all; every other one must make exactly
# its glb. Fails on any validator error or warning (scripts/validate-gltf.sh).
#   scripts/check-gltf.sh        builds in ${V2BSP_BUILD_DIR:-build} when needed
set -euo pipefail
cd "$(dirname "$0")/.."

build=${V2BSP_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DV2BSP_BUILD_TOOLS=ON >/dev/null
else
  cmake -S . -B "$build" -DV2BSP_BUILD_TOOLS=ON >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)" --target v2bsp-mkmap v2bsp-extract >/dev/null
mkmap=$build/tools/mapbuilder/v2bsp-mkmap
extract=$build/src/cli/v2bsp-extract

work=$build/check-gltf
rm -rf "$work"
mkdir -p "$work/maps"
failures=0
fail() {
  echo "check-gltf: $*" >&2
  failures=$((failures + 1))
}

# The files under a run's output folder, one a line.
files_in() { find "$1" -type f | sort; }

# extracts NAME MAP [EXTRACT OPTION...]: the glb of MAP into $work/NAME, which
# must then hold that one file and nothing else.
extracts() {
  local name=$1 map=$2
  shift 2
  local out=$work/out/$name
  mkdir -p "$out"
  local status=0
  "$extract" -q -o "$out" --format glb "$@" -- "$map" 2>"$work/$name.err" || status=$?
  if grep -q 'This is not a valid Vorun 2 map file' "$work/$name.err"; then
    fail "$name: $(cat "$work/$name.err")"
  elif [ "$status" -gt 1 ]; then
    fail "$name: v2bsp-extract exited with $status: $(cat "$work/$name.err")"
  fi
  local made
  made=$(files_in "$out")
  if [ "$(printf '%s' "$made" | grep -c '')" -ne 1 ] || [ "${made##*.}" != glb ]; then
    fail "$name: expected one glb, found: ${made:-nothing}"
  fi
}

# makes MAP MKMAP-ARGUMENT...: a builder map at $work/maps/MAP.
makes() {
  local map=$work/maps/$1
  shift
  "$mkmap" "$1" "$map" "${@:2}" >/dev/null
}

start=$SECONDS
makes large.map large --meshes 50 --vertices 200000 --triangles 200000
makes wide.map large --meshes 1 --vertices 65536 --triangles 130050
makes edge.map edge
makes empty.map large --meshes 3 --vertices 0 --triangles 0
makes none.map large --meshes 0 --vertices 0 --triangles 0
makes named.map sample --name $'\x01tab\t\x1f\x7f \x80\x81\x8d\x8f\x90\x9d\x9f "q" \\ \xe9'

cmake --build "$build" --target v2bsp_sample_map >/dev/null
extracts sample "$build/sample/sample.map"
extracts sample-z "$build/sample/sample.map" --up-axis z
extracts large "$work/maps/large.map"
extracts wide "$work/maps/wide.map"
extracts edge "$work/maps/edge.map"
extracts edge-z "$work/maps/edge.map" --up-axis z
extracts named "$work/maps/named.map"
extracts empty "$work/maps/empty.map"
extracts none "$work/maps/none.map"

# The shapes must be the ones the checks are for: 32-bit indices where an
# index is 65535.
for name in wide edge; do
  if ! head -c 4096 "$(files_in "$work/out/$name")" | grep -aq '"componentType":5125'; then
    fail "$name: no accessor of 32-bit indices"
  fi
done

# Every corruption: the builder's own description says whether the map is no map.
refused=0
while IFS=$'\t' read -r corruption expected; do
  "$mkmap" corrupt "$corruption" "$work/maps/corrupt-$corruption.map" >/dev/null
  if [[ $expected == *not-a-map* || $expected == *"not a valid"* ]]; then
    out=$work/out/corrupt-$corruption
    mkdir -p "$out"
    status=0
    "$extract" -q -o "$out" --format glb -- "$work/maps/corrupt-$corruption.map" 2>"$work/corrupt-$corruption.err" || status=$?
    if [ "$status" -ne 1 ] || ! grep -q 'This is not a valid Vorun 2 map file' "$work/corrupt-$corruption.err"; then
      fail "corrupt-$corruption: expected the not-a-map message and status 1, got $status: $(cat "$work/corrupt-$corruption.err")"
    fi
    if [ -n "$(find "$out" -mindepth 1)" ]; then
      fail "corrupt-$corruption: no map, yet made: $(find "$out" -mindepth 1)"
    fi
    rmdir "$out" 2>/dev/null || true
    refused=$((refused + 1))
  else
    extracts "corrupt-$corruption" "$work/maps/corrupt-$corruption.map"
  fi
done < <("$mkmap" list)
if [ "$refused" -eq 0 ]; then
  fail "no corruption was expected to be refused: has the builder's list changed its words?"
fi

# The glb lies directly in its output folder; the validator takes them all at once.
folders=()
for out in "$work"/out/*; do
  if [ -n "$(find "$out" -maxdepth 1 -name '*.glb')" ]; then folders+=("$out"); fi
done
if ! bash scripts/validate-gltf.sh "${folders[@]}" >"$work/validator.txt"; then
  grep -v ': 0 errors, 0 warnings' "$work/validator.txt" | grep -v '^  info\|^  hint' >&2 || true
  fail "the validator found errors or warnings (all of its report: $work/validator.txt)"
fi

echo "check-gltf: ${#folders[@]} glb files validated, $refused maps refused as no map, $((SECONDS - start)) s"
if [ "$failures" -ne 0 ]; then
  echo "check-gltf: $failures failures" >&2
  exit 1
fi
