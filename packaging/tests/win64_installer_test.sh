#!/bin/sh
# Runs the Windows installer silently under Wine in a fresh 64-bit prefix, as
# an IT department would: the installed orvane-convert.exe must convert the
# example course to the transcripts of tests/golden/, the Start-menu shortcut
# and the Add/Remove Programs entry must exist, and Orvane.exe started from
# the shortcut must show its window (on an Xvfb display). While it is open,
# neither the installer nor the uninstaller may change the install. The
# silent uninstall must then remove the files, the shortcut and the registry
# keys.
#
# Usage: win64_installer_test.sh SETUP.exe
# Needs: wine, Xvfb, xdotool.
set -eu
setup=$(realpath "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
# No menu entries for the host's desktop from the shortcut (winemenubuilder).
export LANG=C.UTF-8 WINEDEBUG=-all WINEARCH=win64 WINEPREFIX="$scratch/prefix" \
  WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
pids=""
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "win64_installer_test: $*" >&2
  exit 1
}

. "$root/tests/win32/x_display.sh"
start_display

drive_c=$WINEPREFIX/drive_c
install_dir=$drive_c/Program\ Files/Orvane
shortcut=$drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Orvane.lnk
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvane'
# Everything the prefix holds before the installer runs, to compare with what
# the uninstaller leaves.
listing() { (cd "$drive_c" && find . | sort); }

wine wineboot </dev/null >/dev/null 2>&1
wineserver -w
listing >"$scratch/before"

wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the installer failed"
wineserver -w
for file in Orvane.exe orvane-convert.exe LICENSE.txt README.txt Uninstall.exe; do
  [ -f "$install_dir/$file" ] || fail "Program Files\\Orvane\\$file is missing"
done
[ -f "$shortcut" ] || fail "the Start-menu shortcut is missing"

# The uninstall entry: its texts, and the numbers as REG_DWORD.
wine reg query "$uninstall_key" </dev/null 2>/dev/null | tr -d '\r' >"$scratch/entry" ||
  fail "no uninstall entry in the registry"
version=$(sed -n 's/^project(Orvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
for value in "DisplayName REG_SZ Orvane" "DisplayVersion REG_SZ $version" "Publisher REG_SZ Orvane" \
  'DisplayIcon REG_SZ C:\Program Files\Orvane\Orvane.exe,0' \
  'InstallLocation REG_SZ C:\Program Files\Orvane' \
  'UninstallString REG_SZ "C:\Program Files\Orvane\Uninstall.exe"' \
  'QuietUninstallString REG_SZ "C:\Program Files\Orvane\Uninstall.exe" /S' \
  "NoModify REG_DWORD 0x1" "NoRepair REG_DWORD 0x1"; do
  awk '{ $1 = $1; print }' "$scratch/entry" | grep -qxF "$value" || fail "uninstall entry lacks: $value"
done
size=$(awk '$1 == "EstimatedSize" && $2 == "REG_DWORD" { print $3 }' "$scratch/entry")
[ -n "$size" ] && [ $((size)) -gt 100 ] || fail "EstimatedSize is not a size in KiB: '$size'"

# The installed converter on the example course.
cp -R "$root/examples/safety__2024" "$scratch/"
captions="$scratch/safety__2024/media/captions"
wine 'C:\Program Files\Orvane\orvane-convert.exe' "Z:$(printf '%s' "$captions" | tr / '\\')" \
  </dev/null >"$scratch/convert.out" 2>&1 || fail "orvane-convert.exe failed: $(cat "$scratch/convert.out")"
for golden in "$root"/tests/golden/*.txt; do
  cmp "$golden" "$captions/$(basename "$golden")" || fail "$(basename "$golden") differs from tests/golden"
done

# Orvane.exe from the Start-menu shortcut, then closed as the close box would.
wine start 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Orvane.lnk' </dev/null >/dev/null 2>&1
timeout 60 xdotool search --sync --onlyvisible --name '^Orvane Conversion$' >/dev/null ||
  fail "Orvane.exe started from the shortcut showed no window"

# While Orvane.exe runs, neither the installer nor the uninstaller may touch
# the install: each must refuse with exit code 2.
status=0
wine "$setup" /S </dev/null >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "the installer ended with $status, not 2, while Orvane.exe was running"
# The uninstaller must also change nothing. _?= runs it in place, so that it ends before it returns.
# NSIS reads that folder unquoted up to the end of the command line, which
# wine would quote for its space: a batch file passes the line as written.
printf '@"C:\\Program Files\\Orvane\\Uninstall.exe" /S _?=C:\\Program Files\\Orvane\r\n@echo %%ERRORLEVEL%%\r\n' \
  >"$scratch/uninstall.bat"
status=$(wine cmd /c "Z:$(printf '%s' "$scratch/uninstall.bat" | tr / '\\')" </dev/null 2>/dev/null | tr -d '\r')
[ "$status" = 2 ] || fail "the uninstaller ended with '$status', not 2, while Orvane.exe was running"
for file in Orvane.exe orvane-convert.exe LICENSE.txt README.txt; do
  [ -f "$install_dir/$file" ] || fail "the uninstaller removed $file while Orvane.exe was running"
done
[ -f "$shortcut" ] || fail "the uninstaller removed the shortcut while Orvane.exe was running"
wine reg query "$uninstall_key" </dev/null >/dev/null 2>&1 ||
  fail "the uninstaller removed its entry while Orvane.exe was running"

wine taskkill /im Orvane.exe </dev/null >/dev/null 2>&1 || fail "Orvane.exe could not be closed"
wineserver -w

# The uninstaller copies itself to the temporary folder and returns at once:
# wait for the copy to finish.
wine 'C:\Program Files\Orvane\Uninstall.exe' /S </dev/null >/dev/null 2>&1 || fail "the uninstaller failed"
wineserver -w
[ ! -e "$install_dir" ] || fail "Program Files\\Orvane is still there: $(ls -A "$install_dir")"
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut is still there"
! wine reg query "$uninstall_key" </dev/null >/dev/null 2>&1 || fail "the uninstall entry is still there"
grep -il orvane "$WINEPREFIX"/*.reg && fail "the registry still names Orvane"
# Only the uninstaller's copy of itself may remain, in the temporary folder,
# which Windows deletes at the next restart as NSIS asks it to.
listing | grep -v '^\./users/[^/]*/Temp/~nsu[^/]*\.tmp\(/Un\.exe\)\?$' >"$scratch/after"
diff "$scratch/before" "$scratch/after" >&2 || fail "the uninstaller left the files above"
echo "win64_installer_test: passed"
