#!/bin/sh
# Runs orvane-convert under valgrind memcheck over a copy of the example course
# and over a hostile course folder. Fails on any memory error or leak, or when
# the converter's exit status is not the expected one.
#   scripts/memcheck.sh [BUILD_DIR]   (default: build, as scripts/test.sh leaves it)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
program="${1:-$root/build}/orvane-convert"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs the converter under memcheck; $1 is the exit status it must give.
memcheck() {
  expected=$1
  shift
  status=0
  valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=all "$program" "$@" >"$work/out" 2>&1 || status=$?
  cat "$work/out"
  if [ "$status" -ne "$expected" ]; then
    echo "memcheck: orvane-convert $*: exit status $status, expected $expected" >&2
    exit 1
  fi
}

cp -R "$root/examples" "$work/examples"
memcheck 0 "$work/examples/safety__2024/media/captions"

course="$work/hostile__course"
captions="$course/media/captions"
mkdir -p "$captions" "$work/elsewhere"
{
  printf '<manifest>\n'
  head -c 300000 /dev/zero | tr '\0' ' '
  printf '<title>Hostile\r\nCourse</title></manifest>\n'
} >"$course/imsmanifest.xml"
printf 'WEBVTT\r\n\r\n1\r\n00:00:01.000 --> 00:00:02.000\r\n<v>Hello</v>\r\n' >"$captions/good.vtt"
printf 'a\0b\n\377\376\375\n\r\r\r\nend\032ignored\n' >"$captions/odd-bytes.vtt"
head -c 3000000 /dev/zero | tr '\0' '7' >"$captions/long-line.vtt"
: >"$captions/empty.vtt"
mkfifo "$captions/fifo.vtt"
ln -s gone.vtt "$captions/dangling.vtt"
ln -s /dev/zero "$captions/device.vtt"
ln -s "$work/elsewhere" "$captions/folder-link.vtt"
mkdir "$captions/folder.vtt"
printf 'Blocked\n' >"$captions/blocked.vtt"
mkdir "$captions/blocked.txt"
printf 'Full\n' >"$captions/full.vtt"
ln -s /dev/full "$captions/full.txt"
memcheck 1 "$captions" "$work/missing" ""
printf 'Hostile\r\r\nCourse.\r\nHello\r\n' | cmp - "$captions/good.txt"
