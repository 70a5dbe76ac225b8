#!/bin/sh
# Installs what is missing, builds the benchmarks in build-bench/ and runs the
# comparison (bench/compare.py); arguments go to compare.py, e.g. --chart FILE.
# With --baseline REV (a git revision), that revision is also built, in a
# temporary worktree's own build-bench/, and timed beside this one.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

# Takes --baseline REV out of the arguments; the others stay in order.
baseline=""
count=$#
while [ "$count" -gt 0 ]; do
  arg=$1
  shift
  count=$((count - 1))
  if [ "$arg" = --baseline ]; then
    [ "$count" -gt 0 ] || { echo "run.sh: --baseline needs a git revision" >&2; exit 2; }
    baseline=$1
    shift
    count=$((count - 1))
  else
    set -- "$@" "$arg"
  fi
done

"$root/scripts/install-deps.sh"
# build SOURCE [OPTION...]: the bench build in SOURCE/build-bench. The Python
# module is built for Debian's python3, which runs the comparison.
build() {
  source=$1
  shift
  cmake -S "$source" -B "$source/build-bench" -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
    -DORVANE_BUILD_QT=OFF -DORVANE_BUILD_BENCH=ON "$@" >/dev/null
  cmake --build "$source/build-bench" -j"$(nproc)" >/dev/null
}
build "$root" -DORVANE_BUILD_PYTHON=ON -DPython3_EXECUTABLE=/usr/bin/python3
if [ -z "$baseline" ]; then
  exec /usr/bin/python3 "$root/bench/compare.py" --build "$root/build-bench" "$@"
fi

commit=$(git -C "$root" rev-parse --verify "$baseline^{commit}")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/orvane-baseline-XXXXXX")
trap 'git -C "$root" worktree remove --force "$scratch/source" 2>/dev/null || true; rm -rf "$scratch"' EXIT
git -C "$root" worktree add --detach "$scratch/source" "$commit" >/dev/null
echo "Building $baseline ($commit) in $scratch/source/build-bench"
# Without the Python module, which earlier revisions may lack.
build "$scratch/source"
/usr/bin/python3 "$root/bench/compare.py" --build "$root/build-bench" --baseline "$scratch/source/build-bench" "$@"
