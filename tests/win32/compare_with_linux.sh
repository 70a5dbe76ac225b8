#!/bin/sh
# Converts one tree of course folders with the Linux orvane-convert and a copy
# of it with orvane-convert.exe under Wine, and checks that both write the
# same transcripts, and that the example course matches tests/golden/.
#
# Usage: compare_with_linux.sh LINUX_ORVANE_CONVERT WINDOWS_ORVANE_CONVERT_EXE
# Uses WINEPREFIX as it is set; start its wineserver first (wineserver -p).
set -eu
linux=$1
windows=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
export LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

tree=$scratch/tree
mkdir -p "$tree"
cp -R "$root/examples/safety__2024" "$tree/"
second=$tree/intro__2025/media/captions
mkdir -p "$second" "$tree/plain/media/captions"
printf '<manifest><title>Caf\303\251 &amp; Kitchen\r\nBasics</title></manifest>' \
  >"$tree/intro__2025/imsmanifest.xml"
printf '\357\273\277WEBVTT\r\n\r\n1\r\n00:00:01.000 --> 00:00:02.000\r\n<v>Hello</v>\r\n' >"$second/crlf.vtt"
printf 'NOTE kept\n12\n<v>12</v>\n<<v>c>\n\r\nbefore\032after\n' >"$second/UPPER.VTT"
printf 'plain a\n' >"$second/a.vtt"
printf 'a with ogonek\n' >"$second/ą.vtt"
printf '日本語の字幕\n' >"$second/日本.vtt"
printf 'not captions\n' >"$second/clip.vttx"
printf '<v>No title here</v>\n' >"$tree/plain/media/captions/lesson.vtt"

cp -R "$tree" "$scratch/linux"
cp -R "$tree" "$scratch/windows"

find "$scratch/linux" -type d -name captions -exec "$linux" {} + >/dev/null
set --
for folder in $(cd "$scratch/windows" && find . -type d -name captions | sort); do
  set -- "$@" "Z:$(printf '%s' "$scratch/windows/${folder#./}" | tr / '\\')"
done
wine "$windows" "$@" >"$scratch/windows.out" </dev/null
grep -c '^Files converted to folder: Z:' "$scratch/windows.out" | grep -qx 3 ||
  { echo "compare_with_linux: unexpected output:" >&2; cat "$scratch/windows.out" >&2; exit 1; }

diff -r "$scratch/linux" "$scratch/windows"
for golden in "$root"/tests/golden/*.txt; do
  cmp "$golden" "$scratch/windows/safety__2024/media/captions/$(basename "$golden")"
done
# A failure reads as on Linux, with the same exit status.
status=0
wine "$windows" 'Z:\nonexistent\captions' >/dev/null 2>"$scratch/windows.err" </dev/null || status=$?
[ "$status" -eq 1 ] && tr -d '\r' <"$scratch/windows.err" | grep -qx \
  'orvane-convert: Z:\\nonexistent\\captions: No .vtt files found in the selected folder.' ||
  { echo "compare_with_linux: status $status, stderr:" >&2; cat "$scratch/windows.err" >&2; exit 1; }
echo "compare_with_linux: $(find "$scratch/windows" -name '*.txt' | wc -l) transcripts identical"
