#include "jet/format/row_codec.h"

#include <cstring>
#include <string>

#include "jet/format/long_value.h"
#include "jet/format/text_codec.h"

namespace jet {
namespace {

void ParseJet4Offsets(ByteSpan row, RowLayout& l) {
    const size_t tail = l.null_mask_offset;  // nvar sits just below the mask
    if (tail < 2) Corrupt("row too short for its variable-column count");
    l.var_count = U16(row, tail - 2);
    const size_t table_bytes = 2u * (l.var_count + 1u);
    if (tail - 2 < table_bytes + l.fixed_start) Corrupt("row too short for its offset table");
    l.var_offsets.resize(l.var_count + 1u);
    for (size_t j = 0; j <= l.var_count; ++j) l.var_offsets[j] = U16(row, tail - 4 - 2 * j);
    l.eod_position = tail - 2 - table_bytes;
}

void ParseJet3Offsets(ByteSpan row, RowLayout& l) {
    const size_t tail = l.null_mask_offset;
    if (tail < 1) Corrupt("row too short for its variable-column count");
    l.var_count = U8(row, tail - 1);
    size_t jumps = (l.size - 1) / 256;
    if (tail - 1 < jumps + l.var_count + 1u + l.fixed_start)
        Corrupt("row too short for its offset table");
    const size_t first_offset = tail - 2 - jumps;  // var_offset[0]
    l.eod_position = first_offset - l.var_count;
    if (jumps > 0 && l.eod_position / 256 < jumps) --jumps;  // the last jump entry is a dummy
    l.var_offsets.resize(l.var_count + 1u);
    size_t used = 0;
    for (size_t i = 0; i <= l.var_count; ++i) {
        while (used < jumps && U8(row, tail - 2 - used) <= i) ++used;
        l.var_offsets[i] = static_cast<uint16_t>(U8(row, first_offset - i) + 256 * used);
    }
}

}  // namespace

RowLayout ParseRowLayout(ByteSpan row, Version version, const TableDef& t) {
    RowLayout l;
    ParseRowLayoutTo(row, version, t, l);
    return l;
}

void ParseRowLayoutTo(ByteSpan row, Version version, const TableDef& t, RowLayout& l) {
    l.version = version;
    l.size = row.size();
    l.fixed_start = version == Version::kJet3 ? 1 : 2;
    if (row.size() < l.fixed_start) Corrupt("empty row");
    l.column_count = version == Version::kJet3 ? U8(row, 0) : U16(row, 0);
    l.null_mask_size = (l.column_count + 7u) / 8u;
    if (l.null_mask_size + l.fixed_start > row.size()) Corrupt("row too short for its null mask");
    l.null_mask_offset = row.size() - l.null_mask_size;
    l.has_var_area = RowVarCount(t) > 0;
    l.var_count = 0;
    l.var_offsets.clear();
    l.eod_position = 0;
    if (!l.has_var_area) return;
    if (version == Version::kJet3)
        ParseJet3Offsets(row, l);
    else
        ParseJet4Offsets(row, l);
    // Offsets must be non-decreasing and lie between the fixed area and the eod field.
    uint16_t previous = static_cast<uint16_t>(l.fixed_start);
    for (uint16_t off : l.var_offsets) {
        if (off < previous || off > l.eod_position) Corrupt("row variable offsets out of order");
        previous = off;
    }
}

uint16_t RowVarCount(const TableDef& t) {
    uint16_t n = t.num_var_cols;
    for (const ColumnDef& c : t.columns)
        if (!c.fixed() && c.var_index >= n) n = static_cast<uint16_t>(c.var_index + 1u);
    return n;
}

size_t Jet3RowLength(size_t base) {
    size_t length = base;
    for (int guard = 0; guard < 64; ++guard) {
        const size_t next = base + (length - 1) / 256;
        if (next == length) break;
        length = next;
    }
    return length;
}

uint16_t ColumnCodePage(const ColumnDef& c, uint16_t database_code_page) {
    return c.code_page != 0 ? c.code_page : database_code_page;
}

namespace {

// The value as a T, keeping the buffer it holds when it is one already.
template <typename T>
T& Reused(Value& v) {
    if (T* held = std::get_if<T>(&v)) return *held;
    return v.emplace<T>();
}

// Sets `v` to `x` in place when it holds a T already: rows are decoded into the values of the
// previous row, whose columns mostly hold the same types.
template <typename T>
void Put(Value& v, const T& x) {
    if (T* held = std::get_if<T>(&v))
        *held = x;
    else
        v.emplace<T>(x);
}

void PutNull(Value& v) {
    if (!std::holds_alternative<std::monostate>(v)) v.emplace<std::monostate>();
}

// DecodeValue into `out`, which is left as it was when the bytes are too short for the type.
void DecodeValueTo(const ColumnDef& c, ByteSpan b, Version version, uint16_t code_page,
                   Value& out) {
    auto need = [&](size_t n) {
        if (b.size() < n) Corrupt("column value shorter than its type");
    };
    switch (c.type) {
        case ColumnType::kBoolean:
            return Put(out, false);
        case ColumnType::kByte:
            need(1);
            return Put(out, int64_t{b[0]});
        case ColumnType::kInteger:
            need(2);
            return Put(out, int64_t{static_cast<int16_t>(U16(b, 0))});
        case ColumnType::kLong:
            need(4);
            return Put(out, int64_t{static_cast<int32_t>(U32(b, 0))});
        case ColumnType::kCurrency:
            need(8);
            return Put(out, static_cast<int64_t>(U64(b, 0)));
        case ColumnType::kSingle:
            need(4);
            return Put(out, static_cast<double>(F32(b, 0)));
        case ColumnType::kDouble:
        case ColumnType::kDateTime:
            need(8);
            return Put(out, F64(b, 0));
        case ColumnType::kText:
        case ColumnType::kMemo:
            return DecodeTextTo(b, version, code_page, Reused<std::u16string>(out));
        case ColumnType::kGuid: {
            need(16);
            Guid& g = Reused<Guid>(out);
            std::memcpy(g.data(), b.data(), 16);
            return;
        }
        case ColumnType::kNumeric: {
            need(17);
            Decimal d;
            d.negative = b[0] != 0;
            for (size_t i = 0; i < 4; ++i) d.magnitude[i] = U32(b, 1 + 4 * i);
            return Put(out, d);
        }
        default:
            Reused<Bytes>(out).assign(b.begin(), b.end());
            return;
    }
}

}  // namespace

Value DecodeValue(const ColumnDef& c, ByteSpan b, Version version, uint16_t code_page) {
    Value v;
    DecodeValueTo(c, b, version, code_page, v);
    return v;
}

Row DecodeRow(MdbFile& file, const TableDef& t, ByteSpan row) {
    Row out;
    Bytes long_value;
    DecodeRowTo(file, t, row, out, long_value);
    return out;
}

void DecodeRowTo(MdbFile& file, const TableDef& t, ByteSpan row, Row& out, Bytes& long_value) {
    DecodeRowTo(file, t, ParseRowLayout(row, file.version(), t), row, out, long_value);
}

void DecodeColumnTo(MdbFile& file, const TableDef& t, const RowLayout& layout, ByteSpan row,
                    size_t i, Value& out, Bytes& long_value, LongValueReader* long_values,
                    StoredTexts* texts) {
    const Version version = file.version();
    const ColumnDef& c = t.columns[i];
    const ColumnSlice s = LocateColumn(layout, row, c);
    if (c.type == ColumnType::kBoolean) {
        Put(out, s.present && s.not_null);
        return;
    }
    if (!s.present || !s.not_null) {
        PutNull(out);
        return;
    }
    const bool text = c.type == ColumnType::kText || c.type == ColumnType::kMemo;
    StoredTexts::Use use = StoredTexts::kDecode;
    if (texts != nullptr && text && version == Version::kJet3 && i < texts->use.size()) {
        use = texts->use[i];
        if (texts->bytes.size() < t.columns.size()) texts->bytes.resize(t.columns.size());
        if (texts->held.size() < t.columns.size()) texts->held.resize(t.columns.size());
    }
    const uint16_t code_page = ColumnCodePage(c, file.header().code_page);
    ByteSpan text_bytes = s.bytes;
    if (c.long_value()) {
        // A Memo's bytes are decoded from wherever they were read to; an OLE value's are
        // the value.
        const bool memo = c.type == ColumnType::kMemo;
        Bytes& stored = !memo ? Reused<Bytes>(out)
                              : (use == StoredTexts::kDecode ? long_value : texts->held[i]);
        const Bytes* read = &stored;
        if (long_values == nullptr)
            ReadLongValueTo(file, s.bytes, stored);
        else
            read = long_values->ReadHeld(i, s.bytes, stored);
        if (read == nullptr) {
            PutNull(out);
            return;
        }
        if (!memo) {
            if (read != &stored) stored.assign(read->begin(), read->end());
            return;
        }
        text_bytes = *read;
    } else if (!text) {
        DecodeValueTo(c, s.bytes, version, code_page, out);
        return;
    }
    if (use != StoredTexts::kDecode) texts->bytes[i] = {text_bytes, true};
    if (use == StoredTexts::kBytes)
        PutNull(out);
    else
        DecodeTextTo(text_bytes, version, code_page, Reused<std::u16string>(out));
}

void DecodeRowTo(MdbFile& file, const TableDef& t, const RowLayout& layout, ByteSpan row, Row& out,
                 Bytes& long_value, LongValueReader* long_values, StoredTexts* texts) {
    out.resize(t.columns.size());
    if (texts != nullptr) texts->bytes.assign(t.columns.size(), {});
    for (size_t i = 0; i < t.columns.size(); ++i)
        DecodeColumnTo(file, t, layout, row, i, out[i], long_value, long_values, texts);
}

void DecodeStoredTexts(const MdbFile& file, const TableDef& t, const StoredTexts& texts, Row& out) {
    for (size_t i = 0; i < t.columns.size() && i < out.size(); ++i) {
        if (!texts.undecoded(i)) continue;
        DecodeTextTo(texts.bytes[i].bytes, file.version(),
                     ColumnCodePage(t.columns[i], file.header().code_page),
                     Reused<std::u16string>(out[i]));
    }
}

}  // namespace jet
