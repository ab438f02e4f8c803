// Usage maps: sets of pages, stored as a row on a data page.
//
//   type 0 (inline):    u8 0, u32 start, bitmap; bit b of byte i (LSB first) <=> page start+8i+b
//   type 1 (reference): u8 1, then u32 page numbers of bitmap pages (type 0x05, 0 = none);
//                       bitmap page j covers pages j*B .. (j+1)*B-1, B = (page_size - 4) * 8,
//                       its bitmap starting at offset 4 after the header 05 01 00 00
// Tables own two maps (owned pages, pages with free space); every real index and every long-value
// column has its own. Page 1 row 0 is the global map, where a set bit means the page is FREE.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/format/mdb_file.h"

namespace jet {

struct UsageMap {
    uint8_t type = 0;                    // 0 inline, 1 reference
    uint32_t start = 0;                  // first page covered (inline maps)
    uint64_t end = 0;                    // one past the last page covered
    std::vector<uint32_t> pages;         // pages whose bit is set, ascending
    std::vector<uint32_t> bitmap_pages;  // reference maps: the type-0x05 pages, 0 for none

    bool Covers(uint32_t page) const { return page >= start && page < end; }
    bool Contains(uint32_t page) const;
};

// Decodes a usage-map row. Bitmap pages of a reference map are read from `file`; a reference
// to a page past the end of the file or one that is not a bitmap page raises 3343.
UsageMap DecodeUsageMap(MdbFile& file, ByteSpan row);

// Reads the map stored at a row pointer (page << 8 | row).
UsageMap ReadUsageMap(MdbFile& file, uint32_t row_pointer);

// The raw row bytes at a row pointer on a data page (bounds-checked).
Bytes ReadRowAt(MdbFile& file, uint32_t row_pointer);
// Same without a copy: a view of the page (MdbFile::ViewPage, read into `scratch` when the
// read-ahead does not hold it), valid until the next read or write through `file`.
ByteSpan ViewRowAt(MdbFile& file, uint32_t row_pointer, Bytes& scratch);

// The global usage map (page 1, row 0): `pages` are the pages marked free.
UsageMap ReadGlobalUsageMap(MdbFile& file);

}  // namespace jet
