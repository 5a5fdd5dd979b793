#!/usr/bin/env bash
# Builds the Debian package: a Release build of the programs alone (no tests,
# no benchmarks) in build-package/, with Debian's hardening flags, installed
# under /usr and packed by CPack's DEB generator (cmake/Packaging.cmake).
# Prints the package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."

# dpkg-dev: dpkg-shlibdeps and dpkg-buildflags; file: CPack finds the programs with it.
bash scripts/setup.sh dpkg-dev file >&2
build=build-package

# The flags a Debian build uses, with every hardening feature
# (-fstack-protector-strong, -D_FORTIFY_SOURCE=2, -z relro, -z now, ...), less
# -g: the programs are stripped.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cxxflags=$(printf '%s\n' "$cxxflags" | sed -e 's/\(^\| \)-g\( \|$\)/ /g')
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release \
  -DV2BSP_BUILD_TESTS=OFF -DV2BSP_BUILD_TOOLS=OFF -DV2BSP_BUILD_BENCHMARKS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr \
  "-DCMAKE_CXX_FLAGS=$cxxflags" \
  "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" >&2
cmake --build "$build" --target v2bsp_product --parallel "$(nproc)" >&2

rm -f "$build"/v2bsp_*.deb
(cd "$build" && cpack -G DEB) >&2
package=$(ls "$build"/v2bsp_*.deb)
realpath "$package"
