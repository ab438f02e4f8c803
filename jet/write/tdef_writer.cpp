#include "jet/write/tdef_writer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "jet/base/put_bytes.h"
#include "jet/format/row_codec.h"
#include "jet/format/text_codec.h"

namespace jet {

namespace {

constexpr uint32_t kMagic1625 = 1625;
constexpr uint32_t kMagic1923 = 1923;

// Starts a structure from its stored bytes when they have the expected size, else zeros.
Bytes Base(const Bytes& raw, size_t size) {
    if (raw.size() == size) return raw;
    return Bytes(size, 0);
}

void AppendColumn(Bytes& out, const ColumnDef& c, Version v, size_t size) {
    const bool fresh = c.descriptor_raw.size() != size;
    Bytes d = Base(c.descriptor_raw, size);
    d[0] = static_cast<uint8_t>(c.type);
    if (v == Version::kJet3) {
        PutU16(&d[1], c.col_num);
        PutU16(&d[3], c.var_index);
        if (fresh) PutU16(&d[5], c.col_num);  // Access 97 repeats the number in user tables
        PutU16(&d[9], c.sort_order);
        PutU16(&d[11], c.code_page);
        d[13] = c.flags;
        PutU16(&d[14], c.fixed_offset);
        PutU16(&d[16], c.length);
    } else {
        if (fresh) PutU32(&d[1], kMagic1625);
        PutU16(&d[5], c.col_num);
        PutU16(&d[7], c.var_index);
        if (c.type == ColumnType::kNumeric) {
            d[11] = c.precision;
            d[12] = c.scale;
        } else {
            PutU16(&d[11], c.sort_order);
            if (c.type == ColumnType::kText || c.type == ColumnType::kMemo) d[14] = c.sort_version;
        }
        d[15] = c.flags;
        d[16] = c.ext_flags;
        PutU16(&d[21], c.fixed_offset);
        PutU16(&d[23], c.length);
    }
    out.insert(out.end(), d.begin(), d.end());
}

void AppendRealIndex(Bytes& out, const RealIndexDef& r, Version v, size_t size) {
    if (r.columns.empty() || r.columns.size() > 10)
        throw std::invalid_argument("an index has 1 to 10 columns");
    const bool fresh = r.raw.size() != size;
    Bytes d = Base(r.raw, size);
    size_t at = v == Version::kJet3 ? 0 : 4;
    if (v == Version::kJet4 && fresh) PutU32(&d[0], kMagic1923);
    for (size_t i = 0; i < 10; ++i, at += 3) {
        if (i < r.columns.size()) {
            PutU16(&d[at], r.columns[i].col_num);
            d[at + 2] = r.columns[i].ascending ? 0x01 : 0x00;
        } else {
            PutU16(&d[at], 0xFFFF);
            if (fresh) d[at + 2] = 0;
        }
    }
    PutU32(&d[at], r.usage_map);
    PutU32(&d[at + 4], r.root_page);
    if (v == Version::kJet3) {
        d[at + 8] = static_cast<uint8_t>(r.flags & ~kJet4IndexFlag);
    } else {
        d[at + 12] = static_cast<uint8_t>(r.flags | kJet4IndexFlag);
    }
    out.insert(out.end(), d.begin(), d.end());
}

void AppendLogicalIndex(Bytes& out, const LogicalIndexDef& l, Version v, size_t size) {
    const bool fresh = l.raw.size() != size;
    Bytes d = Base(l.raw, size);
    size_t at = 0;
    if (v == Version::kJet4) {
        if (fresh) PutU32(&d[0], kMagic1625);
        at = 4;
    }
    PutU32(&d[at], l.number);
    PutU32(&d[at + 4], l.real_index);
    d[at + 8] = l.rel_table_type;
    PutU32(&d[at + 9], static_cast<uint32_t>(l.rel_index));
    PutU32(&d[at + 13], l.rel_table_page);
    uint8_t cu = l.cascade_updates, cd = l.cascade_deletes;
    // Access writes 04 04 in the cascade bytes of indexes that are not foreign keys.
    if (fresh && l.kind != IndexKind::kForeignKey && cu == 0 && cd == 0) cu = cd = 4;
    d[at + 17] = cu;
    d[at + 18] = cd;
    d[at + 19] = static_cast<uint8_t>(l.kind);
    out.insert(out.end(), d.begin(), d.end());
}

// A column or index name as stored: Jet 3 u8 length + code-page bytes, Jet 4 u16 byte length +
// UCS-2LE (names are never compressed).
Bytes EncodeTdefName(const std::string& utf8, Version v, uint16_t code_page) {
    std::u16string name = Utf8ToUtf16(utf8);
    if (name.size() > 255) name.resize(255);
    Bytes out;
    if (v == Version::kJet3) {
        Bytes text = EncodeCodePage(name, code_page);
        out.push_back(static_cast<uint8_t>(text.size()));
        out.insert(out.end(), text.begin(), text.end());
    } else {
        Bytes text = EncodeUcs2(name);
        AppendU16(out, static_cast<uint16_t>(text.size()));
        out.insert(out.end(), text.begin(), text.end());
    }
    return out;
}

// Positions in def.columns of the descriptors in the order to write them: the stored order of a
// definition read from a file (Access lists the fields in it), else col_num order.
std::vector<size_t> DescriptorOrder(const TableDef& def) {
    std::vector<size_t> order;
    std::vector<bool> used(def.columns.size(), false);
    if (def.descriptor_order.size() == def.columns.size()) {
        for (uint16_t number : def.descriptor_order) {
            for (size_t i = 0; i < def.columns.size(); ++i) {
                if (used[i] || def.columns[i].col_num != number) continue;
                used[i] = true;
                order.push_back(i);
                break;
            }
        }
    }
    if (order.size() != def.columns.size()) {
        order.clear();
        for (size_t i = 0; i < def.columns.size(); ++i) order.push_back(i);
    }
    return order;
}

}  // namespace

TdefLayout TdefLayout::For(Version v) {
    if (v == Version::kJet3) return {0x2B, 8, 18, 39, 20};
    return {0x3F, 12, 25, 52, 28};
}

Bytes SerializeTableDef(const TableDef& def, Version v, uint16_t code_page) {
    const TdefLayout L = TdefLayout::For(v);
    const bool jet3 = v == Version::kJet3;
    if (def.columns.empty() || def.columns.size() > 255)
        throw std::invalid_argument("a table has 1 to 255 columns");
    if (def.real_indexes.size() > 255 || def.indexes.size() > 255)
        throw std::invalid_argument("too many indexes");

    const bool fresh = def.header_raw.size() < L.header;
    Bytes out(L.header, 0);
    if (!fresh) std::copy(def.header_raw.begin(), def.header_raw.begin() + L.header, out.begin());
    std::fill(out.begin(), out.begin() + 8, 0);  // page header: filled when split into pages
    // The count the rows are laid out by (it includes deleted variable columns): the reader
    // sizes each row's offset table from it, so it must be the encoder's.
    const uint16_t num_var = RowVarCount(def);
    if (jet3) {
        PutU32(&out[0x0C], def.row_count);
        PutU32(&out[0x10], def.autonumber);
    } else {
        PutU32(&out[0x0C], kMagic1625);
        PutU32(&out[0x10], def.row_count);
        PutU32(&out[0x14], def.autonumber);
        out[0x18] = 1;  // "AutoNumber enabled": 1 in every file seen
    }
    const size_t t = jet3 ? 0x14 : 0x28;
    out[t] = def.table_type;
    PutU16(&out[t + 1], def.max_cols);
    PutU16(&out[t + 3], num_var);
    PutU16(&out[t + 5], static_cast<uint16_t>(def.columns.size()));
    PutU32(&out[t + 7], static_cast<uint32_t>(def.indexes.size()));
    PutU32(&out[t + 11], static_cast<uint32_t>(def.real_indexes.size()));
    PutU32(&out[t + 15], def.owned_map);
    PutU32(&out[t + 19], def.free_map);

    for (const auto& r : def.real_indexes) {
        AppendU32(out, r.entry_count);
        AppendU32(out, r.unique_count);
        if (!jet3) AppendU32(out, 0);
    }
    const std::vector<size_t> order = DescriptorOrder(def);
    for (size_t i : order) AppendColumn(out, def.columns[i], v, L.column);
    for (size_t i : order) {
        Bytes name = EncodeTdefName(def.columns[i].name, v, code_page);
        out.insert(out.end(), name.begin(), name.end());
    }
    for (const auto& r : def.real_indexes) AppendRealIndex(out, r, v, L.real_index);
    for (const auto& l : def.indexes) {
        if (l.real_index >= def.real_indexes.size())
            throw std::invalid_argument("logical index refers to a missing real index");
        AppendLogicalIndex(out, l, v, L.logical_index);
    }
    for (const auto& l : def.indexes) {
        Bytes name = EncodeTdefName(l.name, v, code_page);
        out.insert(out.end(), name.begin(), name.end());
    }
    for (const auto& m : def.long_value_maps) {
        AppendU16(out, m.col_num);
        AppendU32(out, m.owned_map);
        AppendU32(out, m.free_map);
    }
    AppendU16(out, 0xFFFF);
    PutU32(&out[8], static_cast<uint32_t>(out.size()));
    return out;
}

uint32_t TdefPageCount(size_t length, Version v) {
    const size_t ps = PageSize(v);
    if (length <= ps) return 1;
    return static_cast<uint32_t>(1 + (length - ps + (ps - 8) - 1) / (ps - 8));
}

std::vector<Bytes> BuildTdefPages(const Bytes& logical, const std::vector<uint32_t>& pages,
                                  Version v) {
    const size_t ps = PageSize(v);
    if (pages.size() != TdefPageCount(logical.size(), v))
        throw std::logic_error("TDEF page count does not match its length");
    std::vector<Bytes> out;
    size_t taken = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        Bytes page(ps, 0);
        size_t body = i == 0 ? 0 : 8;
        size_t n = std::min(ps - body, logical.size() - taken);
        std::memcpy(&page[body], &logical[taken], n);
        taken += n;
        page[0] = 0x02;
        page[1] = 0x01;
        if (v == Version::kJet3) {
            page[2] = 'V';
            page[3] = 'C';
        } else {
            size_t used = body + n;
            PutU16(&page[2], static_cast<uint16_t>(used + 8 >= ps ? 0 : ps - used - 8));
        }
        PutU32(&page[4], i + 1 < pages.size() ? pages[i + 1] : 0);
        out.push_back(std::move(page));
    }
    return out;
}

void AssignNewColumnLayout(TableDef& def) {
    uint16_t fixed_at = 0, var_at = 0, num = 0;
    for (auto& c : def.columns) {
        c.col_num = num++;
        const bool fixed = c.type != ColumnType::kText && c.type != ColumnType::kBinary &&
                           c.type != ColumnType::kMemo && c.type != ColumnType::kOle;
        if (fixed) {
            c.flags = static_cast<uint8_t>(c.flags | kColumnFixed);
            if (c.type == ColumnType::kBoolean) {
                c.length = 1;
                c.fixed_offset = 0;
            } else {
                c.length = FixedStorageSize(c.type, c.length);
                c.fixed_offset = fixed_at;
                fixed_at = static_cast<uint16_t>(fixed_at + c.length);
            }
            c.var_index = 0;
        } else {
            c.flags = static_cast<uint8_t>(c.flags & ~kColumnFixed);
            c.var_index = var_at++;
            c.fixed_offset = 0;
            if (c.long_value()) c.length = 0;
        }
    }
    def.max_cols = num;
    def.num_var_cols = var_at;
}

}  // namespace jet
