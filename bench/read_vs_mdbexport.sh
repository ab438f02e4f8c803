#!/usr/bin/env bash
# Side by side: reading every user table of the largest corpus files with our engine
# (in process: read_bench; and one `jetutil export` process per table, like mdb-export) and
# with mdb-export. Prints the times and the ratios.
#
# usage: bench/read_vs_mdbexport.sh BUILD_DIR [FILE...]   (a release build is meaningful)
set -euo pipefail
build=${1:?usage: read_vs_mdbexport.sh BUILD_DIR [FILE...]}
shift
corpus=${JET_CORPUS_DIR:-$(dirname "$0")/../../shared/corpus}
if [ $# -eq 0 ]; then
  mapfile -t files < <(ls -S "$corpus"/*.mdb | head -6)
else
  files=("$@")
fi
jetutil="$build/tools/jetutil"
bench="$build/bench/read_bench"

now() { date +%s%N; }
ms() { echo $(( ($2 - $1) / 1000000 )); }

printf '%-42s %7s %9s %9s %9s %8s %8s\n' file tables bench_ms jetutil_ms mdbexp_ms ratio_in ratio_proc
tot_b=0; tot_j=0; tot_m=0
for f in "${files[@]}"; do
  mapfile -t tables < <("$jetutil" tables "$f")
  b=$("$bench" --repeat 3 "$f" | awk 'NR==2 {print $4}')
  t0=$(now)
  for t in "${tables[@]}"; do "$jetutil" export --salvage "$f" "$t" >/dev/null; done
  t1=$(now)
  for t in "${tables[@]}"; do
    LC_ALL=C.UTF-8 mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' -b hex "$f" "$t" >/dev/null 2>&1 || true
  done
  t2=$(now)
  j=$(ms "$t0" "$t1"); m=$(ms "$t1" "$t2")
  printf '%-42s %7s %9s %9s %9s %8s %8s\n' "$(basename "$f")" "${#tables[@]}" "$b" "$j" "$m" \
    "$(awk -v a="$m" -v b="$b" 'BEGIN { printf "%.1fx", (b > 0 ? a / b : 0) }')" \
    "$(awk -v a="$m" -v b="$j" 'BEGIN { printf "%.1fx", (b > 0 ? a / b : 0) }')"
  tot_b=$(awk -v a="$tot_b" -v b="$b" 'BEGIN { print a + b }'); tot_j=$((tot_j + j)); tot_m=$((tot_m + m))
done
echo "total: read_bench ${tot_b} ms, jetutil export ${tot_j} ms, mdb-export ${tot_m} ms"
awk -v m="$tot_m" -v b="$tot_b" -v j="$tot_j" 'BEGIN {
  printf "mdb-export / read_bench = %.1fx; mdb-export / jetutil export = %.1fx (higher = we are faster)\n", m / b, m / j }'
