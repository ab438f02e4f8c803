#!/usr/bin/env bash
# Crash sweep of the maintenance run, kept out of the unit suite.
#
# Runs the real run again and again with nobody at the window (tests/app/driver/run_driver:
# the form on a window with no toolkit, over the real file system, every box answered OK) and
# kills it with SIGKILL at a random instant of each run. After every kill, one of these must hold:
#   - the database's place holds a database whose content (mdb-export of every table, lines
#     sorted) equals the original's; or
#   - the run's log file names the backups to restore (its warning line) and at least one of
#     them is intact (the same content as the original).
# Anything else is a failure. The sweep prints the trials, how many kills landed while the run
# was still going, and the failures; it exits 1 when there is a failure.
#
# Usage:
#   cmake --build build --target run_driver jetutil
#   tests/crash_sweep.sh [BUILD_DIR [TRIALS]]          # defaults: build 200
# Environment:
#   CRASH_SWEEP_ROWS=N    rows of the sample database (default 20000; a run of a few seconds)
#   CRASH_SWEEP_JET3=1    a Jet 3 sample instead of Jet 4
#   CRASH_SWEEP_KEEP=1    keep the folders of failing trials (their paths are printed)
# Needs mdbtools (mdb-tables, mdb-export).
set -euo pipefail

build=${1:-build}
trials=${2:-200}
rows=${CRASH_SWEEP_ROWS:-20000}
version=--jet4
[[ ${CRASH_SWEEP_JET3:-0} == 1 ]] && version=--jet3
. "$(dirname "$0")/sweep_util.sh"  # sweep_tools, dump
sweep_tools "$build"

work=$(mktemp -d /tmp/crash_sweep.XXXXXX)
trap '[[ ${CRASH_SWEEP_KEEP:-0} == 1 ]] || rm -rf "$work"' EXIT

"$jetutil" create-sample $version --rows "$rows" --bloat "$work/original.mdb" >/dev/null
mkdir -p "$work/clients"
"$jetutil" create-fixtures $version "$work/clients" >/dev/null
dump "$work/original.mdb" >"$work/original.dump"
echo "sample: $rows rows, $(stat -c %s "$work/original.mdb") bytes"

# A fresh folder for one run: the database and its client databases, and a program folder.
prepare() {
    local dir=$1
    rm -rf "$dir"
    mkdir -p "$dir/dados" "$dir/programa"
    cp "$work/original.mdb" "$dir/dados/base.mdb"
    cp "$work/clients/tavo.mdb" "$work/clients/tavo1.mdb" "$dir/dados/"
}

# Checks the state a run left in `dir`; prints why it is wrong and returns 1 when it is.
check() {
    local dir=$1 base=$1/dados/base.mdb log backups backup
    if [[ -f $base ]]; then
        # The same bytes need no export.
        if cmp -s "$base" "$work/original.mdb"; then return 0; fi
        if cmp -s <(dump "$base") "$work/original.dump"; then return 0; fi
        echo "the database's place holds other content"
        return 1
    fi
    log=$(ls "$dir"/programa/Log*.txt 2>/dev/null | head -1)
    if [[ -z $log ]]; then
        echo "no database in its place and no log"
        return 1
    fi
    # The warning: "... RESTAURE O ARQUIVO <copy> OU <extra copy> COMO <database>".
    backups=$(grep -a -o 'RESTAURE O ARQUIVO .* COMO ' "$log" | tail -1 |
        sed -e 's/^RESTAURE O ARQUIVO //' -e 's/ COMO $//' -e 's/ OU /\n/')
    if [[ -z $backups ]]; then
        echo "no database in its place and no backups named in the log"
        return 1
    fi
    while IFS= read -r backup; do
        [[ -f $backup ]] || continue
        if cmp -s "$backup" "$work/original.mdb"; then return 0; fi
        if cmp -s <(dump "$backup") "$work/original.dump"; then return 0; fi
    done <<<"$backups"
    echo "no database in its place and none of the backups the log names is intact"
    return 1
}

# Calibration: one whole run, to know how long a run lasts and that it ends well.
prepare "$work/calibration"
start=$(date +%s%N)
status=0
"$driver" "$work/calibration/programa" "$work/calibration/dados/base.mdb" >/dev/null 2>&1 ||
    status=$?
duration_ms=$((($(date +%s%N) - start) / 1000000))
echo "uninterrupted run: exit $status, $duration_ms ms, last log line:" \
    "$(tail -1 "$work"/calibration/programa/Log*.txt | tr -d '\r' | cut -c25-)"
check "$work/calibration" || { echo "the uninterrupted run fails the check" >&2; exit 1; }

failures=0
landed=0
for ((i = 1; i <= trials; i++)); do
    dir=$work/trial
    prepare "$dir"
    # An instant anywhere in the run, a little past its usual end included.
    delay_ms=$((RANDOM * 32768 + RANDOM))
    delay_ms=$((delay_ms % (duration_ms * 11 / 10 + 1)))
    "$driver" "$dir/programa" "$dir/dados/base.mdb" >/dev/null 2>&1 &
    pid=$!
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill -KILL "$pid" 2>/dev/null || true
    status=0
    wait "$pid" 2>/dev/null || status=$?
    ((status == 128 + 9)) && landed=$((landed + 1))  # it was still running
    if ! reason=$(check "$dir"); then
        failures=$((failures + 1))
        echo "trial $i (killed at $delay_ms ms): $reason"
        if [[ ${CRASH_SWEEP_KEEP:-0} == 1 ]]; then
            mv "$dir" "$work/failed_$i"
            echo "  kept in $work/failed_$i"
        fi
    fi
    ((i % 25 == 0)) && echo "... $i trials, $landed kills mid-run, $failures failures"
done
echo "crash sweep: $trials trials, $landed kills landed mid-run, $failures failures"
((failures == 0))
