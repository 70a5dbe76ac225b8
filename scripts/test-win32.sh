#!/bin/sh
# Cross-builds Orvane.exe and orvane-convert.exe with mingw-w64 into
# build-win64/, runs the test suites under Wine, compares orvane-convert.exe's
# transcripts with the Linux build's (LINUX_BUILD, default build/), then runs
# the GUI end-to-end test on a virtual display.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
win=$root/build-win64
linux=${LINUX_BUILD:-$root/build}

cmake -S "$root" -B "$win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DORVANE_WARNINGS_AS_ERRORS=ON
cmake --build "$win" -j"$jobs"

# Without LANG=C.UTF-8 Wine takes Linux file names for ASCII. A prefix of our
# own; its wineserver and services are started before the tests, or every test
# waits for them and CTest can hang on the pipes they inherit.
export LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$win/wineprefix"
unset DISPLAY
mkdir -p "$WINEPREFIX"
trap 'wineserver -k 2>/dev/null || true' EXIT
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1
ctest --test-dir "$win" -j"$jobs" --output-on-failure
if [ -x "$linux/orvane-convert" ]; then
  "$root/tests/win32/compare_with_linux.sh" "$linux/orvane-convert" "$win/orvane-convert.exe"
else
  echo "no Linux build in $linux: transcripts not compared" >&2
  exit 1
fi
# The GUI test starts its own wineserver on its display.
wineserver -k
"$root/tests/win32/gui_test.sh" "$win"
