#!/usr/bin/env bash
# Checks the Windows installer under wine: that the installer carries the
# programs' icon; a silent install into a fresh wine prefix inside
# build-windows/, which must start no program of ours (wine's trace of the
# processes it starts); then the installed files (the staged ones, byte for
# byte), the uninstaller's icon, the Start-menu link, the uninstall entry, the .map registration and
# `v2bsp-extract.exe --version` from the installed folder; then the uninstall
# entry's QuietUninstallString, which returns at once and removes everything in
# the background, polled for its end; then that nothing of it is left. Once for
# each way .map can stand before the install: claimed by no program, by another
# program for the machine, by another program for this user. The other
# program's entries must come through untouched. Once more with the installed
# v2bsp-extract.exe running during the uninstall, which cannot delete a running
# program's file: that file and the folder must be gone after a restart.
#
#   bash scripts/check-installer.sh [SETUP.exe STAGE [ICON.ico]]
#
# By default the installer, folder and icon that scripts/package-windows.sh
# makes and uses;
# the map of the running program comes from the cross build's v2bsp-mkmap.exe.
# The Start-menu link and the .map registration are expected exactly when STAGE
# holds the window, v2bsp.exe.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${V2BSP_WINDOWS_BUILD_DIR:-build-windows}
# How long, in seconds, a wait for wine (the installed program's start, the
# uninstaller in the background) lasts before it counts as hung. Each wait
# ends as soon as what it waits for has happened, so only a hang reaches this,
# never a machine busy with other work.
patience=600
version=$(sed -n 's/^set(V2BSP_VERSION_TEXT "\(.*\)")$/\1/p' CMakeLists.txt)
setup=$(realpath "${1:-$build/v2bsp-$version-setup.exe}")
stage=$(realpath "${2:-$build/zip/v2bsp-$version-windows-x64}")
icon=$(realpath "${3:-$build/src/win32/v2bsp.ico}")

export WINEPREFIX="$PWD/$build/wineprefix-installer" WINEDEBUG=-all
# Wine's menu builder would copy the link and the association to this desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

folder="$WINEPREFIX/drive_c/Program Files/v2bsp"
link="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/v2bsp.lnk"
windows_folder='C:\Program Files\v2bsp'
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\v2bsp'
machine='HKLM\Software\Classes'
user='HKCU\Software\Classes'
progid=v2bsp.Map.1
window=no
main=v2bsp-extract.exe
if [ -f "$stage/v2bsp.exe" ]; then
  window=yes
  main=v2bsp.exe
fi
open_command="REG_SZ \"$windows_folder\\v2bsp.exe\" \"%1\""

passed=0
failed=0
check() {  # WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL [%s] %s\n  expected: %s\n  actual:   %s\n' "$scenario" "$1" "$2" "$3"
  fi
}

# How many of the images of ICON.ico FILE.exe holds byte for byte, as "FOUND
# of COUNT". The images of a program's icon are its icon resources as the .ico
# holds them; the installer's payload is compressed, so a copy can be nowhere
# else. Compared as text of hex bytes, each with a space before it, so that
# only whole bytes match.
icon_images_held() {  # FILE.exe ICON.ico
  local count index size offset found=0 work
  work=$(mktemp -d)
  od -An -v -tx1 "$1" | tr -d '\n' >"$work/file"
  # The header's image count, then 16 bytes for each image: its size at 8, its offset at 12.
  count=$(od -An -tu2 --endian=little -j 4 -N 2 "$2" | tr -d ' ')
  for ((index = 0; index < count; index++)); do
    size=$(od -An -tu4 --endian=little -j $((6 + 16 * index + 8)) -N 4 "$2" | tr -d ' ')
    offset=$(od -An -tu4 --endian=little -j $((6 + 16 * index + 12)) -N 4 "$2" | tr -d ' ')
    od -An -v -tx1 -j "$offset" -N "$size" "$2" | tr -d '\n' >"$work/image"
    if grep -qF -f "$work/image" "$work/file"; then
      found=$((found + 1))
    fi
  done
  rm -rf "$work"
  echo "$found of $count"
}

# "TYPE data" of value NAME of KEY (NAME "@": the default value), "none" where
# the value is not there; NAME "": "key" or "none" for the key itself.
registry() {  # KEY NAME
  local out
  if [ -z "$2" ]; then
    wine reg query "$1" >/dev/null 2>&1 && echo key || echo none
    return
  fi
  if [ "$2" = @ ]; then
    out=$(wine reg query "$1" /ve 2>/dev/null) || { echo none; return; }
  else
    out=$(wine reg query "$1" /v "$2" 2>/dev/null) || { echo none; return; }
  fi
  printf '%s\n' "$out" | tr -d '\r' | awk -F '    ' 'NF >= 3 && $1 == "" {
      if ($4 == "(value not set)") print "none"; else if ($4 == "") print $3; else print $3 " " $4; exit }'
}

# Rows "KEY|NAME|EXPECTED", NAME and EXPECTED as registry() takes and prints them.
check_registry() {
  local key name expected
  while IFS='|' read -r key name expected; do
    [ -n "$key" ] || continue
    check "$key [${name:-key}]" "$expected" "$(registry "$key" "$name")"
  done
}

# A running v2bsp-extract.exe from the installed folder: it extracts a map of
# many meshes with its log going into a pipe nobody reads, so it stops at a
# full pipe until the wine server ends it. Only the glb, written last: no mesh
# files to keep the wine server busy meanwhile.
run_installed_program() {
  local work
  work=$(mktemp -d)
  wine "$build/tools/mapbuilder/v2bsp-mkmap.exe" large "$(winepath -w "$work/busy.map")" \
    --meshes 6000 --vertices 18000 --triangles 6000 >/dev/null
  mkfifo "$work/log"
  exec 3<>"$work/log"
  wine "$windows_folder\\v2bsp-extract.exe" --format glb -o "$(winepath -w "$work")" \
    "$(winepath -w "$work/busy.map")" >"$work/log" 2>&1 &
  held=$work
  # It runs, and holds its file, once its log begins: a line of it is taken.
  if ! read -r -t $patience -u 3 _; then
    check "installed v2bsp-extract.exe writes its log" started "no line within $patience s"
  fi
}

# The other program that claims .map before the install, as the scenario has it.
claim() {
  case $scenario in
    machine-claimed)
      wine reg add "$machine\\.map" /ve /d Other.Map /f >/dev/null
      wine reg add "$machine\\.map\\OpenWithProgids" /v Other.Map /t REG_SZ /d "" /f >/dev/null ;;
    user-claimed)
      wine reg add "$user\\.map" /ve /d Other.Map /f >/dev/null ;;
  esac
}

# .map's rows after the install (AFTER=installed) or the uninstall (removed).
map_rows() {  # AFTER
  local ours=none
  if [ "$1" = installed ] && [ $window = yes ]; then
    ours=REG_NONE
  fi
  case $scenario in
    unclaimed|in-use)
      if [ "$ours" = none ]; then
        echo "$machine\\.map||none"
      else
        echo "$machine\\.map|@|REG_SZ $progid"
        echo "$machine\\.map\\OpenWithProgids|$progid|$ours"
      fi ;;
    machine-claimed)
      echo "$machine\\.map|@|REG_SZ Other.Map"
      echo "$machine\\.map\\OpenWithProgids|Other.Map|REG_SZ"
      echo "$machine\\.map\\OpenWithProgids|$progid|$ours" ;;
    user-claimed)
      echo "$user\\.map|@|REG_SZ Other.Map"
      if [ "$ours" = none ]; then
        echo "$machine\\.map||none"
      else
        echo "$machine\\.map|@|none"
        echo "$machine\\.map\\OpenWithProgids|$progid|$ours"
      fi ;;
  esac
}

installed_rows() {
  cat <<EOF
$uninstall|DisplayName|REG_SZ v2bsp
$uninstall|DisplayVersion|REG_SZ $version
$uninstall|Publisher|REG_SZ v2bsp developers
$uninstall|InstallLocation|REG_SZ $windows_folder
$uninstall|DisplayIcon|REG_SZ $windows_folder\\$main
$uninstall|UninstallString|REG_SZ "$windows_folder\\uninstall.exe"
$uninstall|QuietUninstallString|REG_SZ "$windows_folder\\uninstall.exe" /S
$uninstall|NoModify|REG_DWORD 0x1
$uninstall|NoRepair|REG_DWORD 0x1
EOF
  if [ $window = yes ]; then
    cat <<EOF
$machine\\Applications\\v2bsp.exe|FriendlyAppName|REG_SZ v2bsp
$machine\\Applications\\v2bsp.exe\\SupportedTypes|.map|REG_SZ
$machine\\Applications\\v2bsp.exe\\shell\\open\\command|@|$open_command
$machine\\$progid|@|REG_SZ Vorun 2 Map File
$machine\\$progid\\DefaultIcon|@|REG_SZ $windows_folder\\v2bsp.exe,0
$machine\\$progid\\shell\\open\\command|@|$open_command
EOF
  else
    echo "$machine\\Applications\\v2bsp.exe||none"
    echo "$machine\\$progid||none"
  fi
  map_rows installed
}

removed_rows() {
  cat <<EOF
$uninstall||none
$machine\\Applications\\v2bsp.exe||none
$machine\\$progid||none
EOF
  map_rows removed
}

check_installed() {
  local expected actual file bytes=0 count=0
  expected=$( (cd "$stage" && ls ./*.exe LICENSE.txt; echo ./uninstall.exe) | sed 's|^\./||' | sort | tr '\n' ' ')
  actual=$(ls "$folder" | sort | tr '\n' ' ')
  check "files in Program Files\\v2bsp" "$expected" "$actual"
  for file in "$stage"/*.exe "$stage/LICENSE.txt"; do
    cmp -s "$file" "$folder/$(basename "$file")" && actual=same || actual=different
    check "installed $(basename "$file")" same "$actual"
  done
  for file in "$folder"/*; do
    bytes=$((bytes + $(stat -c %s "$file")))
    count=$((count + 1))
  done
  # In KiB; rounding each file or the sum may differ by one for each file.
  actual=$(( $(registry "$uninstall" EstimatedSize | sed 's/^REG_DWORD //') ))
  actual=$(( actual >= bytes / 1024 - count && actual <= bytes / 1024 + 1 ))
  check "uninstall.exe holds the programs' icon" "$icon_count of $icon_count" "$(icon_images_held "$folder/uninstall.exe" "$icon")"
  check "EstimatedSize near $((bytes / 1024)) KiB" 1 "$actual"
  if [ $window = yes ]; then
    # The link's target as its LinkInfo holds it.
    actual=$(strings -a "$link" 2>/dev/null | grep -xF "$windows_folder\\v2bsp.exe" || echo "no link to it")
    check "Start-menu link v2bsp" "$windows_folder\\v2bsp.exe" "$actual"
  else
    check "no Start-menu link without the window" absent "$([ -e "$link" ] && echo present || echo absent)"
  fi
  actual=$(wine "$windows_folder\\v2bsp-extract.exe" --version 2>&1 | tr -d '\r') || true
  check "installed v2bsp-extract.exe --version" "v2bsp-extract $version" "$actual"
  check_registry < <(installed_rows)
}

# Runs the command line the uninstall entry gives and waits for the
# uninstaller it leaves running in the background: it deletes the uninstall
# entry last.
uninstall_quietly() {
  local quiet started=$SECONDS
  quiet=$(registry "$uninstall" QuietUninstallString | sed 's/^REG_SZ //')
  if [[ ! $quiet =~ ^\"([^\"]+)\"\ (.*)$ ]]; then
    check "QuietUninstallString is a quoted program and its options" '"PROGRAM" OPTIONS' "$quiet"
    return
  fi
  wine "${BASH_REMATCH[1]}" ${BASH_REMATCH[2]}
  while [ "$(registry "$uninstall" "")" = key ]; do
    if [ $((SECONDS - started)) -ge $patience ]; then
      check "silent uninstall ends within $patience s" ended "still running"
      return
    fi
    sleep 0.5
  done
  echo "  [$scenario] silent uninstall ended after $((SECONDS - started)) s"
}

check_removed() {
  if [ "$scenario" = in-use ]; then
    check "what is left while v2bsp-extract.exe runs" v2bsp-extract.exe "$(ls "$folder" 2>/dev/null | tr '\n' ' ' | sed 's/ $//')"
    wineserver -k
    exec 3>&-
    rm -rf "$held"
    wineserver -p
    wineboot -r >/dev/null 2>&1
  fi
  check "Program Files\\v2bsp removed" absent "$([ -e "$folder" ] && echo present || echo absent)"
  check "Start-menu link removed" absent "$([ -e "$link" ] && echo present || echo absent)"
  check_registry < <(removed_rows)
}

# The programs the silent install started, as wine traces each start (its
# program, else its command line). Where it makes the Start-menu link, the
# shell starts wine's menu builder for it: that the trace shows it tells that
# tracing works, so that finding no v2bsp.exe means something.
check_started() {  # TRACE
  local ours
  ours=$(grep -cE 'CreateProcessInternalW app .*\\v2bsp\.exe' "$1" || true)
  check "silent install starts v2bsp.exe" "0 times" "$ours times"
  if [ $window = yes ]; then
    check "trace of the silent install's process starts" "shows winemenubuilder.exe" \
      "$(grep -qE 'CreateProcessInternalW app .*winemenubuilder\.exe' "$1" && echo shows || echo "does not show") winemenubuilder.exe"
  fi
}

echo "Installer $setup (window: $window)"
scenario=setup.exe
icon_count=$(od -An -tu2 --endian=little -j 4 -N 2 "$icon" | tr -d ' ')
check "installer holds the programs' icon" "$icon_count of $icon_count" "$(icon_images_held "$setup" "$icon")"
trace=$(mktemp)
for scenario in unclaimed machine-claimed user-claimed in-use; do
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineserver -p
  wineboot -i >/dev/null 2>&1
  claim
  status=0
  WINEDEBUG=+process wine "$setup" /S 2>"$trace" || status=$?
  check "silent install exits 0" 0 "$status"
  check_started "$trace"
  check_installed
  if [ "$scenario" = in-use ]; then
    run_installed_program
  fi
  uninstall_quietly
  check_removed
done
rm -f "$trace"
echo "installer: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
