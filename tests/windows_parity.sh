#!/bin/bash
# Compares the Windows jetutil.exe, run by Wine, with the Linux jetutil on every file of the
# shared corpus: info, tables, schema, check and the CSV export of every table must print the
# same bytes and end with the same status, and compact must write the same file byte for
# byte. The Windows side is always given drive-letter paths with backslashes (Wine's Z: is
# the Unix root); one readable file is also copied under a folder and a name outside ASCII and
# compacted there, beside itself. Files neither build can read must fail alike.
#
# usage: tests/windows_parity.sh [LINUX_JETUTIL [WINDOWS_JETUTIL [CORPUS]]]
#   defaults: build/debug/tools/jetutil, build/windows/tools/jetutil.exe, ../shared/corpus
# Skips (exit 0) when either program or the corpus is missing; fails (exit 2) without Wine. Prints one line per
# difference and ends with "windows parity: N passed, N failed"; exit 1 on any difference.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
linux=${1:-$root/build/debug/tools/jetutil}
windows=${2:-$root/build/windows/tools/jetutil.exe}
corpus=${3:-$root/../shared/corpus}

skip() {
    echo "windows parity: skipped ($*)"
    exit 0
}
"$root/scripts/deps.sh" --require wine wineserver || exit 2
[ -x "$linux" ] || skip "no Linux jetutil at $linux"
[ -f "$windows" ] || skip "no Windows build at $windows"
[ -d "$corpus" ] || skip "no corpus at $corpus"
linux=$(realpath "$linux")
windows=$(realpath "$windows")
corpus=$(realpath "$corpus")
export WINEDEBUG=${WINEDEBUG:--all}
# One Wine server for the whole comparison: one that quits when idle (after 3 s) may still be
# quitting when the next program starts, which then ends with status 1 and prints nothing.
wineserver -p15 2> /dev/null || true

work=$(mktemp -d "${TMPDIR:-/tmp}/windows-parity.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT

. "$root/tests/wine_util.sh"  # winpath

# The password of a corpus file, as the corpus tests find it: "password 'xyz'" in the
# manifest's notes, or "password" for the samples named "with-password".
password_of() {
    local name=$1 notes
    notes=$(awk -F'\t' -v f="$name" '$1 == f { print $12 }' "$corpus/MANIFEST.tsv" 2> /dev/null)
    if [[ $notes =~ password\ \'([^\']*)\' ]]; then
        printf '%s' "${BASH_REMATCH[1]}"
    elif [[ $name == *with-password* ]]; then
        printf 'password'
    fi
}

passed=0
failed=0
retried=0
# same LABEL -- LINUX_ARGS... -- WINDOWS_ARGS...: both print the same bytes on standard output
# and end with the same status.
same() {
    local label=$1
    shift 2
    local largs=() wargs=()
    while [ "$1" != "--" ]; do
        largs+=("$1")
        shift
    done
    shift
    wargs=("$@")
    local lrc wrc
    "$linux" "${largs[@]}" > "$work/linux.out" 2> /dev/null
    lrc=$?
    wine "$windows" "${wargs[@]}" > "$work/windows.out" 2> /dev/null < /dev/null
    wrc=$?
    # Wine now and then fails to start a program at all (status 1, nothing printed, even with
    # the one server above): such a run, where Linux printed something, is tried once more.
    if [ "$wrc" = 1 ] && [ ! -s "$work/windows.out" ] && [ -s "$work/linux.out" ]; then
        retried=$((retried + 1))
        wine "$windows" "${wargs[@]}" > "$work/windows.out" 2> /dev/null < /dev/null
        wrc=$?
    fi
    # A path the tool echoes may be spelt the Windows way: SPELT_WINDOWS as SPELT_LINUX.
    if [ -n "${SPELT_WINDOWS:-}" ]; then
        local text
        text=$(cat "$work/windows.out"; printf x)
        text=${text%x}
        printf '%s' "${text//"$SPELT_WINDOWS"/"$SPELT_LINUX"}" > "$work/windows.out"
    fi
    if [ "$lrc" = "$wrc" ] && cmp -s "$work/linux.out" "$work/windows.out"; then
        passed=$((passed + 1))
        return 0
    fi
    failed=$((failed + 1))
    echo "DIFFERS: $label (status $lrc on Linux, $wrc on Windows)"
    diff "$work/linux.out" "$work/windows.out" | head -5
    return 1
}

# compacted LABEL SRC_LINUX DST_LINUX SRC_WINDOWS DST_WINDOWS [--password PW]: both compact
# alike and write the same bytes.
compacted() {
    local label=$1 lsrc=$2 ldst=$3 wsrc=$4 wdst=$5
    shift 5
    rm -f "$ldst" "$wdst"
    "$linux" compact --quiet "$@" "$lsrc" "$ldst" > /dev/null 2> "$work/linux.err"
    local lrc=$?
    wine "$windows" compact --quiet "$@" "$(winpath "$wsrc")" "$(winpath "$wdst")" \
        > "$work/windows.out" 2> "$work/windows.err" < /dev/null
    local wrc=$?
    # As in same: a compaction prints its summary or an error, so status 1 with nothing on
    # either stream, where Linux compacted, is Wine not starting the program.
    if [ "$wrc" = 1 ] && [ "$lrc" = 0 ] && [ ! -s "$work/windows.out" ] &&
        [ ! -s "$work/windows.err" ]; then
        retried=$((retried + 1))
        rm -f "$wdst"
        wine "$windows" compact --quiet "$@" "$(winpath "$wsrc")" "$(winpath "$wdst")" \
            > "$work/windows.out" 2> "$work/windows.err" < /dev/null
        wrc=$?
    fi
    if [ "$lrc" = "$wrc" ] && { [ "$lrc" != 0 ] || cmp -s "$ldst" "$wdst"; }; then
        passed=$((passed + 1))
        return 0
    fi
    failed=$((failed + 1))
    echo "DIFFERS: $label (status $lrc on Linux, $wrc on Windows)"
    if [ "$lrc" = 0 ] && [ "$wrc" = 0 ]; then cmp "$ldst" "$wdst" | head -1; fi
    head -c 300 "$work/linux.err" "$work/windows.err"
    return 1
}

files=0
readable=0
first_readable=
cd "$corpus" || exit 2
for path in "$corpus"/*.mdb "$corpus"/*.accdb "$corpus"/*.MDB; do
    [ -f "$path" ] || continue
    files=$((files + 1))
    name=$(basename "$path")
    win=$(winpath "$path")
    pw=$(password_of "$name")
    popt=()
    [ -n "$pw" ] && popt=(--password "$pw")

    "$linux" info "${popt[@]}" "$path" > /dev/null 2>&1
    if [ $? != 0 ]; then
        # Unreadable: both must refuse it with the same status.
        same "$name: info (unreadable)" -- info "${popt[@]}" "$path" -- info "${popt[@]}" "$win"
        continue
    fi
    readable=$((readable + 1))
    [ -z "$first_readable" ] && [ -z "$pw" ] && first_readable=$path
    # info and check print the path as given: both sides get the same name, relative to the
    # corpus folder; the other verbs get the drive-letter path on Windows.
    same "$name: info" -- info "${popt[@]}" "$name" -- info "${popt[@]}" "$name"
    same "$name: check" -- check "${popt[@]}" "$name" -- check "${popt[@]}" "$name"
    same "$name: tables" -- tables "${popt[@]}" "$path" -- tables "${popt[@]}" "$win"
    same "$name: schema" -- schema "${popt[@]}" "$path" -- schema "${popt[@]}" "$win"
    while IFS= read -r table; do
        [ -n "$table" ] || continue
        same "$name: export $table" -- export "${popt[@]}" "$path" "$table" \
            -- export "${popt[@]}" "$win" "$table"
    done < <("$linux" tables "${popt[@]}" "$path" 2> /dev/null)
    compacted "$name: compact" "$path" "$work/linux.mdb" "$path" "$work/windows.mdb" "${popt[@]}"
done

corpus_compared=$((passed + failed))
# A folder and a file named outside ASCII; the compacted copy is written beside its source.
if [ -n "$first_readable" ]; then
    folder="$work/Relatórios de Março"
    mkdir -p "$folder"
    cp "$first_readable" "$folder/Cópia ação €.mdb"
    src="$folder/Cópia ação €.mdb"
    SPELT_WINDOWS=$(winpath "$src") SPELT_LINUX=$src
    same "non-ASCII path: info" -- info "$src" -- info "$SPELT_WINDOWS"
    same "non-ASCII path: check" -- check "$src" -- check "$SPELT_WINDOWS"
    SPELT_WINDOWS=
    same "non-ASCII path: schema" -- schema "$src" -- schema "$(winpath "$src")"
    compacted "non-ASCII path: compact" "$first_readable" "$work/linux.mdb" \
        "$src" "$folder/Compactado ç.mdb"
fi

names_compared=$((passed + failed - corpus_compared))
# The lock file between the platforms: a Wine holder's slot is live for the Linux build and
# the reverse, no other Windows process deletes it while it is held, and the last one out
# deletes the file.
check() {
    if eval "$2"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "DIFFERS: lock file: $1"
    fi
}
# wait_for FILE TEXT: up to 30 s for TEXT to appear in FILE.
wait_for() {
    for _ in $(seq 300); do
        grep -q "$2" "$1" 2> /dev/null && return 0
        sleep 0.1
    done
    return 1
}
lock=$work/lock
mkdir -p "$lock"
if "$linux" create-fixtures "$lock" > /dev/null 2>&1; then
    mkfifo "$lock/wine.in" "$lock/linux.in"
    wine "$windows" hold "$(winpath "$lock/tavo.mdb")" < "$lock/wine.in" > "$lock/wine.out" 2>&1 &
    wine_pid=$!
    exec {wine_in}> "$lock/wine.in"
    check "a Wine holder takes slot 1" 'wait_for "$lock/wine.out" "open shared slot 1"'
    check "Linux sees the Wine holder live" \
        '[ "$("$linux" users --live "$lock/tavo.ldb" | wc -l)" = 1 ]'
    # Another Windows process tries to delete the lock file in use. A delete that Windows
    # accepted would only mark the file, which then goes when the Wine holder closes, even
    # with the Linux holder still in: checked below.
    wine cmd /c del "$(winpath "$lock/tavo.ldb")" < /dev/null > /dev/null 2>&1
    "$linux" hold "$lock/tavo.mdb" < "$lock/linux.in" > "$lock/linux.out" 2>&1 {wine_in}>&- &
    linux_pid=$!
    exec {linux_in}> "$lock/linux.in"
    check "a Linux holder beside it takes slot 2" 'wait_for "$lock/linux.out" "open shared slot 2"'
    check "Wine sees both holders live" \
        '[ "$(wine "$windows" users --live "$(winpath "$lock/tavo.ldb")" < /dev/null | wc -l)" = 2 ]'
    exec {wine_in}>&-
    wait "$wine_pid"
    check "the Wine holder closes and leaves the file to the Linux one (no delete took it)" \
        'grep -q closed "$lock/wine.out" && [ -f "$lock/tavo.ldb" ]'
    check "Linux then sees one live holder" \
        '[ "$("$linux" users --live "$lock/tavo.ldb" | wc -l)" = 1 ]'
    exec {linux_in}>&-
    wait "$linux_pid"
    check "the last holder deletes the lock file" '[ ! -e "$lock/tavo.ldb" ]'
fi

lock_checks=$((passed + failed - corpus_compared - names_compared))
echo "windows parity: $files corpus files, $readable readable, compared with $linux:" \
    "$corpus_compared outputs and compactions; $names_compared on a name outside ASCII;" \
    "$lock_checks lock-file checks between Wine and Linux"
echo "windows-parity: $passed passed, $failed failed ($retried Windows runs tried twice: Wine did not start them)"
[ "$failed" = 0 ]
