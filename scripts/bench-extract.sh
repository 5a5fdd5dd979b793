#!/usr/bin/env bash
usage() {
  cat <<'EOF'
usage: bash scripts/bench-extract.sh [--runs N] [--tool-runs N] [--map MESHES:VERTICES:TRIANGLES]...
                                     [--no-compare] [--tmp DIR] [--help]
       bash scripts/bench-extract.sh MESHES VERTICES TRIANGLES [RUNS]

End-to-end benchmark of v2bsp-extract on maps made by the map builder, with the
maps and every output in a tmpfs folder. For each map and each of
--format meshes, obj, glb and meshes,obj,glb: the median wall time over the
runs, vertices a second at the median, the peak memory of the command and
that peak less the map's size against the bound of map + 64 MiB; and cp of a
file of the glb's length between the same folders, which the glb's time is set
against. Then, on the
same level, the whole-level OBJ made into glb by assimp (assimp export IN.obj
OUT.glb -fglb2, Debian's assimp-utils) and by obj2gltf (npm, installed into
BUILD/npm), their median times set against --format glb on the map.

  --runs N         runs of each v2bsp-extract format (default 5)
  --tool-runs N    runs of each other converter (default: as --runs)
  --map M:V:T      a builder map of M meshes, V vertices, T triangles; may be
                   given more than once (default 200:4000000:4000000 and
                   2000:4000000:4000000)
  --no-compare     leave out assimp and obj2gltf
  --tmp DIR        the tmpfs folder to work in (default /dev/shm)

The build folder is $V2BSP_BUILD_DIR (default build). As root, missing
assimp-utils is installed with apt-get and obj2gltf with npm.
EOF
}
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
tool_runs=
maps=()
compare=1
tmp_root=/dev/shm
positional=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    --runs) runs=$2; shift 2 ;;
    --tool-runs) tool_runs=$2; shift 2 ;;
    --map) maps+=("$2"); shift 2 ;;
    --no-compare) compare=0; shift ;;
    --tmp) tmp_root=$2; shift 2 ;;
    -*) usage >&2; exit 2 ;;
    *) positional+=("$1"); shift ;;
  esac
done
if [ ${#positional[@]} -gt 0 ]; then
  if [ ${#positional[@]} -lt 3 ] || [ ${#positional[@]} -gt 4 ]; then usage >&2; exit 2; fi
  maps+=("${positional[0]}:${positional[1]}:${positional[2]}")
  [ ${#positional[@]} -eq 4 ] && runs=${positional[3]}
fi
[ ${#maps[@]} -gt 0 ] || maps=(200:4000000:4000000 2000:4000000:4000000)
tool_runs=${tool_runs:-$runs}

if [ "$(stat -f -c %T "$tmp_root")" != tmpfs ]; then
  echo "$tmp_root is not a tmpfs; give one with --tmp (e.g. mount -t tmpfs -o size=4G tmpfs DIR)" >&2
  exit 2
fi

bash scripts/setup.sh
build=${V2BSP_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DV2BSP_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target v2bsp-extract v2bsp-mkmap v2bsp-bench-extract >/dev/null
extract=$build/src/cli/v2bsp-extract
mkmap=$build/tools/mapbuilder/v2bsp-mkmap
timer=$build/tools/bench/extract/v2bsp-bench-extract

obj2gltf=$build/npm/node_modules/.bin/obj2gltf
if [ "$compare" = 1 ]; then
  if ! command -v assimp >/dev/null; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "assimp is missing: run apt-get install assimp-utils as root, or give --no-compare" >&2
      exit 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends assimp-utils >/dev/null
  fi
  if [ ! -x "$obj2gltf" ]; then
    npm install --prefix "$build/npm" --no-audit --no-fund obj2gltf@3.2.0 >/dev/null
  fi
fi

work=$(mktemp -d "$tmp_root/v2bsp-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
tsv=$work/figures.tsv

# Fails unless FILE is binary glTF of container version 2.
check_glb2() {
  local header
  header=$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')
  if [ "$header" != 676c544602000000 ]; then
    echo "$1 is not binary glTF 2 (header $header)" >&2
    exit 1
  fi
}

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); work folder $work ($(stat -f -c %T "$work"))"
for shape in "${maps[@]}"; do
  IFS=: read -r meshes vertices triangles <<<"$shape"
  name=m$meshes
  map=$work/$name.map
  "$mkmap" large "$map" --meshes "$meshes" --vertices "$vertices" --triangles "$triangles"
  out=$work/out
  for format in meshes obj glb meshes,obj,glb; do
    "$timer" --runs "$runs" --label "$name --format $format" --vertices "$vertices" --map "$map" \
      --clean "$out" --tsv "$tsv" -- "$extract" -q --format "$format" -o "$out" "$map"
  done
  # cp of as many bytes as the glb holds, between the same places in the
  # same minute: the map's folder to the output folder.
  "$extract" -q --format glb -o "$work/glb" "$map"
  mv "$work"/glb/*.glb "$work/level.glb"
  "$timer" --runs "$runs" --label "$name cp glb" --vertices "$vertices" \
    --clean "$out" --tsv "$tsv" -- cp "$work/level.glb" "$out/level.glb"
  rm -rf "$work/glb" "$work/level.glb"
  [ "$compare" = 1 ] || continue

  # The whole-level OBJ and glb of this map, once, for the converters and checks.
  level=$work/level
  rm -rf "$level"
  "$extract" -q --format obj,glb -o "$level" "$map"
  obj=$(find "$level" -maxdepth 1 -name '*.obj' -print -quit)
  check_glb2 "$(find "$level" -maxdepth 1 -name '*.glb' -print -quit)"
  "$timer" --runs "$tool_runs" --label "$name assimp obj->glb" --vertices "$vertices" \
    --clean "$out" --tsv "$tsv" -- assimp export "$obj" "$out/level.glb" -fglb2
  assimp export "$obj" "$work/assimp.glb" -fglb2 >/dev/null
  check_glb2 "$work/assimp.glb"
  "$timer" --runs "$tool_runs" --label "$name obj2gltf obj->glb" --vertices "$vertices" \
    --clean "$out" --tsv "$tsv" -- "$obj2gltf" -i "$obj" -o "$out/level.glb"
  "$obj2gltf" -i "$obj" -o "$work/obj2gltf.glb" >/dev/null
  check_glb2 "$work/obj2gltf.glb"
  rm -rf "$level" "$work/assimp.glb" "$work/obj2gltf.glb"
  rm -f "$map"
done

echo
echo "| run | median s | min-max s | cpu s (median) | M vertices/s | peak MiB | peak - map MiB (bound 64) | this / --format glb |"
echo "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
awk -F'\t' '
  { split($1, words, " "); map = words[1] }
  $1 ~ / --format glb$/ { glb[map] = $3; glbrate[map] = $6 }
  $1 ~ / cp glb$/ { cp[map] = $3 }
  $1 ~ / --format meshes$/ { meshes[map] = $3; meshescpu[map] = $9; meshesrate[map] = $6 }
  $1 ~ / --format obj$/ { obj[map] = $3; objcpu[map] = $9 }
  { rows[NR] = $0 }
  END {
    for (i = 1; i <= NR; ++i) {
      split(rows[i], f, "\t"); split(f[1], words, " "); map = words[1]
      over = f[8] > 0 ? sprintf("%.1f %s", f[7] - f[8], (f[7] - f[8] <= 64 ? "within" : "OVER")) : "-"
      ratio = f[8] > 0 || f[1] ~ / cp glb$/ ? "-" : sprintf("%.1f x", f[3] / glb[map])
      printf "| %s | %.3f | %.3f-%.3f | %.3f | %.2f | %.1f | %s | %s |\n", f[1], f[3], f[4], f[5], f[9], f[6], f[7], over, ratio
    }
    print ""
    for (map in glb) {
      printf "%s: --format glb %.2f M vertices/s (target 50: %s), %.1f times cp of its bytes (%.3f s; target 2: %s)\n",
        map, glbrate[map], (glbrate[map] >= 50 ? "met" : "MISSED"), glb[map] / cp[map], cp[map],
        (glb[map] <= 2 * cp[map] ? "met" : "MISSED")
      printf "%s: --format meshes %.2f M vertices/s (target 12: %s); --format obj %.3f s, %.2f times meshes %.3f s (target 1.2: %s), cpu %.3f s against %.3f s\n",
        map, meshesrate[map], (meshesrate[map] >= 12 ? "met" : "MISSED"), obj[map], obj[map] / meshes[map], meshes[map],
        (obj[map] <= 1.2 * meshes[map] ? "met" : "MISSED"), objcpu[map], meshescpu[map]
    }
  }' "$tsv" >"$work/table"
cat "$work/table"
