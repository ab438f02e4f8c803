#include "jet/format/tdef.h"

#include <algorithm>
#include <set>
#include <string>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/text_codec.h"

namespace jet {
namespace {

struct HeaderOffsets {
    size_t row_count, autonumber, table_type, max_cols, num_var_cols, num_cols, num_idx,
        num_real_idx, owned_map, free_map, count_blocks;
};

constexpr HeaderOffsets kJet3Header{0x0C, 0x10, 0x14, 0x15, 0x17, 0x19,
                                    0x1B, 0x1F, 0x23, 0x27, 0x2B};
constexpr HeaderOffsets kJet4Header{0x10, 0x14, 0x28, 0x29, 0x2B, 0x2D,
                                    0x2F, 0x33, 0x37, 0x3B, 0x3F};

// Reads a name (u8 / u16 byte length, then code-page bytes / UCS-2) at `off`, advancing it.
// `text` is scratch, kept from one name to the next.
std::string ReadName(ByteSpan def, size_t& off, Version version, uint16_t code_page,
                     std::u16string& text) {
    size_t length;
    if (version == Version::kJet3) {
        length = U8(def, off);
        off += 1;
    } else {
        length = U16(def, off);
        off += 2;
    }
    const ByteSpan bytes = Sub(def, off, length, "name");
    off += length;
    DecodeTextTo(bytes, version, code_page, text);
    return Utf16ToUtf8(text);
}

ColumnDef ParseColumn(ByteSpan d, Version version) {
    ColumnDef c;
    c.descriptor_raw.assign(d.begin(), d.end());
    c.type = static_cast<ColumnType>(d[0]);
    if (version == Version::kJet3) {
        c.col_num = U16(d, 0x01);
        c.var_index = U16(d, 0x03);
        c.sort_order = U16(d, 0x09);
        c.code_page = U16(d, 0x0B);
        c.flags = d[0x0D];
        c.fixed_offset = U16(d, 0x0E);
        c.length = U16(d, 0x10);
    } else {
        c.col_num = U16(d, 0x05);
        c.var_index = U16(d, 0x07);
        if (c.type == ColumnType::kNumeric) {
            c.precision = d[0x0B];
            c.scale = d[0x0C];
            c.sort_order = 0;
        } else {
            c.sort_order = U16(d, 0x0B);
            c.sort_version = d[0x0E];
        }
        c.code_page = 0;
        c.flags = d[0x0F];
        c.ext_flags = d[0x10];
        c.fixed_offset = U16(d, 0x15);
        c.length = U16(d, 0x17);
    }
    return c;
}

RealIndexDef ParseRealIndex(ByteSpan d, Version version) {
    RealIndexDef r;
    r.raw.assign(d.begin(), d.end());
    const size_t base = version == Version::kJet3 ? 0 : 4;
    constexpr size_t kSlots = 10;
    size_t used = 0;
    for (size_t slot = 0; slot < kSlots; ++slot) used += U16(d, base + 3 * slot) != 0xFFFF;
    r.columns.reserve(used);
    for (size_t slot = 0; slot < kSlots; ++slot) {
        const uint16_t col = U16(d, base + 3 * slot);
        if (col == 0xFFFF) continue;
        r.columns.push_back({col, d[base + 3 * slot + 2] == 0x01});
    }
    r.usage_map = U32(d, base + 0x1E);
    r.root_page = U32(d, base + 0x22);
    r.flags = version == Version::kJet3 ? d[0x26] : d[0x2E];
    return r;
}

LogicalIndexDef ParseLogicalIndex(ByteSpan d, Version version) {
    LogicalIndexDef l;
    l.raw.assign(d.begin(), d.end());
    const size_t base = version == Version::kJet3 ? 0 : 4;
    l.number = U32(d, base + 0x00);
    l.real_index = U32(d, base + 0x04);
    l.rel_table_type = d[base + 0x08];
    l.rel_index = static_cast<int32_t>(U32(d, base + 0x09));
    l.rel_table_page = U32(d, base + 0x0D);
    l.cascade_updates = d[base + 0x11];
    l.cascade_deletes = d[base + 0x12];
    l.kind = static_cast<IndexKind>(d[base + 0x13]);
    return l;
}

}  // namespace

TableDef ParseTableDef(ByteSpan def, Version version, uint16_t code_page) {
    const HeaderOffsets& h = version == Version::kJet3 ? kJet3Header : kJet4Header;
    TableDef t;
    t.definition_length = U32(def, 0x08);
    t.row_count = U32(def, h.row_count);
    t.autonumber = U32(def, h.autonumber);
    t.table_type = U8(def, h.table_type);
    t.max_cols = U16(def, h.max_cols);
    t.num_var_cols = U16(def, h.num_var_cols);
    const uint16_t num_cols = U16(def, h.num_cols);
    const uint32_t num_idx = U32(def, h.num_idx);
    const uint32_t num_real_idx = U32(def, h.num_real_idx);
    t.owned_map = U32(def, h.owned_map);
    t.free_map = U32(def, h.free_map);
    t.header_raw.assign(def.begin(), def.begin() + static_cast<std::ptrdiff_t>(h.count_blocks));
    // Jet allows 255 columns and 32 indexes; a little slack tolerates odd files, while a
    // damaged count fails here instead of driving a huge loop.
    if (num_cols > 4096 || num_idx > 1024 || num_real_idx > 1024)
        Corrupt("table definition counts");

    size_t off = h.count_blocks;
    const size_t count_size = RealIndexCountSize(version);
    CheckRange(def, off, count_size * num_real_idx, "index count blocks");
    t.real_indexes.resize(num_real_idx);
    for (uint32_t i = 0; i < num_real_idx; ++i) {
        t.real_indexes[i].entry_count = U32(def, off);
        t.real_indexes[i].unique_count = U32(def, off + 4);
        off += count_size;
    }

    const size_t desc_size = ColumnDescriptorSize(version);
    CheckRange(def, off, desc_size * num_cols, "column descriptors");
    t.columns.reserve(num_cols);
    for (uint16_t i = 0; i < num_cols; ++i) {
        t.columns.push_back(ParseColumn(def.subspan(off, desc_size), version));
        off += desc_size;
    }
    std::u16string text;
    for (ColumnDef& c : t.columns) c.name = ReadName(def, off, version, code_page, text);

    const size_t real_size = RealIndexDefSize(version);
    CheckRange(def, off, real_size * num_real_idx, "real index definitions");
    for (uint32_t i = 0; i < num_real_idx; ++i) {
        RealIndexDef parsed = ParseRealIndex(def.subspan(off, real_size), version);
        parsed.entry_count = t.real_indexes[i].entry_count;
        parsed.unique_count = t.real_indexes[i].unique_count;
        t.real_indexes[i] = std::move(parsed);
        off += real_size;
    }

    const size_t logical_size = LogicalIndexDefSize(version);
    CheckRange(def, off, logical_size * num_idx, "logical index definitions");
    t.indexes.reserve(num_idx);
    for (uint32_t i = 0; i < num_idx; ++i) {
        t.indexes.push_back(ParseLogicalIndex(def.subspan(off, logical_size), version));
        off += logical_size;
    }
    for (LogicalIndexDef& l : t.indexes) l.name = ReadName(def, off, version, code_page, text);

    // Long-value column maps, up to the FF FF terminator (absent in some old definitions).
    while (off + 2 <= def.size() && U16(def, off) != 0xFFFF) {
        LongValueColumnMaps m;
        m.col_num = U16(def, off);
        m.owned_map = U32(def, off + 2);
        m.free_map = U32(def, off + 6);
        t.long_value_maps.push_back(m);
        off += 10;
    }

    t.descriptor_order.reserve(t.columns.size());
    for (const ColumnDef& c : t.columns) t.descriptor_order.push_back(c.col_num);
    const auto by_number = [](const ColumnDef& a, const ColumnDef& b) {
        return a.col_num < b.col_num;
    };
    // Most definitions list their columns in number order already (the sort would still
    // allocate its buffer and move every column).
    if (!std::is_sorted(t.columns.begin(), t.columns.end(), by_number))
        std::stable_sort(t.columns.begin(), t.columns.end(), by_number);
    return t;
}

TableDef ReadTableDef(MdbFile& file, uint32_t page) {
    Bytes def;
    def.reserve(file.page_size());
    std::vector<uint32_t> pages;
    // Nearly every chain is a page or two: a set is kept only for a long one.
    constexpr size_t kShortChain = 16;
    std::set<uint32_t> seen;
    uint32_t next = page;
    Bytes buffer;
    while (next != 0) {
        bool again;
        if (pages.size() < kShortChain) {
            again = std::find(pages.begin(), pages.end(), next) != pages.end();
        } else {
            if (seen.empty()) seen.insert(pages.begin(), pages.end());
            again = !seen.insert(next).second;
        }
        if (again) file.Corrupt("table definition chain loops at page " + std::to_string(next));
        const ByteSpan stored = file.ViewPage(next, buffer);
        if (stored[0] != kPageTableDef || stored[1] != 0x01)
            file.Corrupt("page " + std::to_string(next) + " is not a table definition page");
        pages.push_back(next);
        def.insert(def.end(), stored.begin() + (def.empty() ? 0 : 8), stored.end());
        next = U32(stored, 4);
    }
    // Parse only up to tdef_len when it is plausible: what follows on the last page is slack.
    const uint32_t stored_length = def.size() >= 12 ? U32(def, 8) : 0;
    if (stored_length >= 12 && stored_length <= def.size()) def.resize(stored_length);
    TableDef t;
    try {
        t = ParseTableDef(def, file.version(), file.header().code_page);
    } catch (const JetError&) {
        file.Corrupt("table definition at page " + std::to_string(page) + " does not parse");
    }
    t.tdef_page = page;
    t.definition_pages = std::move(pages);
    t.definition_raw = std::move(def);
    return t;
}

}  // namespace jet
