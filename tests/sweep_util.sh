# Sourced by the sweeps that kill whole runs of the program (tests/crash_sweep.sh,
# tests/kill_sweep.sh) and judge a database by its content.

# The programs of a build the sweeps run, in `driver` and `jetutil`; exits 2 when one is not
# built or mdbtools (mdb-tables, mdb-export) is missing.
sweep_tools() {
    local build=$1 tool
    driver=$build/tests/app/run_driver
    jetutil=$build/tools/jetutil
    for tool in "$driver" "$jetutil"; do
        [[ -x $tool ]] || { echo "missing $tool: build run_driver and jetutil first" >&2; exit 2; }
    done
    "$(dirname "${BASH_SOURCE[0]}")/../scripts/deps.sh" --require mdb-export mdb-tables || exit 2
}

# The content of a database: every table's export, lines sorted, in the format of the corpus's
# golden dumps (what the tests' MdbExportDump gives); "unreadable" when it is not.
dump() {
    local file=$1 table
    mdb-tables -1 "$file" >/dev/null 2>&1 || { echo unreadable; return; }
    while IFS= read -r table; do
        [[ -z $table ]] && continue
        echo "=== TABLE $table ==="
        LC_ALL=C.UTF-8 mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' -b hex \
            "$file" "$table" 2>/dev/null | LC_ALL=C sort || echo unreadable
    done < <(mdb-tables -1 "$file" | LC_ALL=C sort)
}
