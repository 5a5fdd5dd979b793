#!/usr/bin/env bash
# The window measured from outside, as a user meets it: a fresh window process
# with the large level (200 meshes, 4 million vertices, 4 million triangles)
# on its command line, Extract clicked through the X server, the time to the
# 3D View's first picture on the server and the longest the main window took
# to answer a ping, against the command line's time for the same map
# (tools/bench/window/bench_outside.cpp). On a virtual X server of its own at
# 1600 x 1000 and 96 dpi, with openbox, on Mesa's software renderer.
#
#   bash scripts/bench-window.sh [RUNS]            the Linux window (build/)
#   bash scripts/bench-window.sh --windows [RUNS]  v2bsp.exe under wine (build-windows/)
#
# Exits 1 when the first picture takes more than 1.5 times the command line.
set -euo pipefail
cd "$(dirname "$0")/.."

windows=false
if [ "${1:-}" = --windows ]; then
  windows=true
  shift
fi
runs=${1:-9}
bash scripts/setup.sh libxtst-dev openbox
build=${V2BSP_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DV2BSP_BUILD_BENCHMARKS=ON -DV2BSP_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" --target v2bsp_bench_outside v2bsp v2bsp-extract v2bsp-mkmap >/dev/null
map=$(mktemp -d)/large.map
trap 'rm -rf "$(dirname "$map")"' EXIT
"$build/tools/mapbuilder/v2bsp-mkmap" large "$map" --meshes 200 --vertices 4000000 --triangles 4000000 >/dev/null
name="large test"

if $windows; then
  wbuild=${V2BSP_WINDOWS_BUILD_DIR:-build-windows}
  V2BSP_WINDOWS_BUILD_DIR=$wbuild V2BSP_WINDOWS_TESTS=OFF bash scripts/build-windows.sh >/dev/null
  export WINEPREFIX="$PWD/$wbuild/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
  cli="wine $PWD/$wbuild/src/cli/v2bsp-extract.exe"
  window=(wine "$PWD/$wbuild/src/win32/v2bsp.exe")
  output="$PWD/$wbuild/src/win32/$name"
else
  cli="$PWD/$build/src/cli/v2bsp-extract"
  window=(env QT_QPA_PLATFORM=xcb "$PWD/$build/src/ui/v2bsp")
  output="$PWD/$build/src/ui/$name"
fi

inner=$(mktemp)
cat >"$inner" <<'INNER'
openbox >/dev/null 2>&1 &
wm=$!
export LIBGL_ALWAYS_SOFTWARE=1
# The first wine program on a display starts wine's own desktop process.
case "$1" in wine*) wine cmd.exe /c exit 0 >/dev/null 2>&1 || true ;; esac
shift
"$@"
status=$?
kill $wm 2>/dev/null
exit $status
INNER
status=0
xvfb-run -a -s "-screen 0 1600x1000x24 -dpi 96 -nolisten tcp" bash "$inner" "${window[0]}" \
  "$build/tools/bench/window/v2bsp_bench_outside" --cli "$cli" --map "$map" --clean "$output" --runs "$runs" \
  -- "${window[@]}" || status=$?
rm -f "$inner"
if $windows; then wineserver -k 2>/dev/null || true; fi
exit $status
