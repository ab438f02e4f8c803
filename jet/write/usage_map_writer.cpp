#include "jet/write/usage_map_writer.h"

#include <algorithm>
#include <stdexcept>

#include "jet/base/error.h"
#include "jet/base/put_bytes.h"

namespace jet {

Bytes InlineUsageMap(uint32_t start, size_t bitmap_bytes, const std::vector<uint32_t>& pages) {
    Bytes row(5 + bitmap_bytes, 0);
    row[0] = 0x00;
    PutU32(&row[1], start);
    for (uint32_t p : pages) {
        if (p < start || p - start >= bitmap_bytes * 8)
            throw std::logic_error("page outside an inline usage map");
        uint32_t bit = p - start;
        row[5 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    }
    return row;
}

UsageMapImage ReferenceUsageMap(const std::vector<uint32_t>& pages, uint32_t set_from,
                                uint32_t set_to, Version version, size_t entries,
                                const std::function<uint32_t()>& allocate, size_t covered) {
    const uint32_t per = PagesPerBitmapPage(version);
    const uint32_t ps = PageSize(version);
    UsageMapImage out;
    out.row.assign(1 + 4 * entries, 0);
    out.row[0] = 0x01;
    size_t next = 0;  // index into pages
    for (size_t j = 0; j < entries; ++j) {
        const uint64_t lo = static_cast<uint64_t>(j) * per;
        const uint64_t hi = lo + per;
        const bool any_listed = next < pages.size() && pages[next] < hi;
        const bool any_range = set_from < set_to && set_from < hi && set_to > lo;
        if (!any_listed && !any_range && j >= covered) continue;
        Bytes image(ps, 0);
        image[0] = 0x05;
        image[1] = 0x01;
        for (; next < pages.size() && pages[next] < hi; ++next) {
            uint32_t bit = static_cast<uint32_t>(pages[next] - lo);
            image[4 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
        }
        if (any_range) {
            uint64_t from = std::max<uint64_t>(set_from, lo), to = std::min<uint64_t>(set_to, hi);
            for (uint64_t p = from; p < to; ++p) {
                uint32_t bit = static_cast<uint32_t>(p - lo);
                image[4 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
            }
        }
        uint32_t page = allocate();
        PutU32(&out.row[1 + 4 * j], page);
        out.bitmap_pages.push_back(page);
        out.bitmap_page_images.push_back(std::move(image));
    }
    if (next < pages.size()) Raise(kDatabaseFull);  // beyond what the map can address
    return out;
}

UsageMapImage BuildUsageMap(const std::vector<uint32_t>& pages, Version version,
                            size_t bitmap_bytes, const std::function<uint32_t()>& allocate) {
    UsageMapImage out;
    if (pages.empty()) {
        out.row = InlineUsageMap(0, bitmap_bytes, {});
        return out;
    }
    const uint32_t start = pages.front() & ~7u;
    if (pages.back() - start < bitmap_bytes * 8) {
        out.row = InlineUsageMap(start, bitmap_bytes, pages);
        return out;
    }
    return ReferenceUsageMap(pages, 0, 0, version, (bitmap_bytes + 4) / 4, allocate);
}

}  // namespace jet
