#!/bin/sh
# Installs what is missing, builds the benchmarks in build-bench/ and runs the
# comparison (bench/compare.py); arguments go to compare.py, e.g. --chart FILE.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_QT=OFF \
  -DORVANE_BUILD_BENCH=ON >/dev/null
cmake --build "$root/build-bench" -j"$(nproc)" >/dev/null
exec /usr/bin/python3 "$root/bench/compare.py" --build "$root/build-bench" "$@"
