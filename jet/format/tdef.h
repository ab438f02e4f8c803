// Table definitions (TDEF pages, type 0x02).
//
// A definition is one byte string spread over a chain of TDEF pages: each page starts with
// 02 01, a u16 (Jet 3 "VC", Jet 4 free space) and the u32 next page (0 = last); the first page
// contributes all its bytes, later pages their bytes from offset 8. In that string
// (Jet 3 / Jet 4 offsets):
//   08/08 u32 tdef_len   0C/10 row count   10/14 AutoNumber seed   14/28 u8 table type
//   15/29 max_cols   17/2B num_var_cols   19/2D num_cols   1B/2F num_idx   1F/33 num_real_idx
//   23/37 owned-pages map   27/3B free-space map   2B/3F real-index count blocks (8 / 12 each)
// followed by num_cols column descriptors (18 / 25 bytes), their names (u8 / u16 length), the
// real index definitions (39 / 52), the logical index definitions (20 / 28) and their names,
// then 10-byte long-value map records (u16 col_num, u32 owned map, u32 free map) up to FF FF.
// Every count is checked against the bytes actually present before anything is allocated.
#pragma once

#include <cstdint>

#include "jet/format/mdb_file.h"
#include "jet/format/schema.h"

namespace jet {

// Reads the definition whose first page is `page` (the table's object id). TableDef::name is
// left empty (names live in the catalog). Throws 3343 on a broken chain or a definition that
// does not parse.
TableDef ReadTableDef(MdbFile& file, uint32_t page);

// Parses a logical definition already assembled from its pages.
TableDef ParseTableDef(ByteSpan definition, Version version, uint16_t code_page);

// Sizes of the fixed records of a definition.
inline size_t ColumnDescriptorSize(Version v) {
    return v == Version::kJet3 ? 18 : 25;
}
inline size_t RealIndexCountSize(Version v) {
    return v == Version::kJet3 ? 8 : 12;
}
inline size_t RealIndexDefSize(Version v) {
    return v == Version::kJet3 ? 39 : 52;
}
inline size_t LogicalIndexDefSize(Version v) {
    return v == Version::kJet3 ? 20 : 28;
}

}  // namespace jet
