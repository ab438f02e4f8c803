#include "jet/write/row_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>

#include "jet/base/error.h"
#include "jet/base/put_bytes.h"
#include "jet/format/long_value.h"
#include "jet/format/row_codec.h"
#include "jet/format/text_codec.h"
#include "jet/write/tdef_writer.h"

namespace jet {

namespace {

[[noreturn]] void WrongType(const ColumnDef& c) {
    throw std::invalid_argument("value of the wrong type for column '" + c.name + "'");
}

int64_t AsInteger(const ColumnDef& c, const Value& v) {
    if (auto* i = std::get_if<int64_t>(&v)) return *i;
    if (auto* b = std::get_if<bool>(&v)) return *b ? -1 : 0;
    if (auto* d = std::get_if<double>(&v)) return static_cast<int64_t>(*d);
    WrongType(c);
}

double AsDouble(const ColumnDef& c, const Value& v) {
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    WrongType(c);
}

void CheckIntegerRange(const ColumnDef& c, int64_t value, int64_t low, int64_t high) {
    if (value < low || value > high)
        RaiseWithDetail(kFieldTooSmall, {}, "(value out of range for column '" + c.name + "')");
}

[[noreturn]] void TooLong(const ColumnDef& c) {
    RaiseWithDetail(kFieldTooSmall, {}, "(column '" + c.name + "')");
}

}  // namespace

void PutLongValueHeader(uint8_t* to, uint32_t length, uint8_t type, uint32_t first_row_pointer) {
    PutU32(to, (length & 0x00FFFFFFu) | (static_cast<uint32_t>(type) << 24));
    PutU32(to + 4, first_row_pointer);
}

Bytes MakeLongValueHeader(uint32_t length, uint8_t type, uint32_t first_row_pointer) {
    Bytes h(kLongValueHeaderSize, 0);
    PutLongValueHeader(h.data(), length, type, first_row_pointer);
    return h;
}

RowEncoder::RowEncoder(const TableDef& def, Version version, uint16_t code_page)
    : def_(def), version_(version), code_page_(code_page) {
    for (const auto& c : def.columns) {
        if (c.col_num >= def.max_cols)
            throw std::invalid_argument("column number not below max_cols");
        if (c.fixed()) {
            size_t end = static_cast<size_t>(c.fixed_offset) + FixedStorageSize(c.type, c.length);
            if (end > fixed_size_) fixed_size_ = end;
        }
    }
    nvar_ = RowVarCount(def);
    var_column_.assign(static_cast<size_t>(nvar_), -1);
    for (size_t i = 0; i < def.columns.size(); ++i)
        if (!def.columns[i].fixed()) var_column_[def.columns[i].var_index] = static_cast<int>(i);
    fields_.resize(def.columns.size());
    stored_.resize(def.columns.size());
    present_.resize(def.columns.size());
    mask_.resize((def.max_cols + 7u) / 8u);
    offsets_.resize(static_cast<size_t>(nvar_) + 1);
}

Bytes RowEncoder::FieldBytes(const ColumnDef& c, const Value& v) const {
    Bytes out;
    FieldBytesTo(c, v, out);
    return out;
}

void RowEncoder::FieldBytesTo(const ColumnDef& c, const Value& v, Bytes& out) const {
    out.clear();
    switch (c.type) {
        case ColumnType::kBoolean:
            break;
        case ColumnType::kByte: {
            int64_t x = AsInteger(c, v);
            CheckIntegerRange(c, x, 0, 255);
            out.push_back(static_cast<uint8_t>(x));
            break;
        }
        case ColumnType::kInteger: {
            int64_t x = AsInteger(c, v);
            CheckIntegerRange(c, x, INT16_MIN, INT16_MAX);
            AppendU16(out, static_cast<uint16_t>(x));
            break;
        }
        case ColumnType::kLong: {
            int64_t x = AsInteger(c, v);
            CheckIntegerRange(c, x, INT32_MIN, INT32_MAX);
            AppendU32(out, static_cast<uint32_t>(x));
            break;
        }
        case ColumnType::kCurrency: {
            out.resize(8);
            PutU64(out.data(), static_cast<uint64_t>(AsInteger(c, v)));
            break;
        }
        case ColumnType::kSingle: {
            AppendU32(out, std::bit_cast<uint32_t>(static_cast<float>(AsDouble(c, v))));
            break;
        }
        case ColumnType::kDouble:
        case ColumnType::kDateTime: {
            out.resize(8);
            PutU64(out.data(), std::bit_cast<uint64_t>(AsDouble(c, v)));
            break;
        }
        case ColumnType::kGuid: {
            auto* g = std::get_if<Guid>(&v);
            if (!g) WrongType(c);
            out.assign(g->begin(), g->end());
            break;
        }
        case ColumnType::kNumeric: {
            auto* d = std::get_if<Decimal>(&v);
            if (!d) WrongType(c);
            out.push_back(d->negative ? 0x80 : 0x00);
            for (uint32_t word : d->magnitude) AppendU32(out, word);
            break;
        }
        case ColumnType::kText:
        case ColumnType::kMemo: {
            auto* s = std::get_if<std::u16string>(&v);
            if (!s) WrongType(c);
            const bool memo = c.type == ColumnType::kMemo;
            if (!memo) {
                size_t chars = version_ == Version::kJet3 ? c.length : c.length / 2u;
                if (s->size() > chars) TooLong(c);
            }
            const bool compressible = !c.fixed() && (c.ext_flags & kColumnCompressedUnicode) != 0;
            if (version_ == Version::kJet3)
                EncodeCodePageTo(*s, code_page_, out);
            else
                EncodeJet4TextTo(*s, compressible, memo ? TextKind::kMemo : TextKind::kText, out);
            if (c.fixed()) {
                // Fixed-length text is padded with spaces to its declared length.
                while (out.size() + (version_ == Version::kJet3 ? 1u : 2u) <= c.length) {
                    out.push_back(' ');
                    if (version_ == Version::kJet4) out.push_back(0);
                }
            }
            break;
        }
        case ColumnType::kBinary:
        case ColumnType::kOle:
        case ColumnType::kUnknown0D:
        case ColumnType::kFixedBinary: {
            auto* b = std::get_if<Bytes>(&v);
            if (!b) WrongType(c);
            if (c.type != ColumnType::kOle && c.length > 0 && b->size() > c.length) TooLong(c);
            out.assign(b->begin(), b->end());
            if (c.fixed()) out.resize(c.length, 0);
            break;
        }
        default: {
            auto* b = std::get_if<Bytes>(&v);
            if (!b) WrongType(c);
            out.assign(b->begin(), b->end());
        }
    }
    if (c.fixed() && c.type != ColumnType::kBoolean) {
        size_t size = FixedStorageSize(c.type, c.length);
        if (out.size() > size) TooLong(c);
        out.resize(size, 0);
    }
}

void RowEncoder::Encode(const Row& row, const LongValueStore& store, Bytes& out) {
    Measure(row, store, true);
    Assemble(row, out);
}

void RowEncoder::CheckStorable(const Row& row) {
    Measure(row, {}, false);
}

void RowEncoder::Measure(const Row& row, const LongValueStore& store, bool build) {
    const auto& cols = def_.columns;
    if (row.size() != cols.size()) throw std::invalid_argument("row has the wrong column count");
    const bool jet3 = version_ == Version::kJet3;
    size_t var_bytes = 0;
    for (size_t i = 0; i < cols.size(); ++i) {
        const ColumnDef& c = cols[i];
        const Value& v = row[i];
        fields_[i].clear();
        if (c.type == ColumnType::kBoolean) {
            present_[i] = !IsNull(v) && AsInteger(c, v) != 0;
            continue;
        }
        present_[i] = !IsNull(v);
        if (!present_[i]) continue;
        FieldBytesTo(c, v, fields_[i]);
        if (c.fixed()) continue;
        var_bytes += c.long_value() ? kLongValueHeaderSize : fields_[i].size();
    }

    // Total row length for a given amount of variable data.
    const size_t mask = (def_.max_cols + 7u) / 8u;
    auto length_with = [&](size_t var) {
        size_t trailer = nvar_ > 0 ? (jet3 ? 2u + static_cast<size_t>(nvar_)
                                           : 4u + 2u * static_cast<size_t>(nvar_))
                                   : 0u;
        size_t base = (jet3 ? 1u : 2u) + fixed_size_ + var + trailer + mask;
        return !jet3 || nvar_ == 0 ? base : Jet3RowLength(base);
    };

    const size_t max_row = MaxRowSize(version_);
    for (size_t i = 0; i < cols.size(); ++i) {
        const ColumnDef& c = cols[i];
        if (!c.long_value() || !present_[i]) continue;
        const Bytes& data = fields_[i];
        Bytes& stored = stored_[i];
        if (data.size() <= kMaxInlineLongValue && length_with(var_bytes + data.size()) <= max_row) {
            var_bytes += data.size();
            if (!build) continue;
            stored.assign(kLongValueHeaderSize, 0);
            PutLongValueHeader(stored.data(), static_cast<uint32_t>(data.size()), kLongValueInline,
                               0);
            stored.insert(stored.end(), data.begin(), data.end());
        } else if (!build) {
            continue;  // out of line: its header is counted
        } else if (store) {
            stored = store(i, data);
        } else {
            present_[i] = false;
            var_bytes -= kLongValueHeaderSize;
        }
    }
    // Rows are kept within Jet's maximum by storing long values out of line; a row that
    // is larger anyway (read from a file Jet wrote) is accepted while it fits an empty page.
    const size_t page_capacity = PageSize(version_) - (jet3 ? 10u : 14u) - 2u;
    if (length_with(var_bytes) > page_capacity) Raise(kRecordTooLarge);
}

void RowEncoder::Assemble(const Row&, Bytes& out) {
    const auto& cols = def_.columns;
    const bool jet3 = version_ == Version::kJet3;
    const size_t head = jet3 ? 1 : 2;
    out.assign(head + fixed_size_, 0);
    if (jet3) {
        out[0] = static_cast<uint8_t>(def_.max_cols);
    } else {
        PutU16(out.data(), def_.max_cols);
    }
    const size_t mask_size = mask_.size();
    Bytes& mask = mask_;
    std::fill(mask.begin(), mask.end(), 0);
    for (size_t i = 0; i < cols.size(); ++i) {
        const ColumnDef& c = cols[i];
        if (present_[i]) mask[c.col_num / 8u] |= static_cast<uint8_t>(1u << (c.col_num % 8u));
        if (c.fixed() && present_[i] && !fields_[i].empty())
            std::memcpy(&out[head + c.fixed_offset], fields_[i].data(), fields_[i].size());
    }
    if (nvar_ > 0) {
        std::vector<size_t>& offsets = offsets_;
        for (int j = 0; j < nvar_; ++j) {
            offsets[static_cast<size_t>(j)] = out.size();
            int ci = var_column_[static_cast<size_t>(j)];
            if (ci >= 0 && present_[static_cast<size_t>(ci)]) {
                const auto col = static_cast<size_t>(ci);
                const Bytes& f = cols[col].long_value() ? stored_[col] : fields_[col];
                out.insert(out.end(), f.begin(), f.end());
            }
        }
        const size_t eod = out.size();
        offsets[static_cast<size_t>(nvar_)] = eod;
        if (jet3) {
            // Total length decides the number of jump entries (docs/format.md 4.4).
            const size_t len = Jet3RowLength(eod + 1 + static_cast<size_t>(nvar_) + 1 + mask_size);
            const size_t jumps = (len - 1) / 256;
            out.push_back(static_cast<uint8_t>(eod & 0xFF));
            for (int j = nvar_ - 1; j >= 0; --j)
                out.push_back(static_cast<uint8_t>(offsets[static_cast<size_t>(j)] & 0xFF));
            for (size_t j = jumps; j-- > 0;) out.push_back(Jet3JumpEntry(offsets, j));
            out.push_back(static_cast<uint8_t>(nvar_));
        } else {
            AppendU16(out, static_cast<uint16_t>(eod));
            for (int j = nvar_ - 1; j >= 0; --j)
                AppendU16(out, static_cast<uint16_t>(offsets[static_cast<size_t>(j)]));
            AppendU16(out, static_cast<uint16_t>(nvar_));
        }
    }
    out.insert(out.end(), mask.begin(), mask.end());
}

}  // namespace jet
