#!/usr/bin/env bash
# Installs what is missing, builds and makes the bundled sample map. On a
# desktop it opens the window with the sample map chosen (press Extract);
# without a display it extracts the sample with the command line instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
build=${V2BSP_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DV2BSP_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" >/dev/null

sample="$build/sample/sample.map"
window="$build/src/ui/v2bsp"
if { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } && [ -x "$window" ]; then
  echo "Opening the window with the sample map $sample chosen: press Extract."
  echo "The mesh files go beside the program, to $(cd "$(dirname "$window")" && pwd)/sample room/."
  exec "$window" "$sample"
fi

out="$PWD/extracted"
echo "Extracting the sample map $sample into $out:"
"$build/src/cli/v2bsp-extract" -o "$out" "$sample"
echo
echo "The mesh files are in $out/sample room/:"
ls -l "$out/sample room"
echo
if [ -x "$window" ]; then
  echo "No display here, so the window was not opened. On a desktop, open it with:"
  echo "  $window $sample"
fi
