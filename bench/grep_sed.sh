#!/bin/sh
# The transcript pipeline people write by hand: for each caption file, grep
# out the header, cue numbers, timing lines and empty lines, and let sed strip
# the <v>/<c> tags and end the lines in CR LF. Bytes, not characters (LC_ALL=C,
# also the fastest mode of both tools).
#
# Usage: grep_sed.sh FOLDER
set -eu
export LC_ALL=C
cd "$1"
cr=$(printf '\r')
title=""
case "$(basename "$(cd ../.. && pwd)")" in
  *__*) title=$(sed -n 's:.*<title>\(.*\)</title>.*:\1:p' ../../imsmanifest.xml 2>/dev/null | head -n 1) ;;
esac
for caption in *.vtt; do
  {
    if [ -n "$title" ]; then printf '%s.\r\n' "$title"; fi
    grep -a -v -E -e 'WEBVTT' -e "^[0-9]*$cr?\$" \
      -e '[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} --> [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}' "$caption" |
      sed -e "s/$cr\$//" -e 's:</\{0,1\}v>::g' -e 's:</\{0,1\}c>::g' -e '/^$/d' -e "s/\$/$cr/"
  } >"${caption%.vtt}.txt"
done
