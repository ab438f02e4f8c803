// Index key encoder. The rules and their evidence are in docs/index-keys.md; the comments here say
// only what the code cannot.
#include "jet/keys/index_key.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "jet/base/error.h"
#include "jet/format/text_codec.h"
#include "jet/keys/collation.h"

namespace jet {
namespace {

void Invert(Bytes& out, size_t from) {
    for (size_t i = from; i < out.size(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
}

void AppendBigEndian(Bytes& out, uint64_t value, int width) {
    // Byte by byte: a range insert of a few bytes costs a call to memmove.
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * (width - 1 - i))));
}

[[noreturn]] void WrongForm(const ColumnDef& column, const char* expected) {
    throw std::invalid_argument("index key: column '" + column.name + "' needs " + expected);
}

int64_t IntegerOf(const ColumnDef& column, const Value& value) {
    if (const auto* i = std::get_if<int64_t>(&value)) return *i;
    if (const auto* b = std::get_if<bool>(&value)) return *b ? -1 : 0;
    if (const auto* d = std::get_if<double>(&value)) return static_cast<int64_t>(*d);
    WrongForm(column, "an integer value");
}

double RealOf(const ColumnDef& column, const Value& value) {
    if (const auto* d = std::get_if<double>(&value)) return *d;
    if (const auto* i = std::get_if<int64_t>(&value)) return static_cast<double>(*i);
    WrongForm(column, "a floating-point value");
}

// Integers: big-endian, sign bit flipped for the signed types.
void AppendInteger(Bytes& out, int64_t value, int width, bool is_signed) {
    const size_t start = out.size();
    AppendBigEndian(out, static_cast<uint64_t>(value), width);
    if (is_signed) out[start] ^= 0x80;
}

// Floats: big-endian IEEE; positive values get the sign bit set, negative values are inverted
// whole, which makes the bytes sort like the numbers.
void AppendFloatBits(Bytes& out, uint64_t bits, int width) {
    const size_t start = out.size();
    AppendBigEndian(out, bits, width);
    if (out[start] & 0x80) {
        Invert(out, start);
    } else {
        out[start] ^= 0x80;
    }
}

// Binary: 8-byte groups; a group followed by more data ends with 0x09, the last group is
// zero-padded and ends with its real length. Descending inverts the data bytes of full groups
// but not their 0x09 markers, and the whole last group.
void AppendBinary(Bytes& out, const uint8_t* data, size_t size, bool ascending) {
    size_t pos = 0;
    while (size - pos > 8) {
        const size_t start = out.size();
        out.insert(out.end(), data + pos, data + pos + 8);
        if (!ascending) Invert(out, start);
        out.push_back(0x09);
        pos += 8;
    }
    if (size == pos) return;  // empty value: no value bytes
    const size_t start = out.size();
    const size_t rest = size - pos;
    out.insert(out.end(), data + pos, data + size);
    out.insert(out.end(), 8 - rest, 0);
    out.push_back(static_cast<uint8_t>(rest));
    if (!ascending) Invert(out, start);
}

// Numeric (Jet 4 "legacy numeric" order): 17 bytes, the 16-byte magnitude big-endian; inverted
// when the sign matches the direction, then the first byte replaced by 00 (negative) or FF.
void AppendNumeric(Bytes& out, const Decimal& value, bool ascending) {
    const size_t start = out.size();
    out.push_back(value.negative ? 0x80 : 0x00);
    for (uint32_t word : value.magnitude) AppendBigEndian(out, word, 4);
    if (value.negative == ascending) Invert(out, start);
    out[start] = value.negative ? 0x00 : 0xFF;
}

Bytes GuidKeyBytes(const Guid& g) {
    // Stored in Windows order: Data1 (4, LE), Data2 (2, LE), Data3 (2, LE), Data4 (8).
    Bytes b(g.begin(), g.end());
    std::reverse(b.begin(), b.begin() + 4);
    std::reverse(b.begin() + 4, b.begin() + 6);
    std::reverse(b.begin() + 6, b.begin() + 8);
    return b;
}

// Jet 3 General keys are defined over code page 1252 bytes.
std::u16string_view PrepareText(std::u16string_view text) {
    if (text.size() > kMaxKeyTextChars) text = text.substr(0, kMaxKeyTextChars);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    return text;
}

std::string_view PrepareText(std::string_view text) {
    if (text.size() > kMaxKeyTextChars) text = text.substr(0, kMaxKeyTextChars);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

void AppendJet4TextKey(Bytes& out, std::u16string_view text, bool ascending,
                       LigatureRule ligatures);

}  // namespace

bool HasLigature(std::u16string_view text) {
    text = PrepareText(text);
    return std::any_of(text.begin(), text.end(),
                       [](char16_t c) { return collation::Jet4(c).ligature; });
}

Bytes Jet4TextKey(std::u16string_view text, bool ascending, LigatureRule ligatures) {
    Bytes out;
    AppendJet4TextKey(out, text, ascending, ligatures);
    return out;
}

namespace {

// Jet4TextKey, appended to `out` (no key of its own to copy).
void AppendJet4TextKey(Bytes& out, std::u16string_view text, bool ascending,
                       LigatureRule ligatures) {
    text = PrepareText(text);
    const size_t start = out.size();
    out.reserve(start + text.size() * 2 + 4);
    Bytes extra;  // accent section
    bool has_extra = false;
    size_t extra_chars = 0;     // characters represented in `extra`
    size_t unprint_prefix = 0;  // a modifier that opened `extra` without a character
    Bytes unprint;
    Bytes crazy;
    size_t pos = 0;  // characters that produced inline bytes so far

    for (char16_t c : text) {
        const collation::Jet4Code& h = collation::Jet4(c);
        const size_t cur = pos;
        const size_t positions =
            h.ligature && ligatures == LigatureRule::kPerLetter ? h.inline_len : 1;
        if (h.inline_len != 0) {
            // One at a time: a range insert of a byte or two costs a call to memmove.
            for (size_t i = 0; i < h.inline_len; ++i) out.push_back(h.inline_bytes[i]);
            pos += positions;
        }
        if (h.cls == collation::Jet4Class::kSimple) continue;
        if (h.extra_len != 0 || h.modifier != 0) {
            has_extra = true;
            if (extra_chars < cur) {
                extra.insert(extra.end(), cur - extra_chars, 0x02);
                extra_chars = cur;
            }
            if (h.extra_len != 0) {
                extra.insert(extra.end(), h.extra, h.extra + h.extra_len);
                extra_chars += positions;
            } else if (!extra.empty()) {
                extra.back() = static_cast<uint8_t>(extra.back() + h.modifier);
            } else {
                extra.push_back(h.modifier);
                unprint_prefix = 1;
            }
        }
        if (h.unprint_len != 0) {
            // Jet counts the position in bytes of the accent section when one exists, even if
            // it is trimmed away later.
            size_t off = cur;
            if (has_extra) off = extra.size() + (cur - extra_chars) - unprint_prefix;
            const uint32_t v = static_cast<uint32_t>(7 + 4 * off) | 0x8000u;
            unprint.push_back(static_cast<uint8_t>(v >> 8));
            unprint.push_back(static_cast<uint8_t>(v));
            unprint.push_back(0x06);
            unprint.push_back(h.unprint);
        }
        if (h.crazy != 0) crazy.push_back(h.crazy);
    }

    out.push_back(0x01);  // end of the primary text
    while (!extra.empty() && extra.back() <= 0x02) extra.pop_back();
    const bool has_crazy = !crazy.empty();
    if (!extra.empty() || !unprint.empty() || has_crazy) {
        out.insert(out.end(), extra.begin(), extra.end());
        if (!unprint.empty() || has_crazy) {
            out.push_back(0x01);
            out.push_back(0x01);
            if (has_crazy) {
                while (!crazy.empty() && crazy.back() == 3) crazy.pop_back();
                for (size_t i = 0; i < crazy.size(); i += 3) {
                    uint8_t byte = 0x80;
                    for (size_t k = 0; k < 3 && i + k < crazy.size(); ++k) {
                        byte = static_cast<uint8_t>(byte | (crazy[i + k] << ((2 - k) * 2)));
                    }
                    out.push_back(byte);
                }
                static constexpr uint8_t kCrazySuffix[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
                out.insert(out.end(), std::begin(kCrazySuffix), std::end(kCrazySuffix));
                if (!unprint.empty()) out.push_back(0xFF);
            }
            if (!unprint.empty()) {
                out.push_back(0x01);
                out.insert(out.end(), unprint.begin(), unprint.end());
            }
        }
    }
    if (!ascending) {
        out.push_back(0x00);
        Invert(out, start);
    }
    out.push_back(0x00);  // terminator
}

}  // namespace

Bytes Jet3TextKey(std::string_view code_page_bytes, bool ascending) {
    Bytes out;
    AppendJet3TextKey(out, code_page_bytes, ascending);
    return out;
}

void AppendJet3TextKey(Bytes& out, std::string_view code_page_bytes, bool ascending) {
    const std::string_view text = PrepareText(code_page_bytes);
    const size_t start = out.size();
    out.reserve(start + 2 * text.size() + 4);
    // Keys are computed for every indexed text of every row: the accent nibbles (empty = no
    // accent seen) keep their buffer in the thread, and bytes go in one at a time (a range
    // insert of one or two bytes costs a call to memmove).
    thread_local std::vector<uint8_t> nibbles;
    nibbles.clear();
    size_t significant = 0;  // G letters since the last accent

    auto add = [&](uint8_t b) {
        // A NUL inside a string keys as 0x10, though the sort table ignores it.
        if (b == 0x00) {
            out.push_back(0x10);
            return;
        }
        const collation::Jet3Code& h = collation::Jet3(b);
        if (h.cls == collation::Jet3Class::kIgnored) return;
        for (uint8_t i = 0; i < h.inline_len; ++i) out.push_back(h.inline_bytes[i]);
        if (h.cls == collation::Jet3Class::kSignificant) {
            ++significant;
        } else if (h.cls == collation::Jet3Class::kInternational) {
            if (nibbles.empty()) nibbles.push_back(0);
            nibbles.insert(nibbles.end(), significant, 2);
            significant = 0;
            nibbles.push_back(h.nibble);
        }
    };
    for (char ch : text) {
        const auto b = static_cast<uint8_t>(ch);
        if (b == 0xDF) {
            // Jet keys sharp s as the two significant letters "ss" (seen in a real Access 97
            // index with an accent after the sharp s).
            add('s');
            add('s');
        } else {
            add(b);
        }
    }
    if (nibbles.empty()) {
        out.push_back(0x00);
    } else {
        nibbles.push_back(0);
        if (nibbles.size() % 2) nibbles.push_back(0);
        for (size_t i = 0; i < nibbles.size(); i += 2) {
            out.push_back(static_cast<uint8_t>((nibbles[i] << 4) | (nibbles[i + 1] & 0x0F)));
        }
    }
    if (!ascending) Invert(out, start);
}

void AppendKeySegment(Version version, const ColumnDef& column, bool ascending, const Value& value,
                      Bytes& out, LigatureRule ligatures) {
    if (column.type == ColumnType::kBoolean) {
        // Never null in a key: True sorts before False.
        bool truth = false;
        if (const auto* b = std::get_if<bool>(&value)) {
            truth = *b;
        } else if (const auto* i = std::get_if<int64_t>(&value)) {
            truth = *i != 0;
        } else if (!IsNull(value)) {
            WrongForm(column, "a boolean value");
        }
        out.push_back(ascending ? kKeyAscendingValue : kKeyDescendingValue);
        const uint8_t byte = truth ? 0x00 : 0xFF;
        out.push_back(ascending ? byte : static_cast<uint8_t>(~byte));
        return;
    }
    if (IsNull(value)) {
        out.push_back(ascending ? kKeyAscendingNull : kKeyDescendingNull);
        return;
    }
    out.push_back(ascending ? kKeyAscendingValue : kKeyDescendingValue);
    const size_t start = out.size();
    switch (column.type) {
        case ColumnType::kByte:
            AppendInteger(out, IntegerOf(column, value), 1, false);
            break;
        case ColumnType::kInteger:
            AppendInteger(out, IntegerOf(column, value), 2, true);
            break;
        case ColumnType::kLong:
            AppendInteger(out, IntegerOf(column, value), 4, true);
            break;
        case ColumnType::kCurrency:
            AppendInteger(out, IntegerOf(column, value), 8, true);
            break;
        case ColumnType::kSingle: {
            const auto f = static_cast<float>(RealOf(column, value));
            AppendFloatBits(out, std::bit_cast<uint32_t>(f), 4);
            break;
        }
        case ColumnType::kDouble:
        case ColumnType::kDateTime:
            AppendFloatBits(out, std::bit_cast<uint64_t>(RealOf(column, value)), 8);
            break;
        case ColumnType::kGuid: {
            Bytes b;
            if (const auto* g = std::get_if<Guid>(&value)) {
                b = GuidKeyBytes(*g);
            } else if (const auto* raw = std::get_if<Bytes>(&value); raw && raw->size() == 16) {
                Guid copy{};
                std::copy(raw->begin(), raw->end(), copy.begin());
                b = GuidKeyBytes(copy);
            } else {
                WrongForm(column, "a GUID");
            }
            AppendBinary(out, b.data(), b.size(), ascending);
            return;  // direction already applied
        }
        case ColumnType::kBinary:
        case ColumnType::kFixedBinary:
        case ColumnType::kOle: {
            const auto* b = std::get_if<Bytes>(&value);
            if (b == nullptr) WrongForm(column, "binary bytes");
            AppendBinary(out, b->data(), b->size(), ascending);
            return;
        }
        case ColumnType::kNumeric: {
            const auto* d = std::get_if<Decimal>(&value);
            if (d == nullptr) WrongForm(column, "a decimal value");
            AppendNumeric(out, *d, ascending);
            return;
        }
        case ColumnType::kText:
        case ColumnType::kMemo: {
            const auto* s = std::get_if<std::u16string>(&value);
            if (s == nullptr) WrongForm(column, "text");
            if (version == Version::kJet3) {
                thread_local Bytes cp1252;  // the text's bytes, kept by the thread
                EncodeCodePageTo(*s, 1252, cp1252);
                AppendJet3TextKey(
                    out,
                    std::string_view(reinterpret_cast<const char*>(cp1252.data()), cp1252.size()),
                    ascending);
            } else {
                AppendJet4TextKey(out, *s, ascending, ligatures);
            }
            return;
        }
        default:
            RaiseWithDetail(kUnrecognizedFormat, "",
                            "index on column '" + column.name + "' of type " +
                                std::to_string(static_cast<int>(column.type)));
    }
    if (!ascending) Invert(out, start);
}

IndexKeyEncoder::IndexKeyEncoder(Version version, const TableDef& table, const RealIndexDef& index,
                                 LigatureRule ligatures)
    : version_(version),
      ligatures_(ligatures),
      ignore_nulls_((index.flags & kIndexIgnoreNulls) != 0) {
    if (index.columns.empty()) {
        RaiseWithDetail(kUnrecognizedFormat, table.name, "an index of the table has no columns");
    }
    parts_.reserve(index.columns.size());
    for (const IndexColumn& ic : index.columns) {
        const auto it = std::find_if(table.columns.begin(), table.columns.end(),
                                     [&](const ColumnDef& c) { return c.col_num == ic.col_num; });
        if (it == table.columns.end()) {
            RaiseWithDetail(kUnrecognizedFormat, table.name,
                            "an index names column number " + std::to_string(ic.col_num) +
                                ", which the table does not have");
        }
        Part part;
        part.column = *it;
        part.column.descriptor_raw.clear();
        part.row_position = static_cast<size_t>(it - table.columns.begin());
        part.ascending = ic.ascending;
        if ((it->type == ColumnType::kText || it->type == ColumnType::kMemo) &&
            (it->sort_order != kGeneralSortOrder ||
             (version == Version::kJet4 && it->sort_version != 0))) {
            if (knows_sort_order_) unknown_sort_order_ = it->sort_order;
            knows_sort_order_ = false;
        }
        parts_.push_back(std::move(part));
    }
}

void IndexKeyEncoder::EncodeTo(const Row& row, Bytes& out) const {
    static const Value kNull;
    for (const Part& p : parts_) {
        const Value& v = p.row_position < row.size() ? row[p.row_position] : kNull;
        AppendKeySegment(version_, p.column, p.ascending, v, out, ligatures_);
    }
}

void IndexKeyEncoder::ValueIdentityTo(const Row& row, Bytes& out) const {
    static const Value kNull;
    for (const Part& p : parts_) {
        const Value& v = p.row_position < row.size() ? row[p.row_position] : kNull;
        if (const auto* text = std::get_if<std::u16string>(&v)) {
            // Length first, so that no two splits of the text into columns look alike.
            const size_t n = text->size();
            for (int shift = 24; shift >= 0; shift -= 8)
                out.push_back(static_cast<uint8_t>(n >> shift));
            for (char16_t c : *text) {
                out.push_back(static_cast<uint8_t>(c >> 8));
                out.push_back(static_cast<uint8_t>(c));
            }
            continue;
        }
        out.push_back(0xFF);  // not text: its key segment is exact
        AppendKeySegment(version_, p.column, p.ascending, v, out, ligatures_);
    }
}

Bytes IndexKeyEncoder::Encode(const Row& row) const {
    Bytes out;
    EncodeTo(row, out);
    return out;
}

bool IndexKeyEncoder::DependsOnLigatureRule(const Row& row) const {
    if (version_ != Version::kJet4) return false;
    for (const Part& p : parts_) {
        if (p.row_position >= row.size()) continue;
        const auto* s = std::get_if<std::u16string>(&row[p.row_position]);
        if (s != nullptr && HasLigature(*s)) return true;
    }
    return false;
}

IndexKeyEncoder IndexKeyEncoder::WithLigatureRule(LigatureRule ligatures) const {
    IndexKeyEncoder copy = *this;
    copy.ligatures_ = ligatures;
    return copy;
}

bool IndexKeyEncoder::AllNull(const Row& row) const {
    for (const Part& p : parts_) {
        if (p.column.type == ColumnType::kBoolean) return false;
        if (p.row_position < row.size() && !IsNull(row[p.row_position])) return false;
    }
    return true;
}

int CompareIndexEntries(const Bytes& key_a, uint32_t page_a, uint8_t row_a, const Bytes& key_b,
                        uint32_t page_b, uint8_t row_b) {
    const size_t n = std::min(key_a.size(), key_b.size());
    if (n != 0) {
        const int c = std::memcmp(key_a.data(), key_b.data(), n);
        if (c != 0) return c < 0 ? -1 : 1;
    }
    if (key_a.size() != key_b.size()) return key_a.size() < key_b.size() ? -1 : 1;
    if (page_a != page_b) return page_a < page_b ? -1 : 1;
    if (row_a != row_b) return row_a < row_b ? -1 : 1;
    return 0;
}

}  // namespace jet
