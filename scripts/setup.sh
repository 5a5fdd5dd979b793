#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and those named as
# arguments, when any is missing. The argument "windows" stands for what the
# Windows build and its tests under wine need (scripts/build-windows.sh), and
# "web" for the WebAssembly build, the page and its tests in a browser.
# As root it installs them; otherwise it prints the apt-get line to run.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libbenchmark-dev libcli11-dev libtinyobjloader-dev
  nlohmann-json3-dev libtinygltf-dev zlib1g-dev
  qt6-base-dev libqt6opengl6-dev libgl-dev libgl1-mesa-dri xvfb xauth fonts-dejavu-core
  clang clang-tidy libclang-rt-dev llvm valgrind
  locales
)
windows=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine wine64 zip nsis)
web=(emscripten nodejs chromium zip)
for argument in "$@"; do
  if [ "$argument" = windows ]; then
    packages+=("${windows[@]}")
  elif [ "$argument" = web ]; then
    packages+=("${web[@]}")
  else
    packages+=("$argument")
  fi
done

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
