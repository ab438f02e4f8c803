#!/usr/bin/env bash
# Writes the fuzz targets' seed inputs into fuzz/seeds/<target>/ from what the engine itself
# writes: the client databases (jetutil create-fixtures, Jet 3 and Jet 4) and a small bloated
# sample; lock files laid out record by record as the engine writes them (64 bytes a slot:
# computer name and user, each NUL-terminated and space-padded to 32); and, for repair_fuzz,
# short damage programs (its input picks one of the databases it writes at start-up, and the
# damage to do).
# The seeds are named *.seed, never *.mdb: no database file is kept in the repository.
#
# usage: fuzz/make_seeds.sh [BUILD_DIR]     (default build/debug; needs its tools/jetutil)
set -euo pipefail
cd "$(dirname "$0")/.."
jetutil=${1:-build/debug}/tools/jetutil
[[ -x $jetutil ]] || { echo "missing $jetutil" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jet3" "$work/jet4"
"$jetutil" create-fixtures --jet3 "$work/jet3" >/dev/null
"$jetutil" create-fixtures --jet4 "$work/jet4" >/dev/null
"$jetutil" create-sample --jet3 --rows 30 --bloat "$work/sample3.mdb" >/dev/null

seeds=fuzz/seeds
rm -rf "$seeds"
for target in check_fuzz open_read_fuzz update_fuzz; do
    mkdir -p "$seeds/$target"
    for v in 3 4; do
        cp "$work/jet$v/tavo.mdb" "$seeds/$target/tavo_jet$v.seed"
        cp "$work/jet$v/tavo1.mdb" "$seeds/$target/tavo1_jet$v.seed"
    done
done
cp "$work/sample3.mdb" "$seeds/check_fuzz/sample_jet3.seed"
cp "$work/sample3.mdb" "$seeds/open_read_fuzz/sample_jet3.seed"

# One lock-file record: a name padded to 32 bytes (NUL, then spaces), twice.
record() {
    local name
    for name in "$1" "$2"; do
        printf '%s\0' "$name"
        printf '%*s' $((31 - ${#name})) ''
    done
}
mkdir -p "$seeds/lock_file_fuzz"
record CAIXA-01 Admin >"$seeds/lock_file_fuzz/one_user.seed"
{ record CAIXA-01 Admin; head -c 64 /dev/zero; record ESCRITORIO Admin; } \
    >"$seeds/lock_file_fuzz/gap.seed"
record "$(printf 'N%.0s' {1..31})" "$(printf 'U%.0s' {1..31})" >"$seeds/lock_file_fuzz/long_names.seed"
{ record CAIXA-01 Admin; record SERVIDOR Admin | head -c 40; } >"$seeds/lock_file_fuzz/short_tail.seed"

# repair_fuzz: file choice, then steps of damage (op byte, 4-byte seed, 4-byte page).
mkdir -p "$seeds/repair_fuzz"
for file in 0 1 2 3; do
    for kind in 0 1 2 3 4 5 6 7 8 9; do
        op=$(((kind << 2) | 3))
        printf "\\x$(printf %02x $file)\\x$(printf %02x $op)\\x$(printf %02x $((kind * 7 + file)))\\x00\\x00\\x00\\x03\\x00\\x00\\x00" \
            >"$seeds/repair_fuzz/file${file}_damage${kind}.seed"
    done
done
find "$seeds" -type f | sort | while read -r f; do echo "$(stat -c %s "$f") $f"; done
