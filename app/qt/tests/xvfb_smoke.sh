#!/bin/sh
# Installs orvane into a scratch prefix and uses it on a real X server the way
# a person would: Enter opens the folder picker, Enter again chooses the
# example captions folder in it, Process Files converts it, the completion
# message is answered; Tab and Space tick Clean transcripts, Join lines into
# paragraphs and Start each paragraph with its time, and Process Files
# converts it again as orvane-convert --timestamps does (when it can); Space
# unticks Join lines, which unticks Start each paragraph too, and Process
# Files converts it into clean transcripts, but not the SubRip and SBV files,
# and writes no web page; Space ticks Also write a web page... and Also
# convert SubRip..., and Process Files converts them too, each with its page,
# as orvane-convert --all-formats --html does (when it can); Escape ends the
# program.
# Run it under xvfb-run. With ORVANE_SCREENSHOT set, the dialog is saved there
# as a PNG (needs ImageMagick's import) with the first two boxes ticked.
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

# Copies the example course to $1. Beside its SubRip and SBV files it gets
# lesson1-welcome.srt, which a run of every format passes over, as
# lesson1-welcome.vtt gives its transcript.
copy_examples() {
  cp -R "$examples" "$1"
  printf '1\n00:00:01,000 --> 00:00:02,000\nThe SubRip copy of lesson 1.\n' \
    >"$1/safety__2024/media/captions/lesson1-welcome.srt"
}

# The golden transcripts of caption files other than WebVTT.
other_transcripts() {
  for transcript in "$golden"/clean/*.txt; do
    [ -e "$examples/safety__2024/media/captions/$(basename "$transcript" .txt).vtt" ] ||
      basename "$transcript"
  done
}

copy_examples "$work/courses"
captions="$work/courses/safety__2024/media/captions"
[ -n "$(other_transcripts)" ] || fail "the examples hold no SubRip or SBV file"

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

# The boxes follow Process Files in the tab order, each enabled once the one
# above it is ticked.
if [ -n "${ORVANE_SCREENSHOT:-}" ]; then
  import -frame -window "$dialog" "$work/before.png"
fi
keys "$dialog" Tab space Tab space  # Clean transcripts, Join lines into paragraphs
if [ -n "${ORVANE_SCREENSHOT:-}" ]; then
  # Taken once the window shows the boxes ticked: it has changed, and two
  # pictures in a row agree.
  import -frame -window "$dialog" "$ORVANE_SCREENSHOT"
  for _ in $(seq 50); do
    import -frame -window "$dialog" "$work/now.png"
    if ! cmp -s "$work/now.png" "$work/before.png" && cmp -s "$work/now.png" "$ORVANE_SCREENSHOT"; then
      break
    fi
    mv "$work/now.png" "$ORVANE_SCREENSHOT"
  done
fi
keys "$dialog" Tab space shift+Tab shift+Tab shift+Tab Return  # and the time: Process Files
message=$(wait_window Orvane) || fail "no message after Process Files with every box ticked"
if "$work/prefix/bin/orvane-convert" --help | grep -q -e '^ *--timestamps '; then
  copy_examples "$work/cli"
  "$work/prefix/bin/orvane-convert" -q --timestamps "$work/cli/safety__2024/media/captions" ||
    fail "orvane-convert --timestamps failed"
  for transcript in "$work/cli/safety__2024/media/captions"/*.txt; do
    cmp -s "$transcript" "$captions/$(basename "$transcript")" ||
      fail "$(basename "$transcript") differs from that of orvane-convert --timestamps"
  done
else
  echo "xvfb_smoke: orvane-convert has no --timestamps: the transcripts are not compared" >&2
fi
keys "$message" Return
wait_gone Orvane

# Unticking Join lines unticks Start each paragraph: clean transcripts.
keys "$dialog" Tab Tab space shift+Tab shift+Tab Return
message=$(wait_window Orvane) || fail "no message after Process Files with Clean transcripts"
for transcript in "$golden"/clean/*.txt; do
  name=$(basename "$transcript")
  if other_transcripts | grep -qxF "$name"; then
    [ ! -e "$captions/$name" ] || fail "$name was written with Also convert SubRip... unticked"
  else
    cmp -s "$transcript" "$captions/$name" || fail "$name differs from the expected clean transcript"
  fi
done
for page in "$captions"/*.html; do
  [ ! -e "$page" ] || fail "$(basename "$page") was written with Also write a web page... unticked"
done
keys "$message" Return
wait_gone Orvane

# Also write a web page... and Also convert SubRip... follow Join lines, past
# the disabled Start each paragraph.
keys "$dialog" Tab Tab Tab space Tab space shift+Tab shift+Tab shift+Tab shift+Tab Return
message=$(wait_window Orvane) || fail "no message after Process Files with pages of every format"
for transcript in "$golden"/clean/*.txt; do
  name=$(basename "$transcript" .txt)
  cmp -s "$transcript" "$captions/$name.txt" ||
    fail "$name.txt differs from the expected transcript of every format"
  [ -s "$captions/$name.html" ] || fail "no web page beside $name.txt"
done
if "$work/prefix/bin/orvane-convert" --help | grep -q -e '^ *--all-formats ' &&
  "$work/prefix/bin/orvane-convert" --help | grep -q -e '^ *--html '; then
  # In the same environment, so that pages fall back to the same language.
  rm -rf "$work/cli"
  copy_examples "$work/cli"
  "$work/prefix/bin/orvane-convert" -q --all-formats --html "$work/cli/safety__2024/media/captions" ||
    fail "orvane-convert --all-formats --html failed"
  written=$(cd "$captions" && ls -- *.txt *.html)
  [ "$written" = "$(cd "$work/cli/safety__2024/media/captions" && ls -- *.txt *.html)" ] ||
    fail "not the files of orvane-convert --all-formats --html: $written"
  for file in "$work/cli/safety__2024/media/captions"/*.txt "$work/cli/safety__2024/media/captions"/*.html; do
    cmp -s "$file" "$captions/$(basename "$file")" ||
      fail "$(basename "$file") differs from that of orvane-convert --all-formats --html"
  done
else
  echo "xvfb_smoke: orvane-convert has no --all-formats or --html: the files are not compared" >&2
fi
keys "$message" Return
wait_gone Orvane

keys "$dialog" Escape
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "orvane ended with status $status"
echo "xvfb_smoke: passed"
