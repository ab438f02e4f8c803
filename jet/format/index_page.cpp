// Index page decoder; the layout is described in index_page.h.
#include "jet/format/index_page.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "jet/base/error.h"

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

void DecodeIndexPageTo(Version version, std::span<const uint8_t> page, PackedIndexPage& packed) {
    const IndexPageLayout& l = IndexLayout(version);
    if (page.size() != l.page_size) Damaged("wrong page size");
    IndexPage& out = packed.header;
    out.entries.clear();
    packed.entries.clear();
    out.type = page[0];
    if (out.type != kPageIndexNode && out.type != kPageIndexLeaf) {
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
    // The first entry is stored whole: the later ones' shared prefix is its first bytes.
    const uint8_t* prefix = page.data() + l.first_entry;
    size_t start = 0;  // of the current entry, relative to the first entry
    // The keys are written over the buffer from its start, which keeps the size it once grew
    // to: appending a few bytes per entry through the vector, or clearing the buffer for each
    // page, would cost more than the entry.
    Bytes& keys = packed.keys;
    // A page's keys rarely take more than the page (each entry's prefix shared is its only
    // growth), so the first page grows the buffer once instead of doubling it entry by entry.
    if (keys.size() < l.page_size) keys.resize(l.page_size);
    // Likewise the entries: room for one every 8 bytes, more than most pages hold.
    packed.entries.reserve(capacity / 8);
    size_t used = 0;
    const auto append = [&keys, &used](const uint8_t* p, size_t n) {
        if (keys.size() - used < n) keys.resize(std::max(2 * keys.size(), used + n));
        std::memcpy(keys.data() + used, p, n);
        used += n;
    };
    const uint8_t* bitmap = page.data() + l.bitmap_offset;
    for (uint32_t at_byte = 0; at_byte * 8 <= capacity; ++at_byte) {
        // Most of the bitmap is clear: eight clear bytes are passed over at once.
        if (at_byte % 8 == 0 && at_byte * 8 + 64 <= capacity + 1) {
            uint64_t word;
            std::memcpy(&word, bitmap + at_byte, 8);
            if (word == 0) {
                at_byte += 7;
                continue;
            }
        }
        unsigned bits = bitmap[at_byte];
        // Bits past the usable area are the check below's.
        if (at_byte * 8 + 7 > capacity) bits &= (1u << (capacity - at_byte * 8 + 1)) - 1;
        for (; bits != 0; bits &= bits - 1) {
            const uint32_t bit = at_byte * 8 + static_cast<uint32_t>(std::countr_zero(bits));
            const size_t end = bit;
            if (end <= start) Damaged("empty entry");
            const uint8_t* data = page.data() + l.first_entry + start;
            // The whole entry goes to the end of the keys, then all but its key is cut off. The
            // shared prefix covers whole entry bytes: it may reach into the row pointer.
            const size_t at = used;
            if (packed.entries.empty()) {
                if (out.prefix_length > end - start) {
                    Damaged("shared prefix longer than the first entry");
                }
            } else {
                append(prefix, out.prefix_length);
            }
            append(data, end - start);
            const size_t size = used - at;
            if (size < trailer) Damaged("entry shorter than its row pointer");
            const size_t key_size = size - trailer;
            const uint8_t* tail = keys.data() + at + key_size;
            PackedIndexEntry e;
            e.key_at = static_cast<uint32_t>(at);
            e.key_size = static_cast<uint32_t>(key_size);
            e.data_page = Be(tail, 3);
            e.data_row = tail[3];
            if (!out.leaf()) e.child_page = Be(tail + 4, 4);
            used = at + key_size;
            packed.entries.push_back(e);
            start = end;
        }
    }
    // Bits past the usable area must be clear.
    for (uint32_t bit = capacity + 1; bit < l.bitmap_size * 8; ++bit) {
        const uint8_t byte = page[l.bitmap_offset + bit / 8];
        if (byte & (1u << (bit % 8)))
            Damaged("entry bitmap marks an entry past the end of the page");
        if (byte == 0) bit |= 7;
    }
    out.entries_end = static_cast<uint32_t>(l.first_entry + start);
}

IndexPage DecodeIndexPage(Version version, std::span<const uint8_t> page) {
    PackedIndexPage packed;
    DecodeIndexPageTo(version, page, packed);
    IndexPage out = std::move(packed.header);
    out.entries.reserve(packed.entries.size());
    for (const PackedIndexEntry& p : packed.entries) {
        const ByteSpan key = packed.key(p);
        IndexEntry e;
        e.key.assign(key.begin(), key.end());
        e.data_page = p.data_page;
        e.data_row = p.data_row;
        e.child_page = p.child_page;
        out.entries.push_back(std::move(e));
    }
    return out;
}

Bytes EncodeIndexPage(Version version, const IndexPage& page, bool share_prefix) {
    const IndexPageLayout& l = IndexLayout(version);
    Bytes out(l.page_size, 0);
    const bool leaf_page = page.type == kPageIndexLeaf;
    // Whole entries as stored without a prefix: key, row pointer, child pointer.
    std::vector<Bytes> whole;
    whole.reserve(page.entries.size());
    for (const IndexEntry& e : page.entries) {
        Bytes b = e.key;
        for (int i = 2; i >= 0; --i) b.push_back(static_cast<uint8_t>(e.data_page >> (8 * i)));
        b.push_back(e.data_row);
        if (!leaf_page) {
            for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(e.child_page >> (8 * i)));
        }
        whole.push_back(std::move(b));
    }
    // Jet shares the longest prefix common to all entries; every later entry must keep at least
    // one byte of its own so that its end is distinct.
    size_t prefix = 0;
    if (share_prefix && whole.size() > 1) {
        prefix = whole[0].size();
        for (size_t i = 1; i < whole.size(); ++i) {
            size_t n = 0;
            while (n < prefix && n < whole[i].size() && whole[i][n] == whole[0][n]) ++n;
            prefix = std::min(n, whole[i].size() - 1);
        }
    }
    const size_t max_prefix = l.prefix_size == 1 ? 0xFF : 0xFFFF;
    if (prefix > max_prefix) prefix = max_prefix;

    auto put_le = [&](size_t at, uint32_t v, size_t width) {
        for (size_t i = 0; i < width; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    out[0] = page.type;
    out[1] = 0x01;
    put_le(4, page.owner, 4);
    put_le(l.prev_offset, page.prev_page, 4);
    put_le(l.next_offset, page.next_page, 4);
    put_le(l.tail_offset, leaf_page ? 0 : page.tail_page, 4);
    put_le(l.prefix_offset, static_cast<uint32_t>(prefix), l.prefix_size);
    out[l.level_offset] = leaf_page ? 0 : 1;

    size_t pos = l.first_entry;
    for (size_t i = 0; i < whole.size(); ++i) {
        const size_t skip = i == 0 ? 0 : prefix;
        const size_t size = whole[i].size() - skip;
        if (pos + size > l.page_size) {
            RaiseWithDetail(kRecordTooLarge, "", "index entries do not fit in one page");
        }
        std::copy(whole[i].begin() + static_cast<ptrdiff_t>(skip), whole[i].end(),
                  out.begin() + static_cast<ptrdiff_t>(pos));
        pos += size;
        const size_t bit = pos - l.first_entry;
        out[l.bitmap_offset + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    }
    put_le(2, static_cast<uint32_t>(l.page_size - pos), 2);
    return out;
}

}  // namespace jet
