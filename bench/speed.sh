#!/usr/bin/env bash
# The speed benchmark: compaction, repair of a healthy file and the whole maintenance run, each
# against a plain copy of the same file, on bloated Jet 4 and Jet 3 samples.
#
# Every work is paired with its copy and the pairs alternate (A B A B ...) after one warm-up
# pair, so that the page cache, the disk and the other load of the machine fall alike on both
# sides; the figure is the median of the pairwise ratios A / B, with the median times of both
# sides and the peak resident memory of A (GNU time). The sample is read through once before
# each side, outside the clock, so that both start from it in the page cache: a machine that
# reclaims cold file pages on its own (DAMON's pageout, as on our VMs) would otherwise hand
# either side a sample partly on the disk, at random. On a machine that others load, the wall
# times follow the load: the CPU times (user + system) of both sides and the median of their
# pairwise ratios are printed as well.
#
#   compaction   jetutil compact --quiet SAMPLE OUT      against  cp SAMPLE COPY
#   repair       jetutil repair --quiet WORK             against  cp SAMPLE COPY
#                (WORK is a fresh copy of the sample each time, made and synced before the
#                clock starts)
#   run          run_driver PROGRAM_FOLDER DATABASE      against  cp SAMPLE COPY; sync COPY
#                (a class-1 run: two backups, the move, the repair, the compaction and the
#                replacement; a fresh folder each time, made and synced before the clock
#                starts)
#   backups      the run's two backups as it makes them (jetutil copy, which syncs, twice)
#                                                        against  cp SAMPLE COPY; sync COPY
#                and, after a run was measured, what share of the run's median they take
#
# Goals: compaction <= 2x cp; the whole run <= 4x (cp + sync); peak RSS <= 128 MB for 1 GB.
#
# usage: bench/speed.sh BUILD_DIR [WORKDIR]   (a release build: jetutil and run_driver)
#   SPEED_MB       sizes of the samples in MB, e.g. "300 1024" (default 300)
#   SPEED_VERSIONS "jet4 jet3" (default both)
#   SPEED_WORKS    "compact repair run backups" (default all four)
#   SPEED_PAIRS    measured pairs per work (default 5; at least 5 make a median worth quoting)
# Needs about 5x the largest size free in WORKDIR (default /tmp); everything made is removed.
set -euo pipefail
build=${1:?usage: speed.sh BUILD_DIR [WORKDIR]}
jetutil=$build/tools/jetutil
driver=$build/tests/app/run_driver
for f in "$jetutil" "$driver"; do
    [[ -x $f ]] || { echo "missing $f (cmake --build $build --target jetutil run_driver)" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 2; }
pairs=${SPEED_PAIRS:-5}
work=$(mktemp -d "${2:-/tmp}/speed-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs one command and prints "SECONDS PEAK_RSS_KB CPU_SECONDS" (CPU: user + system); a
# failure stops the benchmark.
measure() {
    local start end
    start=$(date +%s%N)
    if ! /usr/bin/time -f '%M %U %S' -o "$work/rss" "$@" >"$work/out" 2>"$work/err"; then
        echo "failed: $*" >&2
        cat "$work/out" "$work/err" >&2
        exit 1
    fi
    end=$(date +%s%N)
    echo "$(awk -v n=$((end - start)) 'BEGIN { printf "%.4f", n / 1e9 }')" \
        "$(tail -1 "$work/rss" | awk '{ printf "%d %.2f", $1, $2 + $3 }')"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Rows for a file of about MB megabytes, from the size of a small sample of the same kind.
rows_for() {
    local version=$1 mb=$2 probe=$work/probe.mdb bytes
    "$jetutil" create-sample "--$version" --rows 20000 --bloat "$probe" >/dev/null
    bytes=$(stat -c %s "$probe")
    rm -f "$probe"
    echo $((mb * 1024 * 1024 / (bytes / 20000)))
}

# One side of one pair of WORK on SAMPLE: prints "SECONDS PEAK_RSS_KB CPU_SECONDS".
side_a() {
    local what=$1 sample=$2
    cat "$sample" >/dev/null
    case $what in
    compact)
        rm -f "$work/out.mdb"
        measure "$jetutil" compact --quiet "$sample" "$work/out.mdb"
        rm -f "$work/out.mdb"
        ;;
    repair)
        cp "$sample" "$work/repair.mdb"
        sync "$work/repair.mdb"  # its writing back is the copy's, not the repair's
        measure "$jetutil" repair --quiet "$work/repair.mdb"
        rm -f "$work/repair.mdb"
        ;;
    run)
        rm -rf "$work/run"
        mkdir -p "$work/run/dados" "$work/run/programa"
        cp "$sample" "$work/run/dados/base.mdb"
        cp "$work/clients/tavo.mdb" "$work/clients/tavo1.mdb" "$work/run/dados/"
        # On the disk before the clock starts, as a user's database is: the kernel would
        # otherwise write this copy back while the run syncs its own files.
        sync "$work/run/dados/base.mdb" "$work/run/dados/tavo.mdb" "$work/run/dados/tavo1.mdb"
        measure "$driver" "$work/run/programa" "$work/run/dados/base.mdb"
        grep -aq "Processo Concluido" "$work/out" || { echo "the run did not succeed" >&2; cat "$work/out" >&2; exit 1; }
        rm -rf "$work/run"
        ;;
    backups)
        rm -f "$work/backup1.mdb" "$work/backup2.mdb"
        measure bash -c '"$1" copy "$2" "$3" && "$1" copy "$2" "$4"' backups \
            "$jetutil" "$sample" "$work/backup1.mdb" "$work/backup2.mdb"
        rm -f "$work/backup1.mdb" "$work/backup2.mdb"
        ;;
    esac
}

side_b() {
    local what=$1 sample=$2 cp_s sync_s rss cpu sync_cpu
    cat "$sample" >/dev/null
    rm -f "$work/copy.mdb"
    read -r cp_s rss cpu < <(measure cp "$sample" "$work/copy.mdb")
    if [[ $what == run || $what == backups ]]; then
        read -r sync_s _ sync_cpu < <(measure sync "$work/copy.mdb")
        cp_s=$(awk -v a="$cp_s" -v b="$sync_s" 'BEGIN { printf "%.4f", a + b }')
        cpu=$(awk -v a="$cpu" -v b="$sync_cpu" 'BEGIN { printf "%.2f", a + b }')
    fi
    rm -f "$work/copy.mdb"
    echo "$cp_s $rss $cpu"
}

bench() {
    local what=$1 sample=$2 label=$3 i a b rss cpu bcpu ratios=() as=() bs=() cpus=() bcpus=()
    local cpu_ratios=() peak=0 out
    side_a "$what" "$sample" >/dev/null  # warm-up pair
    side_b "$what" "$sample" >/dev/null
    for ((i = 1; i <= pairs; i++)); do
        # Each side ends (its files removed) before the other starts.
        out=$(side_a "$what" "$sample")
        read -r a rss cpu <<<"$out"
        out=$(side_b "$what" "$sample")
        read -r b _ bcpu <<<"$out"
        as+=("$a")
        bs+=("$b")
        cpus+=("$cpu")
        bcpus+=("$bcpu")
        cpu_ratios+=("$(awk -v a="$cpu" -v b="$bcpu" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')")
        ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }')")
        ((rss > peak)) && peak=$rss
    done
    local base=cp
    [[ $what == run || $what == backups ]] && base="cp+sync"
    printf '%-22s %-7s median %6.2fx  (%s %.3f s, %s %.3f s; ratios %s)  peak RSS %.1f MB\n' \
        "$label" "$what" "$(printf '%s\n' "${ratios[@]}" | median)" \
        "$what" "$(printf '%s\n' "${as[@]}" | median)" "$base" "$(printf '%s\n' "${bs[@]}" | median)" \
        "${ratios[*]}" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')"
    printf '%-22s %-7s CPU    %6.2fx  (%s %.2f s, %s %.2f s)\n' "" "" \
        "$(printf '%s\n' "${cpu_ratios[@]}" | median)" "$what" "$(printf '%s\n' "${cpus[@]}" | median)" \
        "$base" "$(printf '%s\n' "${bcpus[@]}" | median)"
    local median_a
    median_a=$(printf '%s\n' "${as[@]}" | median)
    [[ $what == run ]] && run_median=$median_a
    if [[ $what == backups && -n ${run_median:-} ]]; then
        printf '%-22s %-7s share  %5.0f%%   of the whole run (%.3f s of %.3f s)\n' "" "" \
            "$(awk -v a="$median_a" -v r="$run_median" 'BEGIN { print 100 * a / r }')" \
            "$median_a" "$run_median"
    fi
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

for version in ${SPEED_VERSIONS:-jet4 jet3}; do
    mkdir -p "$work/clients"
    "$jetutil" create-fixtures "--$version" "$work/clients" >/dev/null
    for mb in ${SPEED_MB:-300}; do
        rows=$(rows_for "$version" "$mb")
        sample=$work/sample.mdb
        "$jetutil" create-sample "--$version" --rows "$rows" --bloat "$sample" >/dev/null
        sync "$sample"
        label="$version bloated $((($(stat -c %s "$sample") + 524288) / 1048576)) MB"
        run_median=
        for what in ${SPEED_WORKS:-compact repair run backups}; do bench "$what" "$sample" "$label"; done
        rm -f "$sample"
    done
    rm -rf "$work/clients"
done
