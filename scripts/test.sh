#!/bin/sh
# Checks the formatting, then builds and runs every test: the normal build with warnings as errors, then the
# AddressSanitizer and UndefinedBehaviorSanitizer build.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"

echo "== Formatting"
cd "$root"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== Build and test"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DORVANE_WARNINGS_AS_ERRORS=ON
cmake --build "$root/build" -j"$jobs"
ctest --test-dir "$root/build" -j"$jobs" --output-on-failure

echo "== Sanitizer build and test"
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DORVANE_WARNINGS_AS_ERRORS=ON \
  -DORVANE_SANITIZE=ON
cmake --build "$root/build-sanitize" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build-sanitize" -j"$jobs" --output-on-failure

echo "== Windows programs: mingw-w64 build, tests under Wine, GUI test"
"$root/scripts/test-win32.sh"
