#include "jet/update/column_assignment.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "jet/base/error.h"
#include "jet/format/long_value.h"
#include "jet/format/row_codec.h"
#include "jet/format/text_codec.h"

namespace jet {
namespace {

// Jet's Date/Time range: 100-01-01 .. 9999-12-31 (whole days).
constexpr double kFirstDate = -657434;
constexpr double kLastDate = 2958465;
// Long values stored inline in the row (format of the long-value header).
constexpr uint8_t kLongValueInline = 0x80;

[[noreturn]] void Overflow(const ColumnDef& c) {
    RaiseWithDetail(kNumericOverflow, "", "(column " + c.name + ")");
}

void PutLittleEndian(Bytes& out, uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The literal as a whole number within [lo, hi], else overflow.
int64_t InRange(const ColumnDef& c, const UpdateLiteral& v, int64_t lo, int64_t hi) {
    if (!v.fits_int64 || v.integer < lo || v.integer > hi) Overflow(c);
    return v.integer;
}

Bytes EncodeDouble(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    Bytes out;
    PutLittleEndian(out, bits, 8);
    return out;
}

// Numeric: |value| * 10^scale must have at most `precision` digits.
Bytes EncodeNumeric(const ColumnDef& c, const UpdateLiteral& v) {
    if (!v.fits_int64) Overflow(c);
    uint64_t magnitude =
        v.integer < 0 ? 0 - static_cast<uint64_t>(v.integer) : static_cast<uint64_t>(v.integer);
    // Words least significant first while computing.
    uint32_t words[4] = {static_cast<uint32_t>(magnitude), static_cast<uint32_t>(magnitude >> 32),
                         0, 0};
    for (int i = 0; i < c.scale; ++i) {
        uint64_t carry = 0;
        for (uint32_t& w : words) {
            uint64_t x = static_cast<uint64_t>(w) * 10 + carry;
            w = static_cast<uint32_t>(x);
            carry = x >> 32;
        }
        if (carry != 0) Overflow(c);
    }
    // Count the digits by dividing a copy down.
    uint32_t copy[4] = {words[0], words[1], words[2], words[3]};
    int digits = 0;
    auto nonzero = [&] { return (copy[0] | copy[1] | copy[2] | copy[3]) != 0; };
    while (nonzero()) {
        uint64_t rem = 0;
        for (int i = 3; i >= 0; --i) {
            uint64_t x = (rem << 32) | copy[i];
            copy[i] = static_cast<uint32_t>(x / 10);
            rem = x % 10;
        }
        ++digits;
    }
    int precision = c.precision == 0 ? 18 : c.precision;
    if (digits > precision) Overflow(c);
    Bytes out;
    out.push_back(static_cast<uint8_t>(v.integer < 0 ? 0x80 : 0x00));
    for (int i = 3; i >= 0; --i) PutLittleEndian(out, words[i], 4);
    return out;
}

Bytes EncodeText(const ColumnDef& c, const std::u16string& text, Version version,
                 uint16_t code_page) {
    if (version == Version::kJet3) return EncodeCodePage(text, ColumnCodePage(c, code_page));
    bool compress = (c.ext_flags & kColumnCompressedUnicode) != 0 && !c.fixed();
    return EncodeJet4Text(text, compress,
                          c.type == ColumnType::kMemo ? TextKind::kMemo : TextKind::kText);
}

}  // namespace

std::u16string LiteralText(const UpdateLiteral& v) {
    std::string s;
    if (v.fits_int64) {
        s = std::to_string(v.integer);
    } else {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.15G", v.real);
        s = buf;
    }
    return std::u16string(s.begin(), s.end());
}

ColumnAssignment AssignLiteral(const ColumnDef& c, const UpdateLiteral& v, Version version,
                               uint16_t code_page) {
    ColumnAssignment a;
    a.column = &c;
    bool autonumber = (c.type == ColumnType::kLong && (c.flags & kColumnAutoNumber) != 0) ||
                      (c.type == ColumnType::kGuid && (c.flags & kColumnReplication) != 0);
    if (autonumber) Raise(kFieldNotUpdatable, c.name);

    switch (c.type) {
        case ColumnType::kBoolean:
            a.mask_bit = !(v.fits_int64 && v.integer == 0);
            return a;
        case ColumnType::kByte:
            PutLittleEndian(a.bytes, static_cast<uint64_t>(InRange(c, v, 0, 255)), 1);
            break;
        case ColumnType::kInteger:
            PutLittleEndian(a.bytes, static_cast<uint64_t>(InRange(c, v, INT16_MIN, INT16_MAX)), 2);
            break;
        case ColumnType::kLong:
            PutLittleEndian(a.bytes, static_cast<uint64_t>(InRange(c, v, INT32_MIN, INT32_MAX)), 4);
            break;
        case ColumnType::kCurrency: {
            int64_t units = InRange(c, v, INT64_MIN / 10000, INT64_MAX / 10000);
            PutLittleEndian(a.bytes, static_cast<uint64_t>(units * 10000), 8);
            break;
        }
        case ColumnType::kSingle: {
            if (!(std::fabs(v.real) <= FLT_MAX)) Overflow(c);
            float f = static_cast<float>(v.real);
            uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            PutLittleEndian(a.bytes, bits, 4);
            break;
        }
        case ColumnType::kDouble:
            if (!std::isfinite(v.real)) Overflow(c);
            a.bytes = EncodeDouble(v.real);
            break;
        case ColumnType::kDateTime:
            if (!(v.real >= kFirstDate && v.real <= kLastDate)) Overflow(c);
            a.bytes = EncodeDouble(v.real);
            break;
        case ColumnType::kNumeric:
            a.bytes = EncodeNumeric(c, v);
            break;
        case ColumnType::kText: {
            std::u16string text = LiteralText(v);
            size_t max_chars = version == Version::kJet3 ? c.length : c.length / 2u;
            if (c.length != 0 && text.size() > max_chars) Raise(kFieldTooSmall);
            a.bytes = EncodeText(c, text, version, code_page);
            if (c.fixed()) {
                // A fixed text column always fills its slot; the rest is blanks.
                Bytes blank = EncodeText(c, u" ", version, code_page);
                while (a.bytes.size() + blank.size() <= c.length)
                    a.bytes.insert(a.bytes.end(), blank.begin(), blank.end());
                a.bytes.resize(c.length, 0);
            }
            break;
        }
        case ColumnType::kMemo: {
            Bytes text = EncodeText(c, LiteralText(v), version, code_page);
            PutLittleEndian(a.bytes, text.size(), 3);
            a.bytes.push_back(kLongValueInline);
            a.bytes.resize(kLongValueHeaderSize, 0);
            a.bytes.insert(a.bytes.end(), text.begin(), text.end());
            break;
        }
        default:
            RaiseWithDetail(kTypeMismatch, "", "(column " + c.name + " takes no number)");
    }
    return a;
}

}  // namespace jet
