#!/usr/bin/env bash
# A short fuzz run of every target (fuzz/*_fuzz.cpp) with clang, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer, the engine instrumented too. Each target starts from its
# findings kept as regressions (fuzz/regressions/<target>/, run first: one that crashes again
# stops the run at once), its committed seeds (fuzz/seeds/<target>/) and its corpus: what the
# earlier runs on this machine learned, minimised (outside git). What a run finds is merged
# into that corpus (-merge=1), so the next run starts from it. The dictionary holds Jet's
# magic values (fuzz/jet.dict).
#
# A finding (a crash, a hang of 30 s, a leak, a sanitizer's report) fails the run: its input
# stays in the build folder, and the command that reproduces it is printed, with the one that
# keeps it as a regression. Prints the executions of each target.
#
# usage: scripts/fuzz_short.sh [SECONDS_PER_TARGET] [BUILD_DIR]    (defaults 45, build-fuzz)
# Environment:
#   FUZZ_CORPUS_DIR  the corpora, one folder a target (default BUILD_DIR/corpus)
#   FUZZ_TARGETS     names of the targets to run (default all)
#   FUZZ_RESEED=1    after the run, re-minimise fuzz/seeds/<target>/ from the seeds and the
#                    corpus (the seeds become the merged set, named *.seed)
# Exit status: 0 nothing found, 1 a finding, 2 the targets do not build (or no clang: the
# package to install is named).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-45}
build=${2:-build-fuzz}
corpora=${FUZZ_CORPUS_DIR:-$build/corpus}
scripts/deps.sh --require clang clang++ || exit 2
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
targets=${FUZZ_TARGETS:-$(cd fuzz && ls ./*_fuzz.cpp | sed -e 's|^\./||' -e 's|\.cpp$||')}

mkdir -p "$build"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCOMPACTADOR_FUZZ=ON -DCOMPACTADOR_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS= \
    -DCOMPACTADOR_BUILD_GUI=OFF -DCOMPACTADOR_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
# shellcheck disable=SC2086
CCACHE_BASEDIR=$PWD nice cmake --build "$build" -j"$(nproc)" --target $targets >"$build/fuzz_build.log" 2>&1 ||
    { tail -30 "$build/fuzz_build.log"; echo "fuzz_short: the fuzz targets do not build"; exit 2; }

# Inputs are patch programs of at most 8 patches of 255 bytes over the bases (fuzz_support.h);
# open_read's also whole files; repair's damage programs are shorter.
max_len() {
    case $1 in
        repair_fuzz) echo 256 ;;
        lock_file_fuzz) echo 20000 ;;
        open_read_fuzz) echo 32768 ;;
        *) echo 2100 ;;
    esac
}

# The sanitizers as the runs use them: leaks reported, the first error fatal; a smaller
# quarantine than the default, no allocation stacks and no filling of new blocks keep the runs
# fast (a fifth of the time went into recording where each block was allocated and filling
# it). The quarantine of 8 MB still holds more than one execution frees (repair_fuzz, the
# largest, about 2.3 MB; the others 0.2 MB), so a block used after its free within the
# execution is still found; the default's 256 MB, or even 32, only makes each new block cold
# in the cache (a tenth of the time). Every error is still found; the command printed to
# reproduce a finding records the stacks (replay_options).
export ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=8:malloc_context_size=0:max_malloc_fill_size=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
replay_options=detect_leaks=1:malloc_context_size=30
# libFuzzer's default schedule (entropic) weighs every feature of every execution, a fifth of
# the time of these targets, whose executions each reach thousands of features; without it
# the runs make a quarter more executions and reach as many edges in the same time.
schedule=(-entropic=0)

# The CPU time (user and system, in ms) of the children this shell waited for: the machine
# is shared, so the executions per second of CPU say more than those per second of the clock.
# (`times` run here, not in a subshell, whose children would be none; its second line.)
children_cpu() {
    times >"$build/times"
    awk 'NR == 2 { n = 0; for (i = 1; i <= 2; i++) { split($i, p, "m"); n += p[1] * 60 + p[2] }
                   printf "%d", n * 1000 }' "$build/times"
}

status=0
summary=()
for target in $targets; do
    binary=$build/fuzz/$target
    corpus=$corpora/$target
    found=$build/found/$target  # what this run adds, merged into the corpus after it
    rm -rf "$found" "$corpus.merged"
    mkdir -p "$corpus" "$found"
    dirs=()
    for d in fuzz/regressions/$target fuzz/seeds/$target; do [[ -d $d ]] && dirs+=("$d"); done
    out=$build/$target.log
    touch "$build/$target.start"
    rc=0
    children_cpu >"$build/cpu_before"
    "$binary" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 "${schedule[@]}" \
        -max_len="$(max_len "$target")" -dict=fuzz/jet.dict -artifact_prefix="$build/$target-" \
        "$found" "$corpus" "${dirs[@]}" >"$out" 2>&1 || rc=$?
    children_cpu >"$build/cpu_after"
    cpu=$(($(cat "$build/cpu_after") - $(cat "$build/cpu_before")))
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$out" | grep -o '[0-9]*$' || echo '?')
    rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$out" | grep -o '[0-9]*$' || echo '?')
    # What the run found joins the corpus, minimised: only inputs that add coverage stay.
    # (The inputs libFuzzer kept are not the finding's: those go to artifacts.)
    mkdir -p "$corpus.merged"
    if "$binary" -merge=1 -max_len="$(max_len "$target")" "$corpus.merged" "$corpus" "$found" \
        >"$build/$target.merge.log" 2>&1; then
        rm -rf "$corpus"
        mv "$corpus.merged" "$corpus"
    else
        echo "fuzz_short: $target: the merge failed (see $build/$target.merge.log); corpus kept"
        rm -rf "$corpus.merged"
    fi
    units=$(find "$corpus" -type f | wc -l)
    if [[ $rc != 0 ]]; then
        status=1
        artifact=$(find "$build" -maxdepth 1 -newer "$build/$target.start" -regex ".*/$target-\(crash\|leak\|timeout\|oom\)-.*" | head -1)
        summary+=("$target: FOUND SOMETHING (exit $rc) after $runs executions; log $out")
        grep -m5 -E 'ERROR|runtime error|_fuzz:|fuzz_support:' "$out" || true
        if [[ -n $artifact ]]; then
            echo "fuzz_short: $target: the input is $artifact; to reproduce (from $PWD):"
            echo "  ASAN_OPTIONS=$replay_options UBSAN_OPTIONS=$UBSAN_OPTIONS $binary $artifact"
            echo "fuzz_short: once fixed, keep it as a regression (replayed by ctest):"
            echo "  cp $artifact fuzz/regressions/$target/$(basename "$artifact" | sed 's/^.*-\(crash\|leak\|timeout\|oom\)-/\1-/').seed"
        fi
    else
        per_cpu='?'
        [[ $runs =~ ^[0-9]+$ ]] && ((cpu > 0)) && per_cpu=$((runs * 1000 / cpu))
        summary+=("$target: $runs executions in ${seconds}s ($rate/s; $per_cpu per second of CPU), nothing found, corpus $units inputs, load $(cut -d' ' -f1-3 /proc/loadavg)")
    fi
    if [[ ${FUZZ_RESEED:-0} = 1 ]]; then
        seeds=fuzz/seeds/$target
        rm -rf "$build/reseed"
        mkdir -p "$build/reseed" "$seeds"
        if "$binary" -merge=1 -max_len="$(max_len "$target")" "$build/reseed" "$seeds" "$corpus" \
            >"$build/$target.reseed.log" 2>&1 && [[ -n $(find "$build/reseed" -type f) ]]; then
            rm -f "$seeds"/*
            for f in "$build/reseed"/*; do mv "$f" "$seeds/$(basename "$f").seed"; done
            summary+=("$target: seeds re-minimised: $(find "$seeds" -type f | wc -l) in $seeds")
        else
            summary+=("$target: seeds NOT re-minimised (see $build/$target.reseed.log)")
            status=1
        fi
    fi
    rm -rf "$found"
done
printf 'fuzz_short: %s\n' "${summary[@]}"
exit $status
