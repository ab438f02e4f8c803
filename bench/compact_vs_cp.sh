#!/usr/bin/env bash
# The compaction benchmark: a bloated Jet 4 database of about 1 GB and a bloated Jet 3 one of
# about 500 MB, made with `jetutil create-sample --bloat`, each compacted side by side with a
# `cp` of the same file (bench/compact_bench), with the peak resident memory of the
# compaction. Goals: at most 2x the time of cp, at most 128 MB peak RSS.
#
# usage: bench/compact_vs_cp.sh BUILD_DIR [WORKDIR]   (a release build is meaningful)
#   JET4_MB / JET3_MB change the sizes (default 1024 / 512); REPEAT the rounds (default 1).
# Needs about 2.5x the larger size free in WORKDIR (default /tmp); everything made is removed.
set -euo pipefail
build=${1:?usage: compact_vs_cp.sh BUILD_DIR [WORKDIR]}
work=$(mktemp -d "${2:-/tmp}/compact-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
jetutil="$build/tools/jetutil"
bench="$build/bench/compact_bench"
for f in "$jetutil" "$bench"; do
  [ -x "$f" ] || { echo "missing $f (cmake --build $build --target jetutil compact_bench)" >&2; exit 2; }
done

# Rows for a file of about MB megabytes, from the size of a small sample of the same kind.
rows_for() {
  local version=$1 mb=$2 probe="$work/probe.mdb"
  "$jetutil" create-sample "$version" --rows 20000 --bloat "$probe" >/dev/null
  local bytes
  bytes=$(stat -c %s "$probe")
  rm -f "$probe"
  echo $(( mb * 1024 * 1024 / (bytes / 20000) ))
}

run() {
  local version=$1 mb=$2 file="$work/sample${1#--jet}.mdb"
  local rows
  rows=$(rows_for "$version" "$mb")
  echo "== ${version#--} bloated, about $mb MB ($rows rows) =="
  "$jetutil" create-sample "$version" --rows "$rows" --bloat "$file"
  sync "$file"
  "$bench" --repeat "${REPEAT:-1}" "$jetutil" "$file" "$work"
  rm -f "$file"
}

run --jet4 "${JET4_MB:-1024}"
run --jet3 "${JET3_MB:-512}"
