#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 14, AddressSanitizer and
# UndefinedBehaviorSanitizer (installing clang when missing) and runs each for
# FUZZ_SECONDS (default 60). FUZZ_CMAKE_ARGS adds configure options.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --fuzz
BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD_DIR" -G Ninja -DMARVANE_FUZZ=ON ${FUZZ_CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
status=0
for src in fuzz/*.cpp; do
  name=$(basename "$src" .cpp)
  corpus="$BUILD_DIR/corpus/$name"
  mkdir -p "$corpus"
  echo "== $name"
  "$BUILD_DIR/fuzz/$name" -max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=1 "$corpus" 2>&1 \
    | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' || status=1
done
exit $status
