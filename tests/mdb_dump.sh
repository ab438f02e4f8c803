# Sourced by the sweeps that judge a database by its content (tests/crash_sweep.sh,
# tests/kill_sweep.sh); needs mdbtools (mdb-tables, mdb-export).

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
