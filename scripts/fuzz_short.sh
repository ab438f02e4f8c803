#!/usr/bin/env bash
# A short fuzz run of every target (fuzz/*_fuzz.cpp) with clang, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer, the engine instrumented too. Each target starts from its
# committed seeds (fuzz/seeds/<target>/) and from what earlier runs on this machine learned
# (its corpus folder, kept), with the dictionary of Jet's magic values (fuzz/jet.dict).
# Prints the executions of each target; a crash, a hang (30 s), a leak or a sanitizer report
# stops the run with status 1 and leaves the input in the build folder; targets that do not
# build give status 2.
#
# usage: scripts/fuzz_short.sh [SECONDS_PER_TARGET] [BUILD_DIR]    (defaults 45, build-fuzz)
# Environment: FUZZ_CORPUS_DIR (default BUILD_DIR/corpus), FUZZ_TARGETS (names, default all).
# Without clang it says which package to install and exits 2.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-45}
build=${2:-build-fuzz}
corpora=${FUZZ_CORPUS_DIR:-$build/corpus}
scripts/deps.sh --require clang clang++ || exit 2
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
targets=${FUZZ_TARGETS:-$(cd fuzz && ls ./*_fuzz.cpp | sed -e 's|^\./||' -e 's|\.cpp$||')}

CC=clang CXX=clang++ cmake -S . -B "$build" -DCOMPACTADOR_FUZZ=ON -DCOMPACTADOR_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
    -DCOMPACTADOR_BUILD_GUI=OFF -DCOMPACTADOR_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
# shellcheck disable=SC2086
CCACHE_BASEDIR=$PWD nice cmake --build "$build" -j"$(nproc)" --target $targets >"$build/fuzz_build.log" 2>&1 ||
    { tail -30 "$build/fuzz_build.log"; echo "fuzz_short: the fuzz targets do not build"; exit 2; }

max_len() {
    case $1 in
        repair_fuzz) echo 256 ;;
        lock_file_fuzz) echo 20000 ;;
        *) echo 200000 ;;
    esac
}

# repair_fuzz damages databases the engine writes at its start; REPAIR_FUZZ_FILES, when set
# (the corpus, say), adds the .mdb files of that folder.
status=0
summary=()
for target in $targets; do
    corpus=$corpora/$target
    mkdir -p "$corpus"
    seeds=fuzz/seeds/$target
    [[ -d $seeds ]] || seeds=
    out=$build/$target.log
    rc=0
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
        -max_len="$(max_len "$target")" -dict=fuzz/jet.dict -artifact_prefix="$build/$target-" \
        "$corpus" $seeds >"$out" 2>&1 || rc=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$out" | grep -o '[0-9]*$' || echo '?')
    units=$(find "$corpus" -type f | wc -l)
    if [[ $rc != 0 ]]; then
        status=1
        summary+=("$target: FAILED (exit $rc) after $runs executions; see $out")
        grep -m5 -E 'ERROR|runtime error|_fuzz:' "$out" || true
    else
        summary+=("$target: $runs executions in ${seconds}s, 0 crashes, corpus $units inputs")
    fi
done
printf 'fuzz_short: %s\n' "${summary[@]}"
exit $status
