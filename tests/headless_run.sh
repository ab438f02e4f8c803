#!/usr/bin/env bash
# A whole maintenance run with no display and no toolkit (run_driver on its in-memory window):
# a bloated sample database with its client databases, every box answered OK. The run must
# reach its success exit, leave the database smaller in its place, and log its last line.
#
# Usage: tests/headless_run.sh RUN_DRIVER JETUTIL
set -euo pipefail
driver=$1
jetutil=$2
work=$(mktemp -d /tmp/headless_run.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/dados" "$work/programa"
"$jetutil" create-sample --jet4 --rows 500 --bloat "$work/dados/base.mdb" >/dev/null
"$jetutil" create-fixtures --jet4 "$work/dados" >/dev/null
before=$(stat -c %s "$work/dados/base.mdb")

status=0
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM  # no display of any kind
"$driver" "$work/programa" "$work/dados/base.mdb" >"$work/boxes.txt" || status=$?
fail() { echo "headless run: $*" >&2; cat "$work/boxes.txt" >&2; exit 1; }
((status == 0)) || fail "exit status $status, not the success exit"
[[ $(tail -n 1 "$work/boxes.txt") == "Processo Concluido." ]] || fail "the last box is not the success"
after=$(stat -c %s "$work/dados/base.mdb")
((after < before)) || fail "the database is $after bytes, it was $before"
log=$(ls "$work"/programa/Log*.txt)
grep -q " - Processo Concluido"$'\r'"$" "$log" || fail "the log has no success line"
echo "headless run: success exit, $before -> $after bytes, $(grep -c '' "$log") log lines"
