#!/bin/sh
# Builds orvane-convert and runs it on a copy of the bundled example course,
# then shows each transcript: first the default ones, then the clean ones
# (orvane-convert --clean) that replace them.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target orvane-convert -j"$(nproc)"
rm -rf "$root/build/example"
cp -R "$root/examples" "$root/build/example"
captions="$root/build/example/safety__2024/media/captions"
for style in "" --clean; do
  echo
  echo "#### orvane-convert $style"
  "$root/build/orvane-convert" $style "$captions"
  for transcript in "$captions"/*.txt; do
    echo
    echo "== $(basename "$transcript")"
    tr -d '\r' < "$transcript"
  done
done
