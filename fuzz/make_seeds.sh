#!/usr/bin/env bash
# Writes the fuzz targets' first seeds into fuzz/seeds/<target>/ (named *.seed, never *.mdb:
# no database file is kept in the repository):
#   - check, open_read, update: patch programs over the bases (fuzz/fuzz_support.h): each base
#     as written, and each with a patch on one of the kinds of page every base has (page 0's
#     header, the global usage map, a table definition, catalog rows, an index page);
#     open_read also whole files (the first byte 0xFF): the first pages of a client fixture
#     that jetutil writes, and a page 0 alone;
#   - lock_file: lock files laid out record by record as the engine writes them (64 bytes a
#     slot: computer name and user, each NUL-terminated and space-padded to 32);
#   - repair: short damage programs (the base, then steps of damage: op byte, 4-byte seed,
#     4-byte page).
# These are where a corpus starts; scripts/fuzz_short.sh with FUZZ_RESEED=1 replaces them with
# the minimised set that a longer run learned.
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

seeds=fuzz/seeds
rm -rf "$seeds"

# A byte as printf's escape.
byte() { printf "\\\\x%02x" "$1"; }
# A patch: page, offset (u16 LE), then the bytes given in hex pairs.
patch() {
    local page=$1 offset=$2 hex=$3
    printf "$(byte "$page")$(byte $((offset & 255)))$(byte $((offset >> 8)))$(byte $((${#hex} / 2)))"
    local i
    for ((i = 0; i < ${#hex}; i += 2)); do printf "$(byte $((16#${hex:i:2})))"; done
}

for target in check_fuzz open_read_fuzz update_fuzz; do
    mkdir -p "$seeds/$target"
    for base in 0 1 2; do
        printf "$(byte $base)" >"$seeds/$target/base${base}.seed"
        # The version byte, the page key, a row count, the map's type, an index entry's bytes.
        { printf "$(byte $base)"; patch 0 20 02; } >"$seeds/$target/base${base}_version.seed"
        { printf "$(byte $base)"; patch 0 62 01000000; } >"$seeds/$target/base${base}_key.seed"
        { printf "$(byte $base)"; patch 6 16 ffff0000; } >"$seeds/$target/base${base}_rows.seed"
        { printf "$(byte $base)"; patch 1 14 7f; } >"$seeds/$target/base${base}_map.seed"
        { printf "$(byte $base)"; patch 9 500 ff00ff00; } >"$seeds/$target/base${base}_index.seed"
        { printf "$(byte $base)"; patch 8 0 0000; } >"$seeds/$target/base${base}_catalog.seed"
        { printf "$(byte $base)"; patch 13 20 00 ; patch 13 8 0000; } \
            >"$seeds/$target/base${base}_tavo.seed"
    done
done
for v in 3 4; do
    page=$((v == 3 ? 2048 : 4096))
    { printf '\xff'; head -c $((3 * page)) "$work/jet$v/tavo.mdb"; } \
        >"$seeds/open_read_fuzz/raw_tavo_jet${v}_3pages.seed"
    { printf '\xff'; head -c "$page" "$work/jet$v/tavo1.mdb"; } \
        >"$seeds/open_read_fuzz/raw_tavo1_jet${v}_page0.seed"
done

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

# repair_fuzz: the base, then one step of damage of each kind at a page of the seed's choice.
mkdir -p "$seeds/repair_fuzz"
for base in 0 1 2; do
    for kind in 0 1 2 3 4 5 6 7 8 9; do
        op=$(((kind << 2) | 1))
        printf "$(byte $base)$(byte $op)$(byte $((kind * 7 + base)))\\x00\\x00\\x00" \
            >"$seeds/repair_fuzz/base${base}_damage${kind}.seed"
    done
done
find "$seeds" -type f | sort | while read -r f; do echo "$(stat -c %s "$f") $f"; done
