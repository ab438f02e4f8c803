// Encodes rows (docs/format.md 4) for one table.
//
// Jet 4 row:  u16 ncols | fixed area | variable data | u16 eod | u16 var_offset[nvar-1..0] |
//             u16 nvar | null mask
// Jet 3 row:  u8 ncols  | fixed area | variable data | u8 eod  | u8 var_offset[nvar-1..0] |
//             u8 jump[k-1..0] | u8 nvar | null mask
// A table without variable columns stores only ncols | fixed area | null mask.
//
// ncols = max_cols; the mask has one bit per column number, 1 = value present; a Boolean is its
// mask bit. The fixed area runs to the end of the last fixed column left (gaps of deleted
// columns stay, zeroed). nvar = RowVarCount(def): every variable slot of the definition gets an
// offset entry, those of deleted columns zero-length ones, so a table whose variable columns
// were all deleted still writes eod, nvar equal entries and the count, as Jet does. Jet 3 rows of
// 256 bytes or more carry the jump table of docs/format.md 4.4: k = (L - 1) / 256 entries,
// entry j naming the first offset entry (eod counts as entry nvar) at or past 256 * (j + 1), or
// 0xFF.
//
// Long values (Memo/OLE) become a 12-byte header: inline (0x80) when at most 64 bytes and the
// row stays within the maximum row size, otherwise the caller stores the data out of line and
// hands back the header.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

// Largest row Jet writes (docs/format.md 4.2).
inline size_t MaxRowSize(Version v) {
    return v == Version::kJet3 ? 2012 : 4060;
}
// Largest long value kept inline in its row.
constexpr size_t kMaxInlineLongValue = 64;
// Long-value header type bits (byte 3 of the header).
constexpr uint8_t kLongValueInline = 0x80;
constexpr uint8_t kLongValueSingle = 0x40;
constexpr uint8_t kLongValueChain = 0x00;

// The 12-byte long-value header; the Put form fills the first 8 of 12 zeroed bytes at `to`.
void PutLongValueHeader(uint8_t* to, uint32_t length, uint8_t type, uint32_t first_row_pointer);
Bytes MakeLongValueHeader(uint32_t length, uint8_t type, uint32_t first_row_pointer);

class RowEncoder {
  public:
    // Stores a long value of column `column` (index into def.columns) out of line and returns
    // its 12-byte header.
    using LongValueStore = std::function<Bytes(size_t column, const Bytes& data)>;

    // REQUIRES: def outlives the encoder; its layout (col_num, var_index, fixed_offset) is set.
    RowEncoder(const TableDef& def, Version version, uint16_t code_page);
    RowEncoder(const RowEncoder&) = delete;
    RowEncoder& operator=(const RowEncoder&) = delete;

    // Encodes `row` (one value per column of def.columns) into `out`. Long values that are not
    // kept inline go through `store`; with a null `store` they are stored as null (used for
    // rows written already deleted). Raises 3163 for a value longer than its column and 3047
    // for a row that does not fit a data page.
    void Encode(const Row& row, const LongValueStore& store, Bytes& out);
    // Raises what Encode raises for `row` when every long value not kept inline is stored out
    // of line, without laying the row out.
    void CheckStorable(const Row& row);

    // The bytes a value takes in a row (text encoded, numbers in stored form); Boolean: none.
    // Long values: their data (what goes after the header).
    Bytes FieldBytes(const ColumnDef& column, const Value& value) const;
    void FieldBytesTo(const ColumnDef& column, const Value& value, Bytes& out) const;

  private:
    // Encodes the values and sizes the row, raising as Encode does. `build`: keep the long
    // values' stored forms for Assemble (else `store` is not called; out of line is assumed).
    void Measure(const Row& row, const LongValueStore& store, bool build);
    void Assemble(const Row& row, Bytes& out);

    const TableDef& def_;
    Version version_;
    uint16_t code_page_;
    size_t fixed_size_ = 0;
    int nvar_ = 0;                 // offset entries per row: RowVarCount(def)
    std::vector<int> var_column_;  // var index -> column index, -1 for a gap
    // Scratch reused from row to row, so that a row costs no allocation once the buffers grew.
    std::vector<Bytes> fields_;    // per column: the value's bytes (a long value's data)
    std::vector<Bytes> stored_;    // per long-value column: what its row holds (the header...)
    std::vector<bool> present_;    // per column
    Bytes mask_;                   // the null mask
    std::vector<size_t> offsets_;  // the variable offsets, eod last
};

}  // namespace jet
