// Rows of a table, decode side (format of both versions).
//
// Jet 4 row:  u16 ncols | fixed area | variable data | [gap] | u16 eod |
//             u16 var_offset[nvar-1] .. var_offset[0] | u16 nvar | null mask
// Jet 3 row:  u8 ncols  | fixed area | variable data | [gap] | u8 eod |
//             u8 var_offset[nvar-1] .. var_offset[0] | u8 jump[k-1] .. jump[0] | u8 nvar | mask
// All offsets are from the row start. The null mask holds (ncols + 7) / 8 bytes, one bit per
// column number (LSB first), 1 = not null; a Boolean's value is its bit. A table without
// variable columns has neither eod, offsets nor nvar. Variable column j spans
// [var_offset[j], var_offset[j+1]) with var_offset[nvar] = eod. Jet 3 offsets are bytes; a row
// of length L carries k = (L - 1) / 256 jump entries, entry j naming the first offset index
// whose real value is >= 256 (j + 1); a last entry is a dummy when the eod byte sits below
// 256 k. Columns numbered >= ncols, or variable columns whose index is >= nvar, are absent from
// the (older) row and read as null.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/value.h"
#include "jet/format/mdb_file.h"
#include "jet/format/schema.h"

namespace jet {

struct RowLayout {
    Version version = Version::kJet4;
    size_t size = 0;              // row length in bytes
    uint16_t column_count = 0;    // ncols stored in the row
    size_t fixed_start = 0;       // 1 (Jet 3) or 2 (Jet 4)
    size_t null_mask_offset = 0;  // first byte of the null mask
    size_t null_mask_size = 0;
    bool has_var_area = false;
    uint16_t var_count = 0;             // nvar
    std::vector<uint16_t> var_offsets;  // var_count + 1 entries, the last = eod
    size_t eod_position = 0;            // where the eod field itself sits (0 if none)

    // True when the column is stored in this row (number below ncols).
    bool HasColumn(uint16_t col_num) const { return col_num < column_count; }
    // The null-mask bit: true = not null (or, for a Boolean, true). Absent columns give false.
    // REQUIRES: `row` is the row this layout was parsed from.
    bool MaskBit(ByteSpan row, uint16_t col_num) const {
        if (col_num >= column_count) return false;
        // ParseRowLayout checked that the mask, a byte for every 8 columns below ncols, lies
        // inside the row.
        return (row[null_mask_offset + col_num / 8u] >> (col_num % 8)) & 1;
    }
};

// Parses the layout of a row of table `t`. Throws 3343 when it cannot be a row of this table
// (mask or offset table out of the row, offsets out of order or out of the row).
RowLayout ParseRowLayout(ByteSpan row, Version version, const TableDef& t);
// Same, into `out`, whose offset table keeps its buffer: for readers of many rows (`out` is
// left unspecified when it throws).
void ParseRowLayoutTo(ByteSpan row, Version version, const TableDef& t, RowLayout& out);

// How many variable-offset entries a row of `t` written now carries: the definition's
// num_var_cols, which goes on counting the variable columns deleted since (rows of a table whose
// variable columns are all gone still carry an offset table, each entry equal to the eod), and
// never fewer than the highest variable slot in use. 0: the rows have no variable area at all.
uint16_t RowVarCount(const TableDef& t);

// Jet 3: the length of a row whose bytes but its jump table come to `base` (k = (length - 1) /
// 256 entries, the shortest length that holds them), and jump entry j of a row whose offset
// entries, eod last, are `offsets`: the first entry at or past 256 (j + 1), 0xFF when none.
size_t Jet3RowLength(size_t base);
template <typename Offset>
uint8_t Jet3JumpEntry(const std::vector<Offset>& offsets, size_t j) {
    for (size_t i = 0; i < offsets.size(); ++i)
        if (offsets[i] >= 256 * (j + 1)) return static_cast<uint8_t>(i);
    return 0xFF;
}

// Stored size of a value of `type` in the fixed area (also its size in the variable area for
// fixed-size types, 0 for Boolean); for Text, Binary and fixed binary the declared `length`.
inline uint16_t FixedStorageSize(ColumnType type, uint16_t length) {
    switch (type) {
        case ColumnType::kBoolean:
            return 0;
        case ColumnType::kByte:
            return 1;
        case ColumnType::kInteger:
            return 2;
        case ColumnType::kLong:
        case ColumnType::kSingle:
            return 4;
        case ColumnType::kCurrency:
        case ColumnType::kDouble:
        case ColumnType::kDateTime:
            return 8;
        case ColumnType::kGuid:
            return 16;
        case ColumnType::kNumeric:
            return 17;
        default:
            return length;
    }
}
inline size_t FixedSize(const ColumnDef& c) {
    return FixedStorageSize(c.type, c.length);
}

// Where a column's bytes are in the row: `present` false when the column is absent (reads as
// null), `not_null` is the mask bit, `bytes` the stored bytes (fixed slot or variable span).
struct ColumnSlice {
    bool present = false;
    bool not_null = false;
    size_t offset = 0;
    ByteSpan bytes;
};
// REQUIRES: `row` is the row `l` was parsed from. Inline: decoders call it for every column.
inline ColumnSlice LocateColumn(const RowLayout& l, ByteSpan row, const ColumnDef& c) {
    ColumnSlice s;
    if (!l.HasColumn(c.col_num)) return s;
    s.not_null = l.MaskBit(row, c.col_num);
    if (c.type == ColumnType::kBoolean) {
        s.present = true;
        return s;
    }
    if (c.fixed()) {
        s.present = true;
        s.offset = l.fixed_start + c.fixed_offset;
        const size_t size = FixedSize(c);
        if (s.not_null) s.bytes = Sub(row, s.offset, size, "fixed column");
        return s;
    }
    if (!l.has_var_area || c.var_index >= l.var_count) return s;
    s.present = true;
    s.offset = l.var_offsets[c.var_index];
    s.bytes = row.subspan(s.offset, l.var_offsets[c.var_index + 1u] - s.offset);
    return s;
}

// Decodes the stored bytes of a non-long value (everything but Memo and OLE).
Value DecodeValue(const ColumnDef& c, ByteSpan bytes, Version version, uint16_t code_page);

// Decodes a whole row; Memo and OLE values are read through `file`. REQUIRES: `row` is the data
// row (overflow pointers already followed).
Row DecodeRow(MdbFile& file, const TableDef& t, ByteSpan row);
// Same, into `out`, whose text and binary values keep their buffers for the row's own;
// `long_value` holds a Memo's stored bytes on the way. For readers of many rows.
void DecodeRowTo(MdbFile& file, const TableDef& t, ByteSpan row, Row& out, Bytes& long_value);

// How the Memo and OLE values of a row are read. Without one, a long value is read through the
// file and a broken chain throws; a reader that must go on past damage gives its own.
class LongValueReader {
  public:
    virtual ~LongValueReader() = default;
    // Reads the value whose field (the 12-byte long-value header) is `field`, column `column`
    // of the definition, into `out`; false leaves the value null.
    virtual bool Read(size_t column, ByteSpan field, Bytes& out) = 0;
    // Same, into a buffer of the reader's choosing when it keeps the value anyway (`scratch`
    // otherwise): the value's bytes, valid until the next read, or null for a null value.
    virtual const Bytes* ReadHeld(size_t column, ByteSpan field, Bytes& scratch) {
        return Read(column, field, scratch) ? &scratch : nullptr;
    }
};

// Jet 3 texts a reader takes as their stored code-page bytes, where it needs no more of them
// than to tell them apart (the content digest does that from the bytes: content_checksum.h):
// for each Text or Memo column whose `use` is not kDecode, DecodeRowTo points bytes[i] at the
// value's bytes (a Memo's read into held[i], or where the long-value reader keeps it), valid
// until the next row, and decodes the value as well only with kBytesAndDecode; with kBytes the
// value is left null for DecodeStoredTexts to decode when it is wanted after all. A null value
// gives no bytes.
struct StoredTexts {
    enum Use : uint8_t { kDecode, kBytes, kBytesAndDecode };
    struct Text {
        ByteSpan bytes;
        bool given = false;
    };
    std::vector<Use> use;     // per column; columns past its end are decoded
    std::vector<Text> bytes;  // per column, of the row decoded last
    std::vector<Bytes> held;  // per column, the Memo values read

    // Whether the value of `column` in the row decoded last is a text left to its bytes.
    bool undecoded(size_t column) const {
        return column < use.size() && use[column] == kBytes && column < bytes.size() &&
               bytes[column].given;
    }
};

// DecodeRowTo for a row whose layout the caller parsed already (ParseRowLayout), its long
// values read through `long_values` when given, its texts taken as `texts` asks.
void DecodeRowTo(MdbFile& file, const TableDef& t, const RowLayout& layout, ByteSpan row, Row& out,
                 Bytes& long_value, LongValueReader* long_values = nullptr,
                 StoredTexts* texts = nullptr);

// Decodes into `out` the texts DecodeRowTo left to their bytes (kBytes).
void DecodeStoredTexts(const MdbFile& file, const TableDef& t, const StoredTexts& texts, Row& out);

// Column i of the row alone, as DecodeRowTo decodes it into out[i]: for a reader that needs
// a few columns of a wide row.
void DecodeColumnTo(MdbFile& file, const TableDef& t, const RowLayout& layout, ByteSpan row,
                    size_t i, Value& out, Bytes& long_value, LongValueReader* long_values = nullptr,
                    StoredTexts* texts = nullptr);

// The text code page of a column (its own in Jet 3 when set, else the database's).
uint16_t ColumnCodePage(const ColumnDef& c, uint16_t database_code_page);

}  // namespace jet
