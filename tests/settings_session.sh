#!/usr/bin/env bash
# By hand: one whole session of the program under Xvfb, in a home made fresh for it, and the
# files it left there. The session is an operator's: the program starts in a folder holding a
# sample database and the two client databases (written by jetutil), "Localizar Arquivo"
# opens the dialog, the database's name is typed and chosen, "Iniciar Processo" runs, every
# box is answered OK, and the run's success ends the program. Then every file under the home
# is listed; the program must have written nothing under ~/.config or ~/.local.
#   tests/settings_session.sh PROGRAM JETUTIL    (needs xvfb-run and xdotool)
# Exit status 0 when nothing was left under ~/.config and ~/.local and the run succeeded.
set -euo pipefail
program=$(readlink -f "$1")
jetutil=$(readlink -f "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/settings-session.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/programa" "$work/demo"
cp "$program" "$work/programa/compactador"
"$jetutil" create-sample --rows 500 --bloat "$work/demo/vendas.mdb" >/dev/null
"$jetutil" create-fixtures "$work/demo" >/dev/null

cat >"$work/session.sh" <<'INNER'
set -eu
cd "$WORK/demo"
../programa/compactador &
pid=$!
win=$(timeout 20 xdotool search --sync --name '^Compactador/Reparador de Banco de Dados$' | head -1)
sleep 1
xdotool mousemove --window "$win" 772 45 click 1             # Localizar Arquivo
timeout 20 xdotool search --sync --name '^(Abrir|Open)$' >/dev/null
sleep 1
xdotool key ctrl+a
xdotool type --delay 20 'vendas.mdb'
xdotool key Return
sleep 1
xdotool mousemove --window "$win" 411 493 click 1            # Iniciar Processo
for _ in $(seq 1 120); do                                    # every box answered OK
  kill -0 "$pid" 2>/dev/null || break
  sleep 1
  xdotool key Return 2>/dev/null || true
done
wait "$pid" || true
INNER
(
  unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME
  export HOME=$work/home WORK=$work
  xvfb-run -a bash "$work/session.sh"
) >"$work/session.out" 2>&1 || true

echo "== the run's log"
cat "$work"/programa/Log*.txt 2>/dev/null | tr -d '\r' | tail -3 || echo "(none)"
echo "== files under the home afterwards"
(cd "$work/home" && find . -mindepth 1 | sort)
left=0
for d in .config .local; do
  [ -d "$work/home/$d" ] && left=$((left + $(find "$work/home/$d" -type f | wc -l)))
done
echo "== files under ~/.config and ~/.local: $left"
grep -q "Processo Concluido" "$work"/programa/Log*.txt 2>/dev/null || { echo "the run did not succeed"; exit 1; }
[ "$left" -eq 0 ]
