// Builds usage maps (docs/format.md 7): the row that lists a set of pages.
//
//   type 0 (inline):    u8 0 | u32 start (multiple of 8) | bitmap, bit b of byte i = page
//                       start + 8i + b
//   type 1 (reference): u8 1 | u32 bitmap page [k]; bitmap page j (type 0x05: 05 01 00 00, then
//                       the bitmap from offset 4) covers pages j*B .. (j+1)*B-1,
//                       B = (page_size - 4) * 8; 0 = no page of that range is listed
// Table, index and long-value maps are rows of 5 + 128 (Jet 3) / 5 + 64 (Jet 4) bytes, as Access
// and Jackcess create them. A set that fits the inline bitmap is written inline; a wider one
// as a reference map of the same row length (33 / 17 entries: enough for the largest file of
// each version).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

// Bitmap bytes of a table-level inline map.
inline size_t UsageMapBitmapBytes(Version v) {
    return v == Version::kJet3 ? 128 : 64;
}

struct UsageMapImage {
    Bytes row;                              // the map row
    std::vector<uint32_t> bitmap_pages;     // reference maps: the type-0x05 pages to write...
    std::vector<Bytes> bitmap_page_images;  // ...and their images
};

// Builds the map of `pages` (sorted, unique). Reference maps need bitmap pages; `allocate`
// hands out their page numbers. `bitmap_bytes` is the inline bitmap size (row = 5 + it).
UsageMapImage BuildUsageMap(const std::vector<uint32_t>& pages, Version version,
                            size_t bitmap_bytes, const std::function<uint32_t()>& allocate);

// An inline map row of `bitmap_bytes` with the given start and the listed pages set (REQUIRES:
// every page within range). Used for the global map too.
Bytes InlineUsageMap(uint32_t start, size_t bitmap_bytes, const std::vector<uint32_t>& pages);

// Pages covered by one reference-map bitmap page.
inline uint32_t PagesPerBitmapPage(Version v) {
    return (PageSize(v) - 4) * 8;
}

// A reference-map row with `entries` slots, with bits set for `pages` (sorted, unique) and for
// every page in [set_from, set_to) (the global map marks pages past the end of the file as
// free). A bitmap page is made for each of the first `covered` ranges (the global map covers
// the whole file) and for any later range holding a set bit.
UsageMapImage ReferenceUsageMap(const std::vector<uint32_t>& pages, uint32_t set_from,
                                uint32_t set_to, Version version, size_t entries,
                                const std::function<uint32_t()>& allocate, size_t covered = 0);

}  // namespace jet
