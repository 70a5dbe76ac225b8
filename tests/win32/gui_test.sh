#!/bin/sh
# End-to-end test of Orvane.exe under Wine, on a virtual X display with twm:
# press Process Files before choosing a folder, expect a box titled "Orvane"
# saying "Please select a folder first.", dismiss it; choose the folder the
# picker offers first (the Desktop, where a caption file waits), convert it
# with the Clean transcripts box unticked and then ticked, and check both
# transcripts; close the dialog and check that the program has ended. Positions come from the windows
# themselves (window-probe.exe), never from fixed coordinates.
#
# Usage: gui_test.sh BUILD_DIR [SCREENSHOT.png]
# Needs: wine, Xvfb, twm, xdotool (and ImageMagick's import for a screenshot).
# Uses WINEPREFIX as it is set; no wineserver of that prefix may be running.
set -eu
build=$(cd "$1" && pwd)
screenshot=${2:-}
export LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
scratch=$(mktemp -d)
pids=""
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  printf 'gui_test: %s\n' "$*" >&2
  exit 1
}

# Prints the probe's lines for the windows titled $1.
probe() { wine "$build/tests/window-probe.exe" "$1" 2>/dev/null | tr -d '\r'; }

# Waits up to $2 seconds until a window titled $1 is shown; prints its lines.
wait_for() {
  tries=0
  while [ "$tries" -lt "$(($2 * 2))" ]; do
    lines=$(probe "$1")
    if [ -n "$lines" ]; then
      printf '%s\n' "$lines"
      return 0
    fi
    sleep 0.5
    tries=$((tries + 1))
  done
  return 1
}

# Prints "x y", the centre of the control with text $2 in the lines $1.
# (The text goes through the environment: awk -v would read its backslashes.)
centre_of() { printf '%s\n' "$1" | text=$2 awk -F'|' '$2 == ENVIRON["text"] { print $3, $4; exit }'; }

# Prints the check state of the control with text $2 in the lines $1.
check_of() { printf '%s\n' "$1" | text=$2 awk -F'|' '$2 == ENVIRON["text"] { print $5; exit }'; }

# Waits until no window titled $1 is shown.
wait_gone() {
  tries=0
  while [ -n "$(probe "$1")" ]; do
    [ "$tries" -lt 20 ] || fail "the window \"$1\" did not close"
    sleep 0.5
    tries=$((tries + 1))
  done
}

# Presses Process Files, expects the box $1, and dismisses it.
process_files() {
  click "$(centre_of "$dialog" "Process Files")"
  box=$(wait_for "Orvane" 20) || fail "no box titled \"Orvane\" after Process Files"
  printf '%s\n' "$box" | grep -qF "|$1|" || fail "the box does not say \"$1\": $box"
  click "$(centre_of "$box" "OK")"
  wait_gone "Orvane"
}

click() {
  # shellcheck disable=SC2086
  xdotool mousemove --sync $1 click 1
}

. "$(dirname "$0")/x_display.sh"
start_display twm
# A wineserver and Wine's services started now belong to this display, and do
# not hold on to the pipes of the probes below.
wineserver -p
wine wineboot >/dev/null 2>&1 </dev/null

wine "$build/Orvane.exe" </dev/null >/dev/null 2>&1 &
app=$!
pids="$pids $app"

dialog=$(wait_for "Orvane Conversion" 60) || fail "the dialog did not appear"
clean="Clean transcripts (drop styling, notes and repeated lines)"
for text in "Select Folder contain VTT files" "No folder selected." "Process Files" "$clean"; do
  [ -n "$(centre_of "$dialog" "$text")" ] || fail "the dialog lacks \"$text\""
done
[ "$(check_of "$dialog" "$clean")" = unchecked ] || fail "Clean transcripts starts ticked"
if [ -n "$screenshot" ]; then
  import -frame -window "$(xdotool search --sync --onlyvisible --name '^Orvane Conversion$' |
    head -n 1)" "$screenshot"
fi

process_files "Please select a folder first."

# The picker opens on the Desktop, which OK chooses.
desktop_name='C:\users\'"$(id -un)"'\Desktop'
desktop=$(winepath -u "$desktop_name" 2>/dev/null)
mkdir -p "$desktop"
printf 'WEBVTT\n\n00:01.000 --> 00:02.000\n<v Ana>Hi &amp; bye</v>\n' >"$desktop/gui.vtt"
# The tree's first item is the Desktop: focus the tree, select it, confirm.
# Until the tree has filled and taken the key (slow on a cold machine), OK
# chooses nothing and the dialog still says so: then the picker is opened
# again, a bounded number of times, rather than after a fixed wait.
chosen=""
for _ in 1 2 3 4 5 6 7 8 9 10; do
  click "$(centre_of "$dialog" "Select Folder contain VTT files")"
  picker=$(wait_for "Browse for Folder" 20) || fail "no folder picker"
  click "$(printf '%s\n' "$picker" | awk -F'|' '$1 == "SysTreeView32" { print $3, $4; exit }')"
  xdotool key Home
  click "$(centre_of "$picker" "OK")"
  wait_gone "Browse for Folder"
  dialog=$(probe "Orvane Conversion")
  if [ -n "$(centre_of "$dialog" "$desktop_name")" ]; then
    chosen=yes
    break
  fi
done
[ -n "$chosen" ] || fail "the chosen folder is not shown: $dialog"

process_files "Files converted to folder: $desktop_name"
[ "$(cat "$desktop/gui.txt")" = "$(printf '00:01.000 --> 00:02.000\r\n<v Ana>Hi &amp; bye\r')" ] ||
  fail "unexpected default transcript: $(cat "$desktop/gui.txt")"
click "$(centre_of "$dialog" "$clean")"
dialog=$(probe "Orvane Conversion")
[ "$(check_of "$dialog" "$clean")" = checked ] || fail "Clean transcripts did not tick"
process_files "Files converted to folder: $desktop_name"
[ "$(cat "$desktop/gui.txt")" = "$(printf 'Ana: Hi & bye\r')" ] ||
  fail "unexpected clean transcript: $(cat "$desktop/gui.txt")"
rm -f "$desktop/gui.vtt" "$desktop/gui.txt"

# Escape ends the dialog, as its close box does.
window=$(xdotool search --name '^Orvane Conversion$' | head -n 1)
[ -n "$window" ] || fail "no X window for the dialog"
xdotool windowfocus --sync "$window" key Escape
tries=0
while kill -0 "$app" 2>/dev/null; do
  [ "$tries" -lt 40 ] || fail "Orvane.exe did not end after the dialog was closed"
  sleep 0.5
  tries=$((tries + 1))
done
wait "$app" || fail "Orvane.exe ended with status $?"
echo "gui_test: passed"
