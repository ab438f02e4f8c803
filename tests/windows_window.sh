#!/bin/bash
# The Windows window under Wine, on a virtual screen (xvfb-run):
#   1. the window tests (tests/win32/window_test.cpp): layout, controls, and whole runs of both
#      classes on a bloated database, each log file checked line by line; the runs' databases
#      are kept and read back here with mdbtools: every table of the compacted database must
#      export the same rows as the database before the run;
#   2. compactador.exe itself, copied alone into a folder: its window opens at the layout's
#      size (Wine's 96 dpi: 823 x 523 pixels of client area), it ends with status 0 when closed,
#      and it has written nothing into its folder.
#
# usage: tests/windows_window.sh [WINDOWS_BUILD_DIR]   (default build/windows)
# Skips (exit 0) when the Windows build is missing; fails (exit 2) when a tool it calls is
# missing (scripts/deps.sh windows installs them). Exit 1 on any failure.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/windows}
tests=$build/tests/win32/win32_window_tests.exe
program=$build/app/win32/compactador.exe

skip() {
    echo "windows window: skipped ($*)"
    exit 0
}
"$root/scripts/deps.sh" --require wine xvfb-run xdotool mdb-export mdb-tables || exit 2
[ -f "$tests" ] && [ -f "$program" ] || skip "no Windows build in $build"
export WINEDEBUG=${WINEDEBUG:--all}

work=$(mktemp -d "${TMPDIR:-/tmp}/windows-window.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
. "$root/tests/wine_util.sh"  # winpath
failed=0
fail() {
    echo "windows window: FAILED: $*"
    failed=1
}
mkdir -p "$work/programa"
cp "$program" "$work/programa/"

# Everything that needs the screen runs in one xvfb-run session, on a Wine server started in it:
# a server already running (an earlier script's, kept for a few seconds) would still hold the
# display it started with, and no window could open.
wineserver -k 2> /dev/null
wineserver -w 2> /dev/null
cat > "$work/session.sh" << 'SH'
#!/bin/bash
# $1: the tests; $2: the program; $3: the work folder; $4: the folder for the runs (Windows).
COMPACTADOR_KEEP_RUN=$4 wine "$1" > "$3/tests.out" 2>&1
echo $? > "$3/tests.status"
# The program: started, its window waited for and measured, closed, its status taken.
(cd "$(dirname "$5")" && wine "$2") & pid=$!
for _ in $(seq 1 60); do
    window=$(xdotool search --name "^Compactador/Reparador de Banco de Dados$" 2> /dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.5
done
[ -n "$window" ] && xdotool getwindowgeometry "$window" | sed -n 's/^ *Geometry: /size /p'
wine taskkill /im compactador.exe > /dev/null 2>&1
for _ in $(seq 1 40); do kill -0 $pid 2> /dev/null || break; sleep 0.5; done
kill -0 $pid 2> /dev/null && { kill $pid; echo "still running"; }
wait $pid
echo "status $?"
wineserver -w
SH
chmod +x "$work/session.sh"
xvfb-run -a -s "-screen 0 1280x1024x24" "$work/session.sh" "$tests" \
    "$(winpath "$work/programa/compactador.exe")" "$work" "$(winpath "$work/runs")" \
    "$work/programa/compactador.exe" > "$work/program.out" 2> /dev/null

# 1. The window tests, and the runs' databases they kept.
[ "$(cat "$work/tests.status" 2> /dev/null)" = 0 ] || { cat "$work/tests.out"; fail "window tests"; }
grep -E '^\[  (PASSED|FAILED|SKIPPED) ' "$work/tests.out"
for class in 1 2; do
    before=$work/runs/$class-original.mdb after=$work/runs/$class-compactado.mdb
    log=$work/runs/$class-log.txt
    [ -f "$after" ] || { fail "class $class: no compacted database kept"; continue; }
    tables=$(mdb-tables -1 "$before")
    [ -n "$tables" ] || fail "class $class: mdbtools lists no table"
    rows=0
    for table in $tables; do
        mdb-export -b hex "$before" "$table" | sort > "$work/before.csv"
        mdb-export -b hex "$after" "$table" | sort > "$work/after.csv" ||
            fail "class $class: mdb-export cannot read $table"
        cmp -s "$work/before.csv" "$work/after.csv" || fail "class $class: $table differs"
        rows=$((rows + $(wc -l < "$work/after.csv") - 1))
    done
    # Every line of the log file: a date, a time, a message, CR LF; the last one says so.
    lines=$(wc -l < "$log")
    bad=$(LC_ALL=C grep -cvaE $'^[0-9]{2}/[0-9]{2}/[0-9]{4} - [0-9]{2}:[0-9]{2}:[0-9]{2} - .*\r$' "$log")
    [ "$bad" -eq 0 ] || fail "class $class: $bad log lines out of form"
    [ "$(tail -n1 "$log")" = $'05/12/2026 - 14:03:07 - Processo Concluido\r' ] ||
        fail "class $class: the log does not end with the success line"
    echo "class $class: $(echo $tables | wc -w) tables, $rows rows read back by mdbtools" \
        "alike before and after ($(stat -c %s "$before") -> $(stat -c %s "$after") bytes)," \
        "$lines log lines"
done

# 2. The program itself.
out=$(cat "$work/program.out")
echo "compactador.exe: $(echo $out)"
grep -qx "size 823x523" <<< "$out" || fail "compactador.exe: no window of 823 x 523"
grep -qx "status 0" <<< "$out" || fail "compactador.exe: did not end with status 0 when closed"
[ "$(ls -A "$work/programa")" = compactador.exe ] ||
    fail "compactador.exe wrote into its folder: $(ls -A "$work/programa" | tr '\n' ' ')"

((failed == 0)) && echo "windows window: passed"
exit $failed
