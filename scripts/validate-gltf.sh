#!/usr/bin/env bash
# Validates glb files with the Khronos glTF validator (the npm package
# gltf-validator, a library run by scripts/validate-gltf.mjs).
#   scripts/validate-gltf.sh FILE.glb|FOLDER...
# A folder stands for the .glb files directly in it. Prints each file's
# numbers of errors, warnings, infos and hints and every message; exits 1 when
# any file has an error or a warning (or cannot be read), 2 on bad usage.
# The package goes to ${V2BSP_BUILD_DIR:-build}/npm, which git ignores.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 FILE.glb|FOLDER..." >&2
  exit 2
fi

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${V2BSP_BUILD_DIR:-build}
case $build in
  /*) ;;
  *) build=$repo/$build ;;
esac
prefix=$build/npm
# Pinned, so that a new release cannot change a verdict unnoticed.
version=2.0.0-dev.3.10

installed=$(node -p "require('$prefix/node_modules/gltf-validator/package.json').version" 2>/dev/null || true)
if [ "$installed" != "$version" ]; then
  mkdir -p "$prefix"
  npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error "gltf-validator@$version" >&2
fi

V2BSP_GLTF_VALIDATOR=$prefix/node_modules/gltf-validator exec node "$repo/scripts/validate-gltf.mjs" "$@"
