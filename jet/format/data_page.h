// Data pages (type 0x01): table rows, long-value (LVAL) rows and usage-map rows.
//
// Layout (Jet 3 / Jet 4 offsets):
//   00 u8 0x01, 01 u8 0x01, 02 u16 free space, 04 u32 owner (TDEF page, "LVAL", or 0)
//   Jet 4 only: 08 u32 unknown
//   08 / 0C u16 row count n, then n u16 row offsets
// Row offset entry: low 13 bits = start of the row in the page; 0x8000 deleted (also set alone
// on the target of an overflow row), 0x4000 overflow pointer row. Rows are packed downwards
// from the end of the page: row i spans [start_i, end_i) with end_0 = page size and
// end_i = start_(i-1). Bounds are checked when a row is taken, not when the page is parsed,
// since deleted rows may hold anything.
#pragma once

#include <compare>
#include <cstdint>

#include "jet/base/bytes.h"
#include "jet/format/schema.h"

namespace jet {

constexpr uint8_t kPageData = 0x01;
constexpr uint8_t kPageTableDef = 0x02;
constexpr uint8_t kPageIndexNode = 0x03;
constexpr uint8_t kPageIndexLeaf = 0x04;
constexpr uint8_t kPageUsageBitmap = 0x05;

constexpr uint16_t kRowDeleted = 0x8000;
constexpr uint16_t kRowOverflow = 0x4000;
constexpr uint16_t kRowOffsetMask = 0x1FFF;
constexpr uint32_t kLvalOwner = 0x4C41564C;  // "LVAL" read as a little-endian u32
constexpr int kMaxRowsPerPage = 255;

inline size_t DataPageRowCountOffset(Version v) {
    return v == Version::kJet3 ? 0x08 : 0x0C;
}
inline size_t DataPageHeaderSize(Version v) {
    return v == Version::kJet3 ? 0x0A : 0x0E;
}

// A row's address: page and row number (0..254).
struct RowLocation {
    uint32_t page = 0;
    uint16_t row = 0;
    bool operator==(const RowLocation&) const = default;
    auto operator<=>(const RowLocation&) const = default;
};

class DataPage {
  public:
    // Parses the header of a data page. Throws 3343 when the page is not a data page or the
    // row offset table does not fit.
    DataPage(ByteSpan page, Version version);

    uint16_t free_space() const { return U16(page_, 2); }
    uint32_t owner() const { return U32(page_, 4); }
    uint16_t row_count() const { return row_count_; }
    // The raw offset entry of row i (offset and flags). REQUIRES: i < row_count().
    uint16_t entry(uint16_t i) const;
    bool deleted(uint16_t i) const { return (entry(i) & kRowDeleted) != 0; }
    bool overflow(uint16_t i) const { return (entry(i) & kRowOverflow) != 0; }
    // The row's bytes. Throws 3343 when its bounds are not inside the page.
    ByteSpan row(uint16_t i) const;
    // Start and end offsets of row i without checking them.
    uint16_t row_start(uint16_t i) const { return entry(i) & kRowOffsetMask; }
    uint32_t row_end(uint16_t i) const;
    ByteSpan bytes() const { return page_; }

  private:
    ByteSpan page_;
    Version version_;
    uint16_t row_count_ = 0;
};

// True when page bytes start like a data page (type 0x01) of this owner.
bool IsDataPageOf(ByteSpan page, uint32_t owner);

}  // namespace jet
