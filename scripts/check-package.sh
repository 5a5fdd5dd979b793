#!/usr/bin/env bash
# Checks the Debian package: lintian (no errors), the desktop entry, the
# AppStream metainfo and the manual pages as packed; then installs it on this
# machine with apt-get, runs the installed programs and the bash completion,
# removes and purges it and checks that none of its files are left.
#
#   bash scripts/check-package.sh [PACKAGE.deb]
#
# Without PACKAGE.deb it runs scripts/package.sh (quick when the build is up to
# date) and checks what that makes. Needs root for apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh lintian desktop-file-utils appstream groff man-db dpkg-dev file

if [ $# -ge 1 ]; then
  deb=$(realpath "$1")
else
  deb=$(bash scripts/package.sh | tail -n 1)
fi
[ -f "$deb" ] || { echo "check-package: no package at $deb" >&2; exit 1; }
echo "Checking $deb"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
# passed MESSAGE: "ok: MESSAGE" when nothing failed since the last mark.
mark=0
passed() {
  [ "$failures" -ne "$mark" ] || pass "$@"
  mark=$failures
}

work=$(mktemp -d)
installed_here=0
cleanup() {
  if [ "$installed_here" -eq 1 ] && dpkg-query -W -f='${Status}' v2bsp 2>/dev/null | grep -q 'ok installed'; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq v2bsp >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

version=$(dpkg-deb -f "$deb" Version)
package=$(dpkg-deb -f "$deb" Package)
[ "$package" = v2bsp ] || fail "the package is named '$package', not v2bsp"

# --- lintian: errors fail; everything it says is shown.
if lintian --fail-on error --display-info "$deb" >"$work/lintian" 2>&1; then
  pass "lintian finds no error"
else
  fail "lintian finds errors"
fi
grep -v '^running with root privileges' "$work/lintian" || true

# --- The files as packed.
content=$work/content
dpkg-deb -x "$deb" "$content"
for program in v2bsp v2bsp-extract; do
  [ -x "$content/usr/bin/$program" ] || fail "no /usr/bin/$program in the package"
done

desktop=$(find "$content/usr/share/applications" -name '*.desktop')
[ "$(printf '%s\n' "$desktop" | wc -l)" -eq 1 ] || fail "not one desktop entry: $desktop"
id=$(basename "$desktop" .desktop)
if desktop-file-validate "$desktop"; then pass "desktop-file-validate $id.desktop"; else fail "desktop-file-validate $id.desktop"; fi
grep -qx "Exec=v2bsp %f" "$desktop" || fail "the desktop entry does not run 'v2bsp %f'"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not $id"
grep -qF "$id" "$content/usr/bin/v2bsp" || fail "v2bsp does not name its desktop entry $id"

mark=$failures
for size in 16 22 24 32 48 64 128 256; do
  icon=$content/usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  if [ ! -f "$icon" ]; then
    fail "no ${size}x${size} icon $id.png"
  elif ! file "$icon" | grep -q "PNG image data, $size x $size,"; then
    fail "the ${size}x${size} icon is $(file -b "$icon")"
  fi
done
svg=$content/usr/share/icons/hicolor/scalable/apps/$id.svg
file "$svg" | grep -q 'SVG' || fail "no scalable icon $id.svg"
passed "icons $id in hicolor, 16 to 256 px and scalable"

metainfo=$content/usr/share/metainfo/$id.metainfo.xml
if appstreamcli validate --no-net "$metainfo"; then pass "appstreamcli validate $id.metainfo.xml"; else fail "appstreamcli validate $id.metainfo.xml"; fi
grep -qF "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "the metainfo does not launch $id.desktop"
grep -qF "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"

changelog_version=$(zcat "$content/usr/share/doc/v2bsp/changelog.gz" | dpkg-parsechangelog -l - -S Version)
[ "$changelog_version" = "$version" ] || fail "the changelog's last version is $changelog_version, the package's $version"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$content/usr/share/doc/v2bsp/copyright" || fail "the copyright file is not in the machine-readable format"

# --- The manual pages render without a warning.
for page in "$content"/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page" .gz)
  warnings=$(zcat "$page" | groff -man -ww -z 2>&1 >/dev/null)
  warnings+=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    fail "$name renders with warnings:"
    printf '%s\n' "$warnings" >&2
  else
    pass "$name renders without warnings"
  fi
done
for page in v2bsp.1.gz v2bsp-extract.1.gz; do
  [ -f "$content/usr/share/man/man1/$page" ] || fail "no manual page $page"
done

# --- Installed on this machine.
if dpkg-query -W -f='${Status}' v2bsp 2>/dev/null | grep -q 'ok installed'; then
  echo "note: v2bsp $(dpkg-query -W -f='${Version}' v2bsp) was installed already; it is replaced, then removed"
fi
export DEBIAN_FRONTEND=noninteractive
installed_here=1
apt-get install -y -qq "$deb" >"$work/apt-install" 2>&1 || { cat "$work/apt-install" >&2; fail "apt-get install"; exit 1; }
pass "apt-get install $(basename "$deb")"

mark=$failures
out=$(/usr/bin/v2bsp-extract --version)
[ "$out" = "v2bsp-extract $version" ] || fail "/usr/bin/v2bsp-extract --version says '$out'"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/v2bsp --version)
case $out in "v2bsp $version "*) ;; *) fail "/usr/bin/v2bsp --version says '$out'" ;; esac
env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/v2bsp --help | grep -q '^Usage: v2bsp' || fail "/usr/bin/v2bsp --help"
passed "the installed programs print version $version"

[ "$(man -w v2bsp-extract)" = /usr/share/man/man1/v2bsp-extract.1.gz ] || fail "man does not find v2bsp-extract(1)"
[ "$(man -w v2bsp)" = /usr/share/man/man1/v2bsp.1.gz ] || fail "man does not find v2bsp(1)"

# An extraction of the sample map from /usr/bin gives the same files as the
# build tree's program.
sample=$root/build/sample/sample.map
if [ ! -f "$sample" ]; then
  # The package's build has no map builder: the sample comes from the plain build.
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DV2BSP_BUILD_TOOLS=ON >/dev/null
  cmake --build build --target v2bsp_sample_map >/dev/null
fi
formats=meshes,obj,glb
if (cd "$work" && /usr/bin/v2bsp-extract -q --format "$formats" -o installed "$sample" 2>"$work/stderr") &&
  [ ! -s "$work/stderr" ]; then
  "$root/build-package/src/cli/v2bsp-extract" -q --format "$formats" -o "$work/built" "$sample"
  if [ -z "$(find "$work/installed" -name 'mesh0.obj')" ]; then
    fail "the installed v2bsp-extract wrote no mesh0.obj"
  elif diff -r "$work/installed" "$work/built" >/dev/null; then
    pass "/usr/bin/v2bsp-extract extracts $(basename "$sample") ($(find "$work/installed" -type f | wc -l) files)"
  else
    fail "the installed v2bsp-extract writes other files than the built one"
  fi
else
  cat "$work/stderr" >&2
  fail "/usr/bin/v2bsp-extract on $sample"
fi

# The bash completion loads, and completes --format lists and --up-axis.
completion=/usr/share/bash-completion/completions/v2bsp-extract
mark=$failures
out=$(bash -c "source $completion && complete -p v2bsp-extract")
[ "$out" = "complete -F _v2bsp_extract v2bsp-extract" ] || fail "the completion loads as '$out'"
complete_words() {
  bash -c 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _v2bsp_extract; printf "%s\n" "${COMPREPLY[@]}"' \
    "$completion" "$@" 2>/dev/null | sort | tr '\n' ' '
}
out=$(complete_words v2bsp-extract --format meshes,)
[ "$out" = "meshes,glb meshes,obj " ] || fail "completing '--format meshes,' gives '$out'"
out=$(complete_words v2bsp-extract --up-axis "")
[ "$out" = "y z " ] || fail "completing '--up-axis ' gives '$out'"
out=$(complete_words v2bsp-extract --up)
[ "$out" = "--up-axis " ] || fail "completing '--up' gives '$out'"
out=$(complete_words v2bsp-extract --list-tags --o)
[ "$out" = " " ] || fail "completing '--list-tags --o' gives '$out'"
out=$(complete_words v2bsp-extract -o out --l)
[ "$out" = " " ] || fail "completing '-o out --l' gives '$out'"
passed "the bash completion loads and completes"

# --- Removed and purged, nothing of it is left.
mark=$failures
dpkg -L v2bsp | grep -v '^/\.$' | sort >"$work/files"
left_behind() {
  local path
  while IFS= read -r path; do
    if [ -L "$path" ] || [ -f "$path" ]; then
      echo "$path"
    elif [ -d "$path" ] && ! dpkg-query -S "$path" >/dev/null 2>&1 && [ -z "$(ls -A "$path")" ]; then
      echo "$path"  # an empty folder no other package owns
    fi
  done <"$work/files"
}
apt-get remove -y -qq v2bsp >/dev/null 2>&1 || fail "apt-get remove v2bsp"
left=$(left_behind)
[ -z "$left" ] || fail "left after apt-get remove: $left"
# It has no configuration files, so dpkg forgets it on removal; purged from
# an installed state too, the same holds.
if dpkg-query -W -f='${Status}' v2bsp 2>/dev/null | grep -qv 'not-installed'; then
  fail "dpkg still knows v2bsp after removal: $(dpkg-query -W -f='${Status}' v2bsp)"
fi
apt-get install -y -qq "$deb" >/dev/null 2>&1 || fail "apt-get install, again"
apt-get purge -y -qq v2bsp >/dev/null 2>&1 || fail "apt-get purge v2bsp"
left=$(left_behind)
[ -z "$left" ] || fail "left after apt-get purge: $left"
if dpkg-query -W -f='${Status}' v2bsp 2>/dev/null | grep -qv 'not-installed'; then
  fail "dpkg still knows v2bsp after purge: $(dpkg-query -W -f='${Status}' v2bsp)"
fi
installed_here=0
passed "apt-get remove and purge leave none of its $(wc -l <"$work/files") paths behind"

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures checks failed" >&2
  exit 1
fi
echo "check-package: all checks passed in ${SECONDS}s"
