#!/bin/sh
# End-to-end test of Orvane.exe under Wine, on a virtual X display with twm:
# press Process Files before choosing a folder, expect a box titled "Orvane"
# saying "Please select a folder first.", dismiss it; choose the folder the
# picker offers first (the Desktop, where WebVTT, SubRip and SBV caption
# files wait); tick and untick the check boxes with clicks and keys, checking
# which are ticked, enabled and focused after each; convert the folder with
# each combination and check that the transcripts and web pages are the ones
# orvane-convert.exe writes with the same options, in the same prefix and so
# the same user locale; close the dialog and check that the program has ended.
# Positions and states come from the windows themselves (window-probe.exe),
# never from fixed coordinates, and every step waits for the state it needs.
#
# Usage: gui_test.sh BUILD_DIR [SCREENSHOT.png]
# The screenshot shows the dialog with Clean transcripts and Join lines into
# paragraphs ticked.
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

# Prints the text of the focused control in the lines $1.
focus_of() { printf '%s\n' "$1" | awk -F'|' '$7 == "focused" { print $2; exit }'; }

# Prints the states of the five boxes in the lines $1, in template order:
# X ticked, o unticked, - unticked and disabled, ! ticked and disabled.
boxes_of() {
  for text in "$clean" "$paragraphs" "$time_stamps" "$web_page" "$all_formats"; do
    printf '%s\n' "$1" | text=$text awk -F'|' '$2 == ENVIRON["text"] {
      printf "%s", $6 == "enabled" ? ($5 == "checked" ? "X" : "o") : ($5 == "checked" ? "!" : "-")
      exit
    }'
  done
}

# Waits until the boxes show $1 and, when $2 is given, the control with text
# $2 has the focus; leaves the dialog's lines in $dialog.
wait_boxes() {
  tries=0
  while :; do
    dialog=$(probe "Orvane Conversion")
    if [ "$(boxes_of "$dialog")" = "$1" ] && { [ -z "${2:-}" ] || [ "$(focus_of "$dialog")" = "$2" ]; }; then
      return 0
    fi
    [ "$tries" -lt 40 ] ||
      fail "the boxes show \"$(boxes_of "$dialog")\" with \"$(focus_of "$dialog")\" focused, not \"$1\" with \"${2:-}\""
    sleep 0.5
    tries=$((tries + 1))
  done
}

# Clicks the box with text $1 and waits until the boxes show $2.
click_box() {
  click "$(centre_of "$dialog" "$1")"
  wait_boxes "$2"
}

# Presses the key $1 in the dialog and waits until the control with text $2
# has the focus and the boxes show $3.
press() {
  xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^Orvane Conversion$' | head -n 1)" key "$1"
  wait_boxes "$3" "$2"
}

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
select_folder="Select Folder contain VTT files"
clean="Clean transcripts (drop styling, notes and repeated lines)"
paragraphs="Join lines into paragraphs"
time_stamps="Start each paragraph with its time"
web_page="Also write a web page (.html) for each transcript"
all_formats="Also convert SubRip (.srt) and YouTube (.sbv) caption files"
for text in "$select_folder" "No folder selected." "Process Files" "$clean" "$paragraphs" \
  "$time_stamps" "$web_page" "$all_formats"; do
  [ -n "$(centre_of "$dialog" "$text")" ] || fail "the dialog lacks \"$text\""
done
[ "$(boxes_of "$dialog")" = "o----" ] || fail "the boxes start as \"$(boxes_of "$dialog")\", not \"o----\""
# The boxes below Clean transcripts are indented alike, one below the other
# at the same step.
at_paragraphs=$(centre_of "$dialog" "$paragraphs")
at_time_stamps=$(centre_of "$dialog" "$time_stamps")
at_web_page=$(centre_of "$dialog" "$web_page")
at_all_formats=$(centre_of "$dialog" "$all_formats")
step=$((${at_time_stamps#* } - ${at_paragraphs#* }))
above=${at_paragraphs#* }
for below in "$at_time_stamps" "$at_web_page" "$at_all_formats"; do
  off=$((${below#* } - above))
  if [ "${below% *}" != "${at_paragraphs% *}" ] || [ "$off" -lt $((step - 1)) ] ||
    [ "$off" -gt $((step + 1)) ]; then
    fail "the boxes are centred at $at_paragraphs, $at_time_stamps, $at_web_page and $at_all_formats"
  fi
  above=${below#* }
done

process_files "Please select a folder first."

# The picker opens on the Desktop, which OK chooses.
desktop_name='C:\users\'"$(id -un)"'\Desktop'
desktop=$(winepath -u "$desktop_name" 2>/dev/null)
mkdir -p "$desktop"
printf 'WEBVTT\n\n00:01.000 --> 00:02.000\n<v Ana>Hi &amp; bye</v>\n' >"$desktop/gui.vtt"
# A talk whose paragraphs and their times tell the styles apart.
printf '%s\n' WEBVTT '' '00:00:01.000 --> 00:00:03.000' '<v Ana>Good morning, everyone.' '' \
  '00:00:03.000 --> 00:00:05.500' '<v Ana>Today we look at <i>ladders</i> &amp; steps.' '' \
  '00:01:05.000 --> 00:01:07.000' '<v Ben>Do we need gloves?' '' \
  '00:01:07.000 --> 00:01:09.000' '<v Ana>Yes, always.' >"$desktop/talk.vtt"
# WebVTT, SubRip with position codes and italics, and SBV; a.srt is passed
# over, as a.vtt gives its transcript.
printf '%s\n' WEBVTT '' '00:00:01.000 --> 00:00:03.000' '<v Ana>Welcome to the <b>ladder</b> course.' \
  '' '00:00:04.000 --> 00:00:06.000' '<v Ben>Where do we start?' >"$desktop/a.vtt"
printf '%s\r\n' 1 '00:00:01,000 --> 00:00:03,000' '{\an8}<i>Check the feet</i> before you climb.' '' \
  2 '00:00:03,500 --> 00:00:05,000' 'Keep three points of contact.' '' \
  3 '00:01:10,000 --> 00:01:12,000' '<i>Never</i> stand on the top rung.' >"$desktop/b.srt"
printf '%s\n' '0:00:01.000,0:00:03.000' 'Gloves on, please.' '' '0:00:03.500,0:00:05.000' \
  '>> BEN: Do we need helmets?' '' '0:01:20.000,0:01:22.000' 'Yes, always.' >"$desktop/c.sbv"
printf '%s\n' 1 '00:00:01,000 --> 00:00:02,000' 'The SubRip copy of lesson a.' >"$desktop/a.srt"
captions="gui.vtt talk.vtt a.vtt b.srt c.sbv a.srt"
# The transcripts of the WebVTT files alone, and of every format; with pages.
webvtt="a.txt gui.txt talk.txt"
every_format="a.txt b.txt c.txt gui.txt talk.txt"
webvtt_pages="$webvtt a.html gui.html talk.html"
every_format_pages="$every_format a.html b.html c.html gui.html talk.html"
# The tree's first item is the Desktop: focus the tree, select it, confirm.
# Until the tree has filled and taken the key (slow on a cold machine), OK
# chooses nothing and the dialog still says so: then the picker is opened
# again, a bounded number of times, rather than after a fixed wait.
chosen=""
for _ in 1 2 3 4 5 6 7 8 9 10; do
  click "$(centre_of "$dialog" "$select_folder")"
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

# orvane-convert.exe converts a copy of the caption files, for comparison.
cli=$scratch/cli
mkdir -p "$cli"
for name in $captions; do cp "$desktop/$name" "$cli/"; done
cli_folder=$(winepath -w "$cli" 2>/dev/null)
cli_help=$(wine "$build/orvane-convert.exe" --help 2>/dev/null | tr -d '\r')

# Presses Process Files and checks that it writes the transcripts and pages $2
# and no other, and that they are the ones orvane-convert.exe writes with the
# options $1 (unless it lacks one of them).
convert_as() {
  for name in $every_format_pages; do rm -f "$desktop/$name" "$cli/$name"; done
  process_files "Files converted to folder: $desktop_name"
  for name in $every_format_pages; do
    case " $2 " in
      *" $name "*) [ -f "$desktop/$name" ] || fail "no $name with the boxes \"$(boxes_of "$dialog")\"" ;;
      *) [ ! -e "$desktop/$name" ] || fail "$name is written with the boxes \"$(boxes_of "$dialog")\"" ;;
    esac
  done
  ! grep -q "SubRip copy" "$desktop/a.txt" || fail "a.srt is converted over the transcript of a.vtt"
  if [ -f "$desktop/b.txt" ] && grep -q -e 'an8' -e '<i>' "$desktop/b.txt"; then
    fail "b.txt keeps the SubRip styling: $(cat "$desktop/b.txt")"
  fi
  for option in $1; do
    if ! printf '%s\n' "$cli_help" | grep -q -e "^ *$option "; then
      echo "gui_test: orvane-convert.exe has no $option: the files of \"$(boxes_of "$dialog")\" are not compared" >&2
      return 0
    fi
  done
  # shellcheck disable=SC2086
  wine "$build/orvane-convert.exe" -q $1 "$cli_folder" </dev/null >/dev/null 2>&1 ||
    fail "orvane-convert.exe $1 failed"
  for name in $every_format_pages; do
    if [ -e "$desktop/$name" ]; then
      cmp -s "$desktop/$name" "$cli/$name" ||
        fail "$name of \"$(boxes_of "$dialog")\" is not that of orvane-convert.exe $1: $(cat "$desktop/$name")"
    else
      [ ! -e "$cli/$name" ] || fail "orvane-convert.exe $1 writes $name, the dialog does not"
    fi
  done
}

# Every box unticked: the default transcript, of the WebVTT files alone.
convert_as "" "$webvtt"
[ "$(cat "$desktop/gui.txt")" = "$(printf '00:01.000 --> 00:02.000\r\n<v Ana>Hi &amp; bye\r')" ] ||
  fail "unexpected default transcript: $(cat "$desktop/gui.txt")"

# A click on a disabled box does nothing; the click after it shows that they
# have been handled.
click "$(centre_of "$dialog" "$paragraphs")"
click "$(centre_of "$dialog" "$web_page")"
click "$(centre_of "$dialog" "$all_formats")"
click_box "$clean" "Xo-oo"
convert_as "--clean" "$webvtt"
[ "$(cat "$desktop/gui.txt")" = "$(printf 'Ana: Hi & bye\r')" ] ||
  fail "unexpected clean transcript: $(cat "$desktop/gui.txt")"

# The focus is on Process Files, the boxes follow it in the tab order.
press Tab "$clean" "Xo-oo"
press Tab "$paragraphs" "Xo-oo"
press space "$paragraphs" "XXooo"
if [ -n "$screenshot" ]; then
  import -frame -window "$(xdotool search --sync --onlyvisible --name '^Orvane Conversion$' |
    head -n 1)" "$screenshot"
fi
convert_as "--paragraphs" "$webvtt"
click_box "$time_stamps" "XXXoo"
convert_as "--timestamps" "$webvtt"

# The box for other formats is the last in the tab order, the one for web
# pages before it: Shift+Tab from the first control reaches them.
press shift+Tab "$select_folder" "XXXoo"
press shift+Tab "$all_formats" "XXXoo"
press shift+Tab "$web_page" "XXXoo"
press space "$web_page" "XXXXo"
convert_as "--html --timestamps" "$webvtt_pages"
press shift+Tab "$select_folder" "XXXXo"
press shift+Tab "$all_formats" "XXXXo"
press space "$all_formats" "XXXXX"
convert_as "--all-formats --html --timestamps" "$every_format_pages"

# Unticking a box unticks and disables those that depend on it; ticking it
# again ticks none of them. The boxes for web pages and other formats depend
# on Clean transcripts alone.
click_box "$paragraphs" "Xo-XX"
convert_as "--all-formats --html" "$every_format_pages"
click_box "$all_formats" "Xo-Xo"
convert_as "--html" "$webvtt_pages"
click_box "$web_page" "Xo-oo"
convert_as "--clean" "$webvtt"
click_box "$paragraphs" "XXooo"
click_box "$web_page" "XXoXo"
convert_as "--html --paragraphs" "$webvtt_pages"
click_box "$all_formats" "XXoXX"
click_box "$web_page" "XXooX"
convert_as "--all-formats --paragraphs" "$every_format"
click_box "$time_stamps" "XXXoX"
click_box "$web_page" "XXXXX"
press shift+Tab "$time_stamps" "XXXXX"
press shift+Tab "$paragraphs" "XXXXX"
press shift+Tab "$clean" "XXXXX"
press space "$clean" "o----"
press Tab "$select_folder" "o----"  # past the disabled boxes
convert_as "" "$webvtt"
click_box "$clean" "Xo-oo"
convert_as "--clean" "$webvtt"
press Tab "$clean" "Xo-oo"
press Tab "$paragraphs" "Xo-oo"
press Tab "$web_page" "Xo-oo"  # past Start each paragraph
press space "$web_page" "Xo-Xo"
press Tab "$all_formats" "Xo-Xo"
press space "$all_formats" "Xo-XX"
convert_as "--all-formats --html" "$every_format_pages"
click_box "$clean" "o----"
convert_as "" "$webvtt"
for name in $captions $every_format_pages; do rm -f "$desktop/$name"; done

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
