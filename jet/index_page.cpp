// Index page decoder; the layout is described in index_page.h.
#include "jet/index_page.h"

#include <algorithm>

#include "jet/error.h"

namespace jet {
namespace {

constexpr IndexPageLayout kJet3Layout{2048, 0x08, 0x0C, 0x10, 0x14, 1, 0x15, 0x16, 226, 0xF8};
constexpr IndexPageLayout kJet4Layout{4096, 0x0C, 0x10, 0x14, 0x18, 2, 0x1A, 0x1B, 453, 0x1E0};

uint32_t Le(std::span<const uint8_t> p, size_t at, size_t width) {
    uint32_t v = 0;
    for (size_t i = 0; i < width; ++i) v |= static_cast<uint32_t>(p[at + i]) << (8 * i);
    return v;
}

uint32_t Be(const uint8_t* p, size_t width) {
    uint32_t v = 0;
    for (size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
    return v;
}

[[noreturn]] void Damaged(const std::string& what) {
    throw JetError(kUnrecognizedFormat, "damaged index page: " + what);
}

}  // namespace

const IndexPageLayout& IndexLayout(Version version) {
    return version == Version::kJet3 ? kJet3Layout : kJet4Layout;
}

IndexPage DecodeIndexPage(Version version, std::span<const uint8_t> page) {
    const IndexPageLayout& l = IndexLayout(version);
    if (page.size() != l.page_size) Damaged("wrong page size");
    IndexPage out;
    out.type = page[0];
    if (out.type != kIndexNodePageType && out.type != kIndexLeafPageType) {
        Damaged("type byte " + std::to_string(out.type) + " is not an index page");
    }
    out.free_space = static_cast<uint16_t>(Le(page, 2, 2));
    out.owner = Le(page, 4, 4);
    out.prev_page = Le(page, l.prev_offset, 4);
    out.next_page = Le(page, l.next_offset, 4);
    out.tail_page = Le(page, l.tail_offset, 4);
    out.prefix_length = static_cast<uint16_t>(Le(page, l.prefix_offset, l.prefix_size));
    out.level = page[l.level_offset];

    const size_t trailer = out.leaf() ? 4 : 8;
    const uint32_t capacity = l.page_size - l.first_entry;
    size_t start = 0;  // of the current entry, relative to the first entry
    Bytes prefix;
    for (uint32_t bit = 0; bit <= capacity; ++bit) {
        if (!(page[l.bitmap_offset + bit / 8] & (1u << (bit % 8)))) continue;
        const size_t end = bit;
        if (end <= start) Damaged("empty entry");
        const size_t length = end - start;
        const uint8_t* data = page.data() + l.first_entry + start;
        const bool first = out.entries.empty();
        if (length < trailer) Damaged("entry shorter than its row pointer");
        IndexEntry e;
        const size_t stored_key = length - trailer;
        if (first) {
            if (out.prefix_length > stored_key) Damaged("shared prefix longer than the first key");
            e.key.assign(data, data + stored_key);
            prefix.assign(data, data + out.prefix_length);
        } else {
            e.key.reserve(prefix.size() + stored_key);
            e.key = prefix;
            e.key.insert(e.key.end(), data, data + stored_key);
        }
        e.data_page = Be(data + stored_key, 3);
        e.data_row = data[stored_key + 3];
        if (!out.leaf()) e.child_page = Be(data + stored_key + 4, 4);
        out.entries.push_back(std::move(e));
        start = end;
    }
    // Bits past the usable area must be clear.
    for (uint32_t bit = capacity + 1; bit < l.bitmap_size * 8; ++bit) {
        if (page[l.bitmap_offset + bit / 8] & (1u << (bit % 8))) {
            Damaged("entry bitmap marks an entry past the end of the page");
        }
    }
    out.entries_end = static_cast<uint32_t>(l.first_entry + start);
    return out;
}

Bytes EncodeIndexPage(Version version, const IndexPage& page, bool share_prefix) {
    const IndexPageLayout& l = IndexLayout(version);
    Bytes out(l.page_size, 0);
    const bool leaf = page.type == kIndexLeafPageType;
    size_t prefix = 0;
    if (share_prefix && page.entries.size() > 1) {
        prefix = page.entries[0].key.size();
        for (const IndexEntry& e : page.entries) {
            size_t n = 0;
            while (n < prefix && n < e.key.size() && e.key[n] == page.entries[0].key[n]) ++n;
            prefix = n;
        }
    }
    const size_t max_prefix = l.prefix_size == 1 ? 0xFF : 0xFFFF;
    if (prefix > max_prefix) prefix = max_prefix;

    auto put_le = [&](size_t at, uint32_t v, size_t width) {
        for (size_t i = 0; i < width; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put_be = [&](size_t at, uint32_t v, size_t width) {
        for (size_t i = 0; i < width; ++i) {
            out[at + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
        }
    };
    out[0] = page.type;
    out[1] = 0x01;
    put_le(4, page.owner, 4);
    put_le(l.prev_offset, page.prev_page, 4);
    put_le(l.next_offset, page.next_page, 4);
    put_le(l.tail_offset, leaf ? 0 : page.tail_page, 4);
    put_le(l.prefix_offset, static_cast<uint32_t>(prefix), l.prefix_size);
    out[l.level_offset] = leaf ? 0 : 1;

    size_t pos = l.first_entry;
    for (size_t i = 0; i < page.entries.size(); ++i) {
        const IndexEntry& e = page.entries[i];
        const size_t skip = i == 0 ? 0 : prefix;
        const size_t size = e.key.size() - skip + (leaf ? 4 : 8);
        if (pos + size > l.page_size) {
            RaiseWithDetail(kRecordTooLarge, "", "index entries do not fit in one page");
        }
        std::copy(e.key.begin() + static_cast<ptrdiff_t>(skip), e.key.end(),
                  out.begin() + static_cast<ptrdiff_t>(pos));
        pos += e.key.size() - skip;
        put_be(pos, e.data_page, 3);
        out[pos + 3] = e.data_row;
        if (!leaf) put_be(pos + 4, e.child_page, 4);
        pos += leaf ? 4 : 8;
        const size_t bit = pos - l.first_entry;
        out[l.bitmap_offset + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    }
    put_le(2, static_cast<uint32_t>(l.page_size - pos), 2);
    return out;
}

}  // namespace jet
