#!/bin/sh
# Checks the formatting, then builds and runs every test: the normal build with warnings as errors, then the
# AddressSanitizer and UndefinedBehaviorSanitizer build, then the ThreadSanitizer build of the tests that run
# threads, then the fuzz targets and the valgrind checks, a short smoke run of the benchmarks, and the Python
# module as pip installs it from the checkout (tests/python/run.sh). The tests of the Qt desktop program (CTest label "qt":
# offscreen, and the installed program on an Xvfb server) run in blocks of their own, and so do the Windows
# programs under Wine, then the packages users install (scripts/test-packages.sh), and last the web pages of
# the example course in headless Chromium and the Nu HTML Checker (tests/web/run.sh). The last line adds up
# the test counts of every CTest run and of the page checks.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"

counts=$(mktemp)
trap 'rm -f "$counts" "$counts.log" "$counts.status"' EXIT
# Runs a command, shows its output as it comes, and keeps the counts of the
# CTest summaries it prints. Fails as the command fails.
counted() {
  { status=0; "$@" 2>&1 || status=$?; echo "$status" >"$counts.status"; } | tee "$counts.log"
  sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$counts.log" >>"$counts"
  awk '/^(Web pages|Python tests): [0-9]+ passed, [0-9]+ failed$/ { print $(NF-1), $(NF-3) + $(NF-1) }' \
    "$counts.log" >>"$counts"
  return "$(cat "$counts.status")"
}

echo "== Formatting"
cd "$root"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== Build and test"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DORVANE_WARNINGS_AS_ERRORS=ON
cmake --build "$root/build" -j"$jobs"
counted ctest --test-dir "$root/build" -j"$jobs" --output-on-failure -LE qt

echo "== Desktop program (Qt): offscreen and under Xvfb"
counted ctest --test-dir "$root/build" -j"$jobs" --output-on-failure -L qt

echo "== Sanitizer build and test"
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DORVANE_WARNINGS_AS_ERRORS=ON \
  -DORVANE_SANITIZE=ON
cmake --build "$root/build-sanitize" -j"$jobs"
counted env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build-sanitize" -j"$jobs" --output-on-failure -LE qt

echo "== Desktop program (Qt) under the sanitizers"
counted env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build-sanitize" -j"$jobs" --output-on-failure -L qt

echo "== ThreadSanitizer: batch runs on several threads, trees, standard input, orvane-convert"
# Only the tests that run threads, and only their targets. Peak memory means nothing beside the sanitizer's
# shadow memory: the memory test runs in the other builds.
cmake -S "$root" -B "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_WARNINGS_AS_ERRORS=ON \
  -DORVANE_SANITIZE_THREAD=ON -DORVANE_BUILD_QT=OFF
cmake --build "$root/build-tsan" -j"$jobs" --target orvane-convert batch_run_test batch_run_posix_test \
  cli_test cli_posix_test hostile_test
counted env TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir "$root/build-tsan" -j"$jobs" --output-on-failure \
  -R '^(RunBatch|OrvaneConvert|Hostile\.Trees)' -E 'MemoryStaysBounded'

echo "== Robustness: fuzzing (5 targets, ${ORVANE_FUZZ_SECONDS:-50}s each) and valgrind memcheck"
"$root/scripts/fuzz.sh" "${ORVANE_FUZZ_SECONDS:-50}"
"$root/scripts/memcheck.sh" "$root/build"

echo "== Benchmark smoke run (bench/: one short round on a few MB; the figures mean nothing here)"
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DORVANE_WARNINGS_AS_ERRORS=ON \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_QT=OFF -DORVANE_BUILD_BENCH=ON \
  -DORVANE_BUILD_PYTHON=ON -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build "$root/build-bench" -j"$jobs"
/usr/bin/python3 -B -m unittest discover -s "$root/bench" -p 'test_*.py'
/usr/bin/python3 "$root/bench/compare.py" --build "$root/build-bench" --files 6 --size 0.5 --rounds 1 \
  --filter-time 0.05 --big-mb 8 --line-mb 4

echo "== Python module: pip install from the checkout into a virtual environment, tests and a Dask cluster"
counted "$root/tests/python/run.sh" "$root/build"

echo "== Windows programs: mingw-w64 build, tests under Wine, GUI test"
counted "$root/scripts/test-win32.sh"

echo "== Packages: .deb, Windows installer and zip; lint, install, use and remove"
"$root/scripts/test-packages.sh"

echo "== Web pages: axe-core in headless Chromium (light, dark, phone width, print) and the Nu HTML Checker"
# The example course's pages, written by orvane-convert --html, and the hand-written tests/web/sample.html.
pages="$root/build/web-pages"
rm -rf "$pages"
cp -R "$root/examples" "$pages"
if "$root/build/orvane-convert" --help | grep -q -- --html; then
  "$root/build/orvane-convert" -q --timestamps --all-formats --html "$pages/safety__2024/media/captions"
  # The example course's caption files tell no language: every page's lang is the fallback.
  (cd "$pages" && find . -name '*.html' | sort) >"$pages/fallback-lang.txt"
  counted "$root/tests/web/run.sh" "$pages" "$pages/fallback-lang.txt"
else
  echo "(orvane-convert writes no pages yet: the sample page alone)"
  counted "$root/tests/web/run.sh"
fi

echo "== All test suites"
awk '{ failed += $1; total += $2 } END { printf "Total: %d passed, %d failed\n", total - failed, failed }' "$counts"
