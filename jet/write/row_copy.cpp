#include "jet/write/row_copy.h"

#include <bit>
#include <cstring>
#include <string>

#include "jet/format/mdb_file.h"
#include "jet/format/text_codec.h"
#include "jet/write/row_encoder.h"

namespace jet {
namespace {

bool AllZero(ByteSpan bytes) {
    for (uint8_t b : bytes)
        if (b != 0) return false;
    return true;
}

// True when `stored` (FF FE first) is the one compressed form of the text it decodes to: one-
// byte characters in one-byte runs, the others in two-byte runs, the mode switched only where
// the kind of character changes (only the first, one-byte run may be empty), nothing left over.
bool MinimalCompressedForm(ByteSpan stored) {
    const uint8_t* p = stored.data();
    const size_t n = stored.size();
    size_t i = 2;
    bool first_run = true;
    for (;;) {
        // A one-byte run: every byte up to the next switch is a character.
        const void* zero = std::memchr(p + i, 0, n - i);
        const size_t end = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - p) : n;
        if (end == i && !first_run) return false;  // an empty run (or a switch at the end)
        if (end == n) return true;
        first_run = false;
        // A two-byte run after the switch: characters past U+00FF only, up to a switch.
        i = end + 1;
        size_t run = 0;
        while (i < n && p[i] != 0) {
            if (i + 1 >= n || p[i + 1] == 0) return false;  // belongs in a one-byte run
            i += 2;
            ++run;
        }
        if (run == 0) return false;
        if (i == n) return true;
        ++i;  // the switch back
        if (i == n) return false;
    }
}

bool StoredAsNumber(ColumnType type) {
    switch (type) {
        case ColumnType::kByte:
        case ColumnType::kInteger:
        case ColumnType::kLong:
        case ColumnType::kCurrency:
        case ColumnType::kSingle:
        case ColumnType::kDouble:
        case ColumnType::kDateTime:
        case ColumnType::kGuid:
        case ColumnType::kNumeric:
            return true;
        default:
            return false;
    }
}

}  // namespace

size_t StoredRow::memory() const {
    size_t bytes_held = bytes.size();
    for (size_t i = 0; i < long_value_count; ++i) bytes_held += long_values[i].data.size();
    return bytes_held;
}

void StoredRow::Trim() {
    for (LongValue& v : long_values)
        if (v.data.capacity() > 16384) Bytes().swap(v.data);
}

RowCopyRule::RowCopyRule(const TableDef& def, Version version, uint16_t code_page)
    : def_(def), version_(version), code_page_(code_page) {
    nvar_ = RowVarCount(def);
    var_slot_used_.assign(nvar_, false);
    mask_bits_.assign((def.max_cols + 7u) / 8u, 0);
    for (const ColumnDef& c : def.columns) {
        if (c.col_num >= def.max_cols) enabled_ = false;
        if (c.fixed()) {
            fixed_size_ = std::max<size_t>(fixed_size_, size_t{c.fixed_offset} + FixedSize(c));
        }
    }
    Bytes fixed_used(fixed_size_, 0);  // per fixed-area byte: 1 when a column holds it
    for (const ColumnDef& c : def.columns) {
        if (!enabled_) break;
        if (mask_bits_[c.col_num / 8u] & (1u << (c.col_num % 8u))) enabled_ = false;
        mask_bits_[c.col_num / 8u] |= static_cast<uint8_t>(1u << (c.col_num % 8u));
        if (c.fixed()) {
            if (c.type == ColumnType::kText || c.long_value()) enabled_ = false;
            for (size_t b = c.fixed_offset; b < size_t{c.fixed_offset} + FixedSize(c); ++b) {
                if (fixed_used[b]) enabled_ = false;
                fixed_used[b] = 1;
            }
        } else {
            // A Boolean is its mask bit: in a variable slot it would leave the slot unchecked.
            if (c.type == ColumnType::kBoolean || var_slot_used_[c.var_index]) enabled_ = false;
            var_slot_used_[c.var_index] = true;
        }
    }
    for (size_t b = 0; b < fixed_size_; ++b) {
        if (fixed_used[b]) continue;
        if (fixed_gaps_.empty() || fixed_gaps_.back().second != b) fixed_gaps_.emplace_back(b, b);
        ++fixed_gaps_.back().second;
    }
    if (version == Version::kJet3) {
        for (int b = 0; b < 256; ++b) {
            round_trips_[b] = CodePageMapsByteBack(code_page, static_cast<uint8_t>(b));
            every_byte_round_trips_ &= round_trips_[b];
        }
    }
}

void RowCopyRule::Take(ByteSpan row, const RowLayout& layout, const Row& values,
                       std::vector<Bytes>& long_values, StoredRow& out,
                       const StoredTexts* texts) const {
    out.long_value_count = 0;
    out.copy = enabled_ && Qualifies(row, layout, values, long_values, out, texts);
    if (out.copy) out.bytes.assign(row.begin(), row.end());
}

bool RowCopyRule::CanonicalText(ByteSpan stored, const ColumnDef& c, const Value& value,
                                bool undecoded) const {
    const auto* text = std::get_if<std::u16string>(&value);
    if (version_ == Version::kJet3) {
        if (text == nullptr && !undecoded) return false;
        if (ColumnCodePage(c, code_page_) != code_page_) return false;
        if (every_byte_round_trips_) return true;
        for (uint8_t b : stored)
            if (!round_trips_[b]) return false;
        return true;
    }
    if (text == nullptr) return false;
    const TextKind kind = c.type == ColumnType::kMemo ? TextKind::kMemo : TextKind::kText;
    const bool compressible = (c.ext_flags & kColumnCompressedUnicode) != 0;
    const bool marked = stored.size() >= 2 && stored[0] == 0xFF && stored[1] == 0xFE;
    if (!marked) return !(compressible && ShouldCompress(*text, kind)) && stored.size() % 2 == 0;
    // The one compressed form of the text is the form Compress gives it, so whether Access
    // would keep it follows from its length, without compressing the text again.
    return compressible && MinimalCompressedForm(stored) &&
           CompressedFormKept(text->size(), stored.size(), kind);
}

bool RowCopyRule::Qualifies(ByteSpan row, const RowLayout& layout, const Row& values,
                            std::vector<Bytes>& long_values, StoredRow& out,
                            const StoredTexts* texts) const {
    const bool jet3 = version_ == Version::kJet3;
    const size_t head = jet3 ? 1 : 2;
    // What the encoder refuses, it refuses again when it encodes the row.
    if (row.size() > PageSize(version_) - (jet3 ? 10u : 14u) - 2u) return false;
    if (layout.column_count != def_.max_cols || values.size() != def_.columns.size()) return false;
    for (size_t k = 0; k < mask_bits_.size(); ++k)
        if (row[layout.null_mask_offset + k] & ~mask_bits_[k]) return false;

    // The variable area: packed after the fixed area, eod where the data ends.
    if (nvar_ == 0) {
        if (row.size() != head + fixed_size_ + mask_bits_.size()) return false;
    } else {
        const std::vector<uint16_t>& offsets = layout.var_offsets;
        if (layout.var_count != nvar_ || offsets[0] != head + fixed_size_ ||
            offsets[nvar_] != layout.eod_position)
            return false;
        for (uint16_t j = 0; j < nvar_; ++j)
            if (!var_slot_used_[j] && offsets[j + 1u] != offsets[j]) return false;
        if (jet3) {
            const size_t length =
                Jet3RowLength(layout.eod_position + 1u + nvar_ + 1u + mask_bits_.size());
            if (row.size() != length) return false;
            const size_t jumps = (length - 1) / 256;
            const size_t last_jump = layout.null_mask_offset - 2;  // entry 0
            for (size_t j = 0; j < jumps; ++j)
                if (row[last_jump - j] != Jet3JumpEntry(offsets, j)) return false;
        }
    }

    for (const auto& [from, to] : fixed_gaps_)
        if (!AllZero(row.subspan(head + from, to - from))) return false;

    bool inline_long_value = false;
    for (size_t i = 0; i < def_.columns.size(); ++i) {
        const ColumnDef& c = def_.columns[i];
        if (c.type == ColumnType::kBoolean) continue;
        const ColumnSlice s = LocateColumn(layout, row, c);
        if (!s.not_null) {
            if (c.fixed() ? !AllZero(row.subspan(s.offset, FixedSize(c))) : !s.bytes.empty())
                return false;
            continue;
        }
        // A number in a variable slot is decoded from its first bytes: it takes exactly those.
        if (!c.fixed() && StoredAsNumber(c.type) && s.bytes.size() != FixedSize(c)) return false;
        switch (c.type) {
            case ColumnType::kSingle: {
                // A NaN may come back another NaN.
                const uint32_t bits = U32(s.bytes, 0);
                const float back = static_cast<float>(static_cast<double>(F32(s.bytes, 0)));
                if (std::bit_cast<uint32_t>(back) != bits) return false;
                break;
            }
            case ColumnType::kNumeric:
                if (s.bytes[0] != 0 && s.bytes[0] != 0x80) return false;
                break;
            case ColumnType::kText: {
                const size_t chars = jet3 ? c.length : c.length / 2u;
                // Undecoded, a Jet 3 text has a character for each byte.
                const bool undecoded = jet3 && texts != nullptr && texts->undecoded(i);
                const auto* text = std::get_if<std::u16string>(&values[i]);
                if (!undecoded && text == nullptr) return false;
                if ((undecoded ? s.bytes.size() : text->size()) > chars) return false;
                if (!CanonicalText(s.bytes, c, values[i], undecoded)) return false;
                break;
            }
            case ColumnType::kMemo:
            case ColumnType::kOle: {
                Bytes& data = long_values[i];
                const bool undecoded = jet3 && texts != nullptr && texts->undecoded(i);
                if (c.type == ColumnType::kMemo && !CanonicalText(data, c, values[i], undecoded))
                    return false;
                if (data.size() <= kMaxInlineLongValue) {
                    uint8_t field[12] = {};
                    PutLongValueHeader(field, static_cast<uint32_t>(data.size()), kLongValueInline,
                                       0);
                    if (s.bytes.size() != 12 + data.size() ||
                        std::memcmp(s.bytes.data(), field, 12) != 0 ||
                        (!data.empty() &&
                         std::memcmp(s.bytes.data() + 12, data.data(), data.size()) != 0))
                        return false;
                    inline_long_value = true;
                    break;
                }
                if (s.bytes.size() != 12 || (s.bytes[3] & kLongValueInline) != 0) return false;
                if (out.long_values.size() == out.long_value_count) out.long_values.emplace_back();
                StoredRow::LongValue& v = out.long_values[out.long_value_count++];
                v.column = i;
                v.offset = s.offset;
                std::swap(v.data, data);
                break;
            }
            case ColumnType::kBinary:
            case ColumnType::kUnknown0D:
            case ColumnType::kFixedBinary:
                if (!c.fixed() && c.length > 0 && s.bytes.size() > c.length) return false;
                break;
            default:
                break;  // stored as the value is: integers, dates, GUIDs, binary
        }
    }
    // The encoder keeps a long value inline only while the row stays within Jet's maximum.
    if (inline_long_value && row.size() > MaxRowSize(version_)) return false;
    return true;
}

}  // namespace jet
