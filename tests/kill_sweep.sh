#!/usr/bin/env bash
# Kill sweep at scale: whole maintenance runs (tests/app/driver/run_driver, the form on a window
# with no toolkit over the real file system, every box answered OK) killed with SIGKILL at
# moments spread over every stage of the run, in four runs of the program:
#   class1      a healthy Jet 4 database: flag update, backups, move, repair, compaction,
#               replacement, flag update again
#   class2      a Jet 3 database at its maximum size: the same without the repair
#   class1-back a Jet 3 database whose compaction fails on a full disk: the backup is restored
#   class2-back a Jet 4 database at its maximum size, its compaction failing the same way
# A calibration run of each records every file operation (RUN_DRIVER_TRACE) and, by the log
# line written before it, the stage it belongs to. Each trial then picks the stages in turn
# and a random operation of the stage, and the run kills itself with SIGKILL just before that
# operation (RUN_DRIVER_KILL_AT): every stage is hit, the instantaneous ones (a move) as often
# as the long ones. The stage a kill landed in is read back from the log the trial left.
# After every kill, one of these must hold:
#   - the database's place holds a database with the original's content (bytes, or mdb-export
#     of every table) or, once the run has replaced it, the compacted database's;
#   - the place is empty and the log's warning names a backup with the original's content;
# and each client database passes `jetutil check` with every flag at 0 or at the lock.
# Prints the trials, the kills per stage and the failures; exits 1 on a failure.
#
# usage: tests/kill_sweep.sh [BUILD_DIR [TRIALS_PER_RUN]]     (defaults build/debug, 250)
# Environment: KILL_SWEEP_ROWS (sample rows, default 2000), KILL_SWEEP_KEEP=1 (keep the
# folders of failing trials). Needs mdbtools.
set -euo pipefail

build=${1:-build/debug}
per_run=${2:-250}
rows=${KILL_SWEEP_ROWS:-2000}
. "$(dirname "$0")/sweep_util.sh"  # sweep_tools, dump
sweep_tools "$build"
unset RUN_DRIVER_TRACE RUN_DRIVER_KILL_AT RUN_DRIVER_FAIL RUN_DRIVER_FULL

work=$(mktemp -d /tmp/kill_sweep.XXXXXX)
trap '[[ ${KILL_SWEEP_KEEP:-0} == 1 ]] || rm -rf "$work"' EXIT

# The stage a log line opens (the message after "dd/mm/yyyy - hh:mm:ss - "); "" when the line
# opens none.
stage_of_line() {
    case $1 in
        *"Alterando o Sistema"*"(-1)."*) echo lock ;;
        *"Fazendo Copia de Seguranca para"*compac01E_*) echo extra-backup ;;
        *"Fazendo Copia de Seguranca para"*compac01_*) echo backup ;;
        *"Renoemando Arquivo para"*) echo move ;;
        *"Reparando Banco de Dados"*) echo repair ;;
        *"Compactando Banco de Dados"*) echo compaction ;;
        *"Restaurando Arquivo."*) echo replacement ;;
        *"Voltando Backup"*) echo restore ;;
        *"Alterando o Sistema"*"(0)."*) echo unlock ;;
        *"Processo Concluido"* | *"O Arquivo Não pode ser Reparado"*) echo end ;;
        *) echo "" ;;
    esac
}
# The stage a trial's log shows it was in: that of the last line opening one.
stage_of_log() {
    local stage=start line s
    [[ -f $1 ]] || { echo start; return; }
    while IFS= read -r line; do
        s=$(stage_of_line "$(iconv -f WINDOWS-1252 -t UTF-8 <<<"$line" 2>/dev/null || echo "$line")")
        [[ -n $s ]] && stage=$s
    done < <(tr -d '\r' <"$1")
    echo "$stage"
}

# The inputs of one run of the program: a database, its client databases, the environment.
setup_run() {
    local name=$1 version=$2
    local dir=$work/inputs/$name
    mkdir -p "$dir/clients"
    "$jetutil" create-sample "$version" --rows "$rows" --bloat "$dir/original.mdb" >/dev/null
    "$jetutil" create-fixtures "$version" "$dir/clients" >/dev/null
    dump "$dir/original.mdb" >"$dir/original.dump"
}
prepare() {
    local inputs=$1 dir=$2
    rm -rf "$dir"
    mkdir -p "$dir/dados" "$dir/programa"
    cp "$inputs/original.mdb" "$dir/dados/base.mdb"
    cp "$inputs/clients/tavo.mdb" "$inputs/clients/tavo1.mdb" "$dir/dados/"
}
# The environment of each run of the program.
run_env() {
    case $1 in
        class1) echo "" ;;
        class2) echo "RUN_DRIVER_FULL=1" ;;
        class1-back) echo "RUN_DRIVER_FAIL=compac03_" ;;
        class2-back) echo "RUN_DRIVER_FULL=1 RUN_DRIVER_FAIL=compac03_" ;;
    esac
}

# Checks what a kill left in `dir`; prints why it is wrong and returns 1 when it is.
check() {
    local inputs=$1 dir=$2 log backups backup client flags
    local base=$dir/dados/base.mdb
    for client in tavo tavo1; do
        "$jetutil" check "$dir/dados/$client.mdb" >/dev/null 2>&1 ||
            { echo "$client.mdb fails the checker"; return 1; }
        flags=$("$jetutil" export "$dir/dados/$client.mdb" tavo 2>/dev/null | tail -n +2 |
            awk -F, '{print $NF}' | sort -u | tr '\n' ' ')
        [[ $flags =~ ^((0|-1|1|True|False|\"0\"|\"-1\")\ )+$ ]] ||
            { echo "$client.mdb holds the flags '$flags'"; return 1; }
    done
    if [[ -f $base ]]; then
        cmp -s "$base" "$inputs/original.mdb" && return 0
        [[ -f $inputs/compacted.mdb ]] && cmp -s "$base" "$inputs/compacted.mdb" && return 0
        cmp -s <(dump "$base") "$inputs/original.dump" && return 0
        echo "the database's place holds other content"
        return 1
    fi
    log=$(ls "$dir"/programa/Log*.txt 2>/dev/null | head -1)
    [[ -n $log ]] || { echo "no database in its place and no log"; return 1; }
    backups=$(grep -a -o 'RESTAURE O ARQUIVO .* COMO ' "$log" | tail -1 |
        sed -e 's/^RESTAURE O ARQUIVO //' -e 's/ COMO $//' -e 's/ OU /\n/')
    [[ -n $backups ]] || { echo "no database in its place and no backups named in the log"; return 1; }
    while IFS= read -r backup; do
        [[ -f $backup ]] || continue
        cmp -s "$backup" "$inputs/original.mdb" && return 0
        cmp -s <(dump "$backup") "$inputs/original.dump" && return 0
    done <<<"$backups"
    echo "no database in its place and none of the backups the log names is intact"
    return 1
}

runs=(class1 class2 class1-back class2-back)
declare -A version=([class1]=--jet4 [class2]=--jet3 [class1-back]=--jet3 [class2-back]=--jet4)
declare -A kills_per_stage=()
total=0
failures=0
start_time=$(date +%s)
for run in "${runs[@]}"; do
    inputs=$work/inputs/$run
    setup_run "$run" "${version[$run]}"
    # Calibration: the whole run, traced.
    dir=$work/calibration-$run
    prepare "$inputs" "$dir"
    status=0
    env $(run_env "$run") RUN_DRIVER_TRACE="$dir/trace" \
        "$driver" "$dir/programa" "$dir/dados/base.mdb" >/dev/null 2>&1 || status=$?
    expected=0
    [[ $run == *-back ]] && expected=1
    ((status == expected)) || { echo "$run: the calibration run exits $status" >&2; exit 1; }
    [[ $run == *-back ]] || cp "$dir/dados/base.mdb" "$inputs/compacted.mdb"
    # Each operation's stage: that of the last log line written before it.
    declare -A first=() last=()
    stage=start
    operations=0
    while IFS= read -r entry; do
        [[ $entry =~ ^[0-9]+\  ]] || continue  # the end of a log line's text
        n=${entry%% *}
        first[$stage]=${first[$stage]:-$n}
        last[$stage]=$n
        operations=$n
        if [[ $entry == *$'\t'* ]]; then
            s=$(stage_of_line "$(iconv -f WINDOWS-1252 -t UTF-8 <<<"${entry#*$'\t'}" 2>/dev/null)")
            [[ -n $s ]] && stage=$s
        fi
    done < <(tr -d '\r' <"$dir/trace")
    stages=("${!first[@]}")
    summary=""
    for s in "${stages[@]}"; do summary+=" $s:${first[$s]}-${last[$s]}"; done
    echo "$run (${version[$run]}, $rows rows): $operations operations;$summary"

    for ((i = 0; i < per_run; i++)); do
        s=${stages[i % ${#stages[@]}]}
        lo=${first[$s]}
        hi=${last[$s]}
        # Kill just before an operation of the stage (the one after its last included, so a
        # kill can also land once the stage's last operation is done).
        at=$((lo + 1 + (RANDOM * 32768 + RANDOM) % (hi - lo + 1)))
        ((at > operations)) && at=$operations
        dir=$work/trial
        prepare "$inputs" "$dir"
        status=0
        # The shell's own report of the kill is silenced with the run's output.
        { (env $(run_env "$run") RUN_DRIVER_KILL_AT=$at \
            "$driver" "$dir/programa" "$dir/dados/base.mdb") >/dev/null 2>&1 || status=$?; } 2>/dev/null
        total=$((total + 1))
        landed=$(stage_of_log "$(ls "$dir"/programa/Log*.txt 2>/dev/null | head -1)")
        ((status == 128 + 9)) || landed="$landed (not killed: exit $status)"
        kills_per_stage[$landed]=$((${kills_per_stage[$landed]:-0} + 1))
        if ! reason=$(check "$inputs" "$dir"); then
            failures=$((failures + 1))
            echo "$run trial $i (killed before operation $at, stage $landed): $reason"
            if [[ ${KILL_SWEEP_KEEP:-0} == 1 ]]; then
                mv "$dir" "$work/failed-$run-$i"
                echo "  kept in $work/failed-$run-$i"
            fi
        fi
    done
    unset first last
    echo "... $total trials, $failures failures, $(($(date +%s) - start_time)) s"
done
echo "kills per stage:"
for s in "${!kills_per_stage[@]}"; do printf '  %-40s %d\n' "$s" "${kills_per_stage[$s]}"; done | sort
echo "kill sweep: $total trials, $failures failures, $(($(date +%s) - start_time)) s"
((failures == 0))
