#include "jet/format/usage_map.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "jet/format/data_page.h"

namespace jet {
namespace {

void AddBits(ByteSpan bitmap, uint64_t first_page, uint64_t limit, std::vector<uint32_t>& pages) {
    // Bits past the limit mean nothing (a map of a few pages may mark every page after them).
    const size_t bytes =
        first_page >= limit
            ? 0
            : static_cast<size_t>(std::min<uint64_t>(bitmap.size(), (limit - first_page + 7) / 8));
    // Counted first, so that the pages grow once.
    size_t set = 0;
    size_t at = 0;
    for (; at + 8 <= bytes; at += 8) {
        uint64_t word;
        std::memcpy(&word, bitmap.data() + at, 8);
        set += static_cast<size_t>(std::popcount(word));
    }
    for (; at < bytes; ++at) set += static_cast<size_t>(std::popcount(bitmap[at]));
    if (set == 0) return;
    // (Geometrically, as a reference map adds page after page.)
    if (pages.capacity() - pages.size() < set)
        pages.reserve(std::max(pages.size() + set, 2 * pages.capacity()));
    size_t i = 0;
    while (i < bytes) {
        // Maps are mostly zeros: eight clear bytes are passed over at once.
        if (bytes - i >= 8) {
            uint64_t word;
            std::memcpy(&word, bitmap.data() + i, 8);
            if (word == 0) {
                i += 8;
                continue;
            }
        }
        for (unsigned bits = bitmap[i]; bits != 0; bits &= bits - 1) {
            const uint64_t page =
                first_page + 8 * i + static_cast<uint64_t>(std::countr_zero(bits));
            if (page < limit) pages.push_back(static_cast<uint32_t>(page));
        }
        ++i;
    }
}

}  // namespace

bool UsageMap::Contains(uint32_t page) const {
    return std::binary_search(pages.begin(), pages.end(), page);
}

UsageMap DecodeUsageMap(MdbFile& file, ByteSpan row) {
    UsageMap map;
    map.type = U8(row, 0);
    if (map.type == 0) {
        map.start = U32(row, 1);
        const ByteSpan bitmap = row.subspan(std::min<size_t>(5, row.size()));
        CheckRange(row, 0, 5, "usage map");
        map.end = uint64_t{map.start} + 8 * bitmap.size();
        AddBits(bitmap, map.start, uint64_t{UINT32_MAX} + 1, map.pages);
        return map;
    }
    if (map.type != 1) Corrupt("unknown usage map type " + std::to_string(map.type));
    const uint64_t per_page = uint64_t{file.page_size() - 4} * 8;
    const size_t refs = (row.size() - 1) / 4;
    map.end = per_page * refs;
    Bytes scratch;
    for (size_t j = 0; j < refs; ++j) {
        const uint32_t page = U32(row, 1 + 4 * j);
        map.bitmap_pages.push_back(page);
        // Bits for pages past the end of the file mean nothing; skipping them also bounds the
        // work a damaged map can cause.
        if (page == 0 || per_page * j >= file.page_count()) continue;
        const ByteSpan bitmap_page = file.ViewPage(page, scratch);
        if (bitmap_page[0] != kPageUsageBitmap)
            file.Corrupt("usage map references page " + std::to_string(page) +
                         " that is not a bitmap page");
        AddBits(bitmap_page.subspan(4), per_page * j, file.page_count(), map.pages);
    }
    return map;
}

Bytes ReadRowAt(MdbFile& file, uint32_t row_pointer) {
    Bytes scratch;
    const ByteSpan row = ViewRowAt(file, row_pointer, scratch);
    return Bytes(row.begin(), row.end());
}

ByteSpan ViewRowAt(MdbFile& file, uint32_t row_pointer, Bytes& scratch) {
    const RowPointer at = RowPointer::FromPacked(row_pointer);
    const ByteSpan page = file.ViewPage(at.page, scratch);
    if (page[0] != kPageData)
        file.Corrupt("row pointer to page " + std::to_string(at.page) + " is not a data page");
    return DataPage(page, file.version()).row(at.row);
}

UsageMap ReadUsageMap(MdbFile& file, uint32_t row_pointer) {
    // The row is copied: reading the map's bitmap pages may replace the page it is on.
    Bytes scratch;
    const ByteSpan row = ViewRowAt(file, row_pointer, scratch);
    if (!row.empty() && row[0] == 0) return DecodeUsageMap(file, row);  // reads no page
    const Bytes copy(row.begin(), row.end());
    return DecodeUsageMap(file, copy);
}

UsageMap ReadGlobalUsageMap(MdbFile& file) {
    return ReadUsageMap(file, RowPointer{1, 0}.Packed());
}

}  // namespace jet
