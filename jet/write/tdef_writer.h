// Serialises a TableDef into a table definition (TDEF) and splits it over TDEF pages.
//
// Logical definition (docs/format.md 6), offsets Jet3/Jet4:
//   header (0x2B / 0x3F bytes): page header, tdef_len, [1625], row count, AutoNumber seed,
//     [enable byte, unknown], table type, max_cols, num_var_cols, num_cols, num_idx,
//     num_real_idx, owned map, free map
//   num_real_idx count blocks (8 / 12), num_cols column descriptors (18 / 25), column names,
//   num_real_idx real index definitions (39 / 52), num_idx logical index definitions
//   (20 / 28), logical index names, one 10-byte record per Memo/OLE column, FF FF.
// Page 1 holds logical bytes [0, page_size); each continuation page holds an 8-byte page header
// followed by the next page_size - 8 bytes. Page header: 02 01, then "VC" (Jet 3) or the page's
// free space max(0, page_size - used - 8) (Jet 4), then the next TDEF page (0 = last).
//
// Bytes whose meaning is unknown come from the *_raw members when they hold a stored
// definition of the right size, so a rewrite carries them over; every field docs/format.md 6
// names is written from the TableDef. New definitions get the values Access writes.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

// Sizes of the TDEF parts by version.
struct TdefLayout {
    size_t header;  // up to the first count block
    size_t count_block;
    size_t column;
    size_t real_index;
    size_t logical_index;
    static TdefLayout For(Version v);
};

// The logical definition bytes of `def` (tdef_len included; page-header bytes 0..7 zero).
// Page pointers (usage maps, index roots) and counts are taken from `def` as they are.
Bytes SerializeTableDef(const TableDef& def, Version version, uint16_t code_page);

// How many TDEF pages a logical definition of `length` bytes occupies.
uint32_t TdefPageCount(size_t length, Version version);

// Splits a logical definition over `pages` (REQUIRES: pages.size() == TdefPageCount), filling
// in each page header. Returns one page image per entry of `pages`.
std::vector<Bytes> BuildTdefPages(const Bytes& logical, const std::vector<uint32_t>& pages,
                                  Version version);

// Fills col_num, var_index, fixed_offset and the fixed flag of columns that the caller built
// from scratch, the way Access lays out a new table: column numbers in order, fixed columns
// packed in order, variable columns numbered in order with Memo/OLE after the others. Also sets
// max_cols and num_var_cols. Only for new definitions (a definition read from a file keeps its
// layout).
void AssignNewColumnLayout(TableDef& def);

}  // namespace jet
