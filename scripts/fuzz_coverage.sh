#!/usr/bin/env bash
# How much of the engine the fuzz targets reach: builds them with clang's source-based
# coverage (no sanitizers), runs each once over its kept inputs (fuzz/seeds/<target>/ and
# fuzz/regressions/<target>/; with --corpus also the corpus the short runs learned), and prints
# the line coverage of each layer of jet/ by all targets together, then of each target alone.
#
# usage: scripts/fuzz_coverage.sh [--corpus] [BUILD_DIR]     (default build-coverage)
# Environment: FUZZ_CORPUS_DIR (with --corpus; default build-fuzz/corpus), FUZZ_TARGETS.
# The merged profile stays in BUILD_DIR/profiles/all.profdata, for `llvm-cov show`.
set -euo pipefail
cd "$(dirname "$0")/.."
with_corpus=0
if [[ ${1:-} == --corpus ]]; then
    with_corpus=1
    shift
fi
build=${1:-build-coverage}
corpora=${FUZZ_CORPUS_DIR:-build-fuzz/corpus}
scripts/deps.sh --require clang clang++ llvm-profdata llvm-cov
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
targets=${FUZZ_TARGETS:-$(cd fuzz && ls ./*_fuzz.cpp | sed -e 's|^\./||' -e 's|\.cpp$||')}

mkdir -p "$build"
flags="-fprofile-instr-generate -fcoverage-mapping"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCOMPACTADOR_FUZZ=ON -DCOMPACTADOR_SANITIZE=OFF \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
    -DCOMPACTADOR_BUILD_GUI=OFF -DCOMPACTADOR_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
# shellcheck disable=SC2086
CCACHE_BASEDIR=$PWD nice cmake --build "$build" -j"$(nproc)" --target $targets >"$build/build.log" 2>&1 ||
    { tail -30 "$build/build.log"; echo "fuzz_coverage: the fuzz targets do not build"; exit 2; }

profiles=$build/profiles
rm -rf "$profiles"
mkdir -p "$profiles"
objects=()
for target in $targets; do
    dirs=()
    for d in fuzz/seeds/$target fuzz/regressions/$target; do [[ -d $d ]] && dirs+=("$d"); done
    if ((with_corpus)) && [[ -d $corpora/$target ]]; then dirs+=("$corpora/$target"); fi
    inputs=$(find "${dirs[@]}" -type f | wc -l)
    # -runs=0: each input of the folders once, no fuzzing.
    LLVM_PROFILE_FILE="$profiles/$target.%p.profraw" "$build/fuzz/$target" -runs=0 "${dirs[@]}" \
        >"$profiles/$target.log" 2>&1 ||
        { tail -20 "$profiles/$target.log"; echo "fuzz_coverage: $target failed on its inputs"; exit 1; }
    llvm-profdata merge -sparse "$profiles/$target".*.profraw -o "$profiles/$target.profdata"
    echo "fuzz_coverage: $target ran $inputs inputs"
    objects+=("$build/fuzz/$target")
done
parts=()
for target in $targets; do parts+=("$profiles/$target.profdata"); done
llvm-profdata merge -sparse -o "$profiles/all.profdata" "${parts[@]}"

# Lines covered and lines in all, per layer of jet/ (its folders but testing/), from the
# report's per-file table: its columns are found by name in the header.
layers() {
    local profile=$1
    shift
    local first=$1
    shift
    local more=()
    local o
    for o in "$@"; do more+=(-object "$o"); done
    # File names come relative to the build folder (../jet/read/checker.cpp): a layer's files
    # are those right under jet/<layer>/.
    llvm-cov report "$first" "${more[@]}" -instr-profile="$profile" 2>>"$profiles/llvm-cov.log" |
        awk '
            /^Filename/ {
                # "Missed Regions" and the like are one column of two words.
                n = 0
                for (i = 1; i <= NF; i++) { if ($i == "Missed") { i++; name = "Missed " $i } else name = $i
                    n++; if (name == "Lines") lines = n; if (name == "Missed Lines") missed = n }
                next
            }
            {
                at = index($1, "jet/")
                if (at == 0 || (at > 1 && substr($1, at - 1, 1) != "/")) next
                if (split(substr($1, at + 4), parts, "/") != 2 || parts[1] == "testing") next
                total[parts[1]] += $lines; miss[parts[1]] += $missed
            }
            END { for (l in total) printf "%s %d %d\n", l, total[l] - miss[l], total[l] }' |
        sort
}

echo
echo "Line coverage of jet/ by the fuzz targets' kept inputs, per layer:"
layers "$profiles/all.profdata" "${objects[@]}" >"$profiles/all.txt"
[[ -s $profiles/all.txt ]] ||
    { echo "fuzz_coverage: the report names no file of jet/: nothing measured"; exit 1; }
printf '  %-10s %8s %8s %7s\n' layer covered lines cover
awk '{ printf "  %-10s %8d %8d %6.1f%%\n", $1, $2, $3, $3 ? 100 * $2 / $3 : 0; c += $2; t += $3 }
     END { printf "  %-10s %8d %8d %6.1f%%\n", "all", c, t, t ? 100 * c / t : 0 }' "$profiles/all.txt"
echo
echo "Per target (lines covered / lines of the layer):"
header=$(awk '{ printf " %9s", $1 }' "$profiles/all.txt")
printf '  %-16s%s\n' target "$header"
for target in $targets; do
    layers "$profiles/$target.profdata" "$build/fuzz/$target" >"$profiles/$target.txt"
    # The same layers in the same order; a layer the binary does not hold counts nothing.
    row=$(awk 'NR == FNR { cov[$1] = $2; next } { printf " %8.1f%%", $3 ? 100 * cov[$1] / $3 : 0 }' \
        "$profiles/$target.txt" "$profiles/all.txt")
    printf '  %-16s%s\n' "$target" "$row"
done
