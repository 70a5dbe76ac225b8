#!/bin/sh
# Builds orvane-convert and runs it on a copy of the bundled example course,
# then shows each transcript: first the default ones, then the clean ones
# (orvane-convert --clean) that replace them, with those of the SubRip and SBV
# files (--all-formats), then the clean ones joined into paragraphs that start
# with their time (--timestamps).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# Only what building orvane-convert takes: scripts/test.sh installs the rest.
"$root/scripts/install-deps.sh" g++ cmake make
build=$root/build-example
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
  -DORVANE_BUILD_QT=OFF >/dev/null
cmake --build "$build" --target orvane-convert -j"$(nproc)"
rm -rf "$build/example"
cp -R "$root/examples" "$build/example"
captions="$build/example/safety__2024/media/captions"
for style in "" "--clean --all-formats" "--timestamps --all-formats"; do
  echo
  echo "#### orvane-convert $style"
  "$build/orvane-convert" $style "$captions"
  for transcript in "$captions"/*.txt; do
    echo
    echo "== $(basename "$transcript")"
    tr -d '\r' < "$transcript"
  done
done
