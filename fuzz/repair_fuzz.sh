#!/usr/bin/env bash
# Builds the repair fuzz target with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer over the whole engine) and runs it for a while.
#
# usage: fuzz/repair_fuzz.sh [SECONDS] [BUILD_DIR] [CORPUS_DIR]
#   SECONDS of fuzzing (default 600); BUILD_DIR default build-fuzz; CORPUS_DIR keeps the
#   inputs found between runs (default BUILD_DIR/repair_fuzz_corpus). Crashes, hangs (30 s)
#   and leaks stop the run with a non-zero status and leave the input in BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
build=${2:-build-fuzz}
corpus=${3:-$build/repair_fuzz_corpus}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCOMPACTADOR_FUZZ=ON -DCOMPACTADOR_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DCOMPACTADOR_BUILD_GUI=OFF -DCOMPACTADOR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target repair_fuzz -j"$(nproc)"
mkdir -p "$corpus"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$build/fuzz/repair_fuzz" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
  -artifact_prefix="$build/" "$corpus"
