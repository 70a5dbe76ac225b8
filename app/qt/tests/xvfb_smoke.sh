#!/bin/sh
# Installs orvane into a scratch prefix and uses it on a real X server the way
# a person would: Enter opens the folder picker, Enter again chooses the
# example captions folder in it, Process Files converts it, the completion
# message is answered; Space ticks Clean transcripts and Process Files
# converts it again into clean transcripts; Escape ends the program. Run it
# under xvfb-run. With ORVANE_SCREENSHOT set, the dialog is saved there as a
# PNG (needs ImageMagick's import) once the box is ticked.
# Usage: xvfb_smoke.sh BUILD_DIR EXAMPLES_DIR GOLDEN_DIR
set -eu
build=$1 examples=$2 golden=$3
work=$(mktemp -d)
pid=""
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "xvfb_smoke: $*" >&2
  exit 1
}

# Waits for a visible window whose title is exactly $1 and prints its id.
wait_window() {
  timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1
}

# Waits until no visible window has the title $1.
wait_gone() {
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null || return 0
    sleep 0.2
  done
  fail "window \"$1\" did not close"
}

# Presses keys in window $1. There is no window manager, so focus it first.
keys() {
  window=$1
  shift
  xdotool windowfocus --sync "$window"
  xdotool key "$@"
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for file in bin/orvane share/applications/orvane.desktop share/icons/hicolor/48x48/apps/orvane.png \
  share/icons/hicolor/256x256/apps/orvane.png share/icons/hicolor/scalable/apps/orvane.svg; do
  [ -e "$work/prefix/$file" ] || fail "cmake --install did not install $file"
done

cp -R "$examples" "$work/courses"
captions="$work/courses/safety__2024/media/captions"

HOME=$captions QT_QPA_PLATFORM=xcb "$work/prefix/bin/orvane" &
pid=$!
dialog=$(wait_window "Orvane Conversion") || fail "the dialog did not open"
keys "$dialog" Return  # Select Folder is the default button
picker=$(wait_window "Select a folder to process .vtt files") || fail "no folder picker"
# The picker opens in the home folder, here the captions folder, so choosing
# it takes only Enter. Typing the path instead races the picker's completion.
# Enter is pressed again while the picker stays open (it may not have taken
# the first), each time after waiting a while for it to close.
closed=""
for _ in 1 2 3 4 5; do
  xdotool windowfocus --sync "$picker" key Return
  for _ in $(seq 25); do
    xdotool search --onlyvisible --name "^Select a folder to process .vtt files\$" >/dev/null ||
      { closed=yes; break; }
    sleep 0.2
  done
  [ -z "$closed" ] || break
done
[ -n "$closed" ] || fail "the folder picker did not close"

keys "$dialog" Tab Return  # Process Files
message=$(wait_window Orvane) || fail "no message after Process Files"
for transcript in "$golden"/*.txt; do
  cmp -s "$transcript" "$captions/$(basename "$transcript")" ||
    fail "$(basename "$transcript") differs from the expected transcript"
done
keys "$message" Return
wait_gone Orvane

keys "$dialog" Tab space  # Clean transcripts, right after Process Files
if [ -n "${ORVANE_SCREENSHOT:-}" ]; then
  import -window "$dialog" "$ORVANE_SCREENSHOT"
fi
keys "$dialog" shift+Tab Return  # Process Files again
message=$(wait_window Orvane) || fail "no message after Process Files with Clean transcripts"
for transcript in "$golden"/clean/*.txt; do
  cmp -s "$transcript" "$captions/$(basename "$transcript")" ||
    fail "$(basename "$transcript") differs from the expected clean transcript"
done
keys "$message" Return
wait_gone Orvane

keys "$dialog" Escape
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "orvane ended with status $status"
echo "xvfb_smoke: passed"
