#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for SECONDS (default 50). Stops
# with an error on any crash, leak, timeout or difference from the reference
# readings; the input that caused it is saved in build-fuzz/artifacts/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]   targets: caption_filter course_title text_mode
#                                           clean_transcript clean_convert
#                                           subrip_transcript sbv_transcript
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-50}
[ $# -gt 0 ] && shift
targets=${*:-caption_filter course_title text_mode clean_transcript clean_convert subrip_transcript sbv_transcript}
build="$root/build-fuzz"

CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_BUILD_FUZZ=ON \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_QT=OFF -DORVANE_WARNINGS_AS_ERRORS=ON >/dev/null
for target in $targets; do
  cmake --build "$build" -j"$(nproc)" --target "${target}_fuzz"
done

mkdir -p "$build/artifacts"
for target in $targets; do
  case $target in
    course_title) dict="$root/fuzz/manifest.dict" ;;
    clean_transcript | clean_convert) dict="$root/fuzz/clean_captions.dict" ;;
    subrip_transcript) dict="$root/fuzz/subrip_captions.dict" ;;
    sbv_transcript) dict="$root/fuzz/sbv_captions.dict" ;;
    *) dict="$root/fuzz/captions.dict" ;;
  esac
  # New inputs go to the first corpus folder; the seeds in the repository are
  # only read.
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  echo "-- $target: ${seconds}s"
  "$build/fuzz/${target}_fuzz" "$corpus" "$root/fuzz/corpus/$target" -dict="$dict" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 2>"$build/$target.log" || {
    tail -n 40 "$build/$target.log"
    echo "fuzz target $target failed; see $build/$target.log" >&2
    exit 1
  }
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$build/$target.log"
done
