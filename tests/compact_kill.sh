#!/usr/bin/env bash
# Kills `jetutil compact` with SIGKILL at random moments, again and again, and checks what
# is left each time:
#   - killed before it finished: the destination does not exist (at most the temporary
#     "~<name>.rebuilding" beside it, which the next compaction replaces);
#   - killed after the rename, or finished before the kill: the destination is complete,
#     byte for byte the output of an uninterrupted compaction;
#   - the source never changes (SHA-256 before and after every run).
# Ends with a full compaction over the stale temporaries, checked clean.
#
# usage: tests/compact_kill.sh JETUTIL [KILLS] [ROWS]
#   KILLS kills that land while the compaction runs (default 50); ROWS the size of the Jet 4
#   and Jet 3 samples it alternates between (default 20000). Exit 0 when every check held.
set -euo pipefail
jetutil=${1:?usage: compact_kill.sh JETUTIL [KILLS] [ROWS]}
kills=${2:-50}
rows=${3:-20000}
work=$(mktemp -d /tmp/compact-kill.XXXXXX)
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

declare -A sum reference duration
for v in 3 4; do
  "$jetutil" create-sample --jet$v --rows "$rows" --bloat "$work/src$v.mdb" >/dev/null
  sum[$v]=$(sha256sum < "$work/src$v.mdb")
  start=$(date +%s%N)
  "$jetutil" compact --quiet "$work/src$v.mdb" "$work/ref$v.mdb" >/dev/null
  duration[$v]=$(( ($(date +%s%N) - start) / 1000000 ))
  "$jetutil" check --strict "$work/ref$v.mdb" >/dev/null || fail "reference output of Jet $v not clean"
  reference[$v]="$work/ref$v.mdb"
  echo "Jet $v: $(stat -c %s "$work/src$v.mdb") bytes, an uninterrupted compaction takes ${duration[$v]} ms"
done

mid=0 finished=0 after_rename=0 leftovers=0 attempts=0
while [ "$mid" -lt "$kills" ] && [ "$attempts" -lt $((kills * 4)) ]; do
  attempts=$((attempts + 1))
  v=$((3 + attempts % 2))
  dst="$work/out$v.mdb"
  rm -f "$dst"
  # A moment anywhere in the run, a little past its usual end now and then.
  delay_ms=$(( RANDOM * 32768 + RANDOM ))
  delay_ms=$(( delay_ms % (duration[$v] * 11 / 10 + 1) ))
  "$jetutil" compact --quiet "$work/src$v.mdb" "$dst" >/dev/null 2>&1 &
  pid=$!
  sleep "$(awk -v ms="$delay_ms" 'BEGIN { printf "%.3f", ms / 1000 }')"
  kill -9 "$pid" 2>/dev/null || true
  status=0
  wait "$pid" 2>/dev/null || status=$?
  if [ "$status" -eq 137 ]; then
    mid=$((mid + 1))
    if [ -e "$dst" ]; then
      # Only possible between the rename and the process's exit: then it must be whole.
      if cmp -s "$dst" "${reference[$v]}"; then
        after_rename=$((after_rename + 1))
      else
        fail "kill at ${delay_ms} ms left a destination that differs from a full compaction"
      fi
    fi
  elif [ "$status" -eq 0 ]; then
    finished=$((finished + 1))
    cmp -s "$dst" "${reference[$v]}" || fail "a finished compaction differs from the reference"
  else
    fail "compaction exited with $status"
  fi
  [ "$(sha256sum < "$work/src$v.mdb")" = "${sum[$v]}" ] || fail "the Jet $v source changed"
  if [ "$status" -eq 137 ] && compgen -G "$work/~*" >/dev/null; then
    leftovers=$((leftovers + 1))
    # Two runs in three start clean; the third starts over the stale temporary.
    if [ $((attempts % 3)) -ne 0 ]; then rm -f "$work"/~*; fi
  fi
done

# The stale temporaries do not stand in the way of the next compaction.
for v in 3 4; do
  rm -f "$work/out$v.mdb"
  "$jetutil" compact --quiet "$work/src$v.mdb" "$work/out$v.mdb" >/dev/null ||
    fail "compaction after the kills failed (Jet $v)"
  cmp -s "$work/out$v.mdb" "${reference[$v]}" || fail "compaction after the kills differs (Jet $v)"
done

echo "kills during the run: $mid (of $attempts runs; $finished finished first)"
echo "killed after the rename, destination whole: $after_rename; kills that left a temporary: $leftovers"
[ "$mid" -ge "$kills" ] || fail "only $mid kills landed during a run"
echo "runs checked: $attempts, failures: $failures"
[ "$failures" -eq 0 ]
