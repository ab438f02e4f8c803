#include "jet/read/value_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

#include "jet/format/text_codec.h"

namespace jet {
namespace {

// Days from 1970-01-01 to a civil date and back (proleptic Gregorian), after H. Hinnant.
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);  // 1899-12-30 in Unix days

}  // namespace

CivilDateTime DateFromDays(double days) {
    CivilDateTime t;
    // Beyond +-10^8 days the calendar means nothing; clamp so the arithmetic stays defined.
    if (!std::isfinite(days) || std::fabs(days) > 1e8) return t;
    double whole = std::trunc(days);
    double fraction = std::fabs(days - whole);
    int64_t seconds = std::llround(fraction * 86400.0);
    int64_t day = static_cast<int64_t>(whole);
    if (seconds >= 86400) {
        // Rounding reached the next midnight (the fraction counts forward also before 1899).
        seconds -= 86400;
        day += 1;
    }
    CivilFromDays(day + kEpochOffset, t.year, t.month, t.day);
    t.hour = static_cast<int>(seconds / 3600);
    t.minute = static_cast<int>(seconds / 60 % 60);
    t.second = static_cast<int>(seconds % 60);
    return t;
}

double DaysFromDate(const CivilDateTime& t) {
    const int64_t day = DaysFromCivil(t.year, t.month, t.day) - kEpochOffset;
    const double fraction = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
    return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

std::string FormatDate(double days, const std::string& format) {
    const CivilDateTime t = DateFromDays(days);
    std::string out;
    char buf[32];
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            out += format[i];
            continue;
        }
        const char f = format[++i];
        // Two-digit fields, by their letter.
        const std::pair<char, long long> fields[] = {
            {'y', ((t.year % 100) + 100) % 100},
            {'m', t.month},
            {'d', t.day},
            {'H', t.hour},
            {'M', t.minute},
            {'S', t.second},
        };
        const auto field = std::find_if(std::begin(fields), std::end(fields),
                                        [f](const auto& x) { return x.first == f; });
        if (f == 'Y')
            std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(t.year));
        else if (field != std::end(fields))
            std::snprintf(buf, sizeof buf, "%02lld", field->second);
        else if (f == '%')
            std::snprintf(buf, sizeof buf, "%%");
        else
            std::snprintf(buf, sizeof buf, "%%%c", f);
        out += buf;
    }
    return out;
}

std::string FormatDouble(double value, int significant_digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", significant_digits, value);
    return buf;
}

std::string FormatCurrency(int64_t scaled) {
    const bool negative = scaled < 0;
    const uint64_t magnitude =
        negative ? ~static_cast<uint64_t>(scaled) + 1 : static_cast<uint64_t>(scaled);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", negative ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 10000),
                  static_cast<unsigned long long>(magnitude % 10000));
    return buf;
}

std::string FormatDecimal(const Decimal& value, uint8_t scale) {
    // Long division of the 128-bit magnitude by 10 gives the digits.
    std::array<uint32_t, 4> words = value.magnitude;
    std::string digits;
    for (;;) {
        bool zero = true;
        uint64_t remainder = 0;
        for (uint32_t& w : words) {
            const uint64_t current = (remainder << 32) | w;
            w = static_cast<uint32_t>(current / 10);
            remainder = current % 10;
            if (w != 0) zero = false;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + remainder));
        if (zero) break;
    }
    if (scale > 0) {
        if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
        digits.insert(digits.size() - scale, 1, '.');
    }
    const bool is_zero = digits.find_first_not_of("0.") == std::string::npos;
    return (value.negative && !is_zero ? "-" : "") + digits;
}

std::string FormatGuid(const Guid& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3],
                  g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return buf;
}

std::string HexUpper(ByteSpan bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::string CsvQuote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string FormatValue(const ColumnDef& c, const Value& v, const std::string& date_format) {
    if (IsNull(v)) return {};
    if (const bool* b = std::get_if<bool>(&v)) return *b ? "1" : "0";
    if (const int64_t* i = std::get_if<int64_t>(&v))
        return c.type == ColumnType::kCurrency ? FormatCurrency(*i) : std::to_string(*i);
    if (const double* d = std::get_if<double>(&v)) {
        if (c.type == ColumnType::kDateTime) return FormatDate(*d, date_format);
        return FormatDouble(*d, c.type == ColumnType::kSingle ? 8 : 16);
    }
    if (const auto* s = std::get_if<std::u16string>(&v)) return Utf16ToUtf8(*s);
    if (const auto* bytes = std::get_if<Bytes>(&v)) return HexUpper(*bytes);
    if (const auto* g = std::get_if<Guid>(&v)) return FormatGuid(*g);
    if (const auto* dec = std::get_if<Decimal>(&v)) return FormatDecimal(*dec, c.scale);
    return {};
}

}  // namespace jet
