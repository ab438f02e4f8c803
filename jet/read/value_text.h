// Values as text, for exports, reports and messages. The forms follow what common Access export
// tools print, so outputs can be compared line by line:
//   Boolean 1/0; Byte, Integer, Long in decimal; Currency with 4 decimals; Single with 8 and
//   Double with 16 significant digits (printf %g); Date/Time as "YYYY-MM-DD HH:MM:SS" (or a
//   chosen format); Numeric in decimal with the column's scale; GUID as {XXXXXXXX-XXXX-...};
//   Binary/OLE as upper-case hex; Text/Memo as UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "jet/base/bytes.h"
#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

struct CivilDateTime {
    int64_t year = 1899;
    int month = 12, day = 30, hour = 0, minute = 0, second = 0;
};

// Days since 1899-12-30 (the integer part is the day, the fraction always the positive part of
// the day, also before 1899), rounded to the second. Not finite values give 1899-12-30.
CivilDateTime DateFromDays(double days);
// The inverse (for writers and tests).
double DaysFromDate(const CivilDateTime& t);

// strftime-like: %Y %m %d %H %M %S %y %%; anything else is copied.
std::string FormatDate(double days, const std::string& format = "%Y-%m-%d %H:%M:%S");
std::string FormatDouble(double value, int significant_digits);
std::string FormatCurrency(int64_t scaled);  // value * 10000 -> "12.3400"
std::string FormatDecimal(const Decimal& value, uint8_t scale);
std::string FormatGuid(const Guid& guid);
std::string HexUpper(ByteSpan bytes);
// A CSV field (RFC 4180) holding `s`: in double quotes, each quote inside doubled.
std::string CsvQuote(const std::string& s);

// The text form of a value of column `c` as described above; null gives "".
std::string FormatValue(const ColumnDef& c, const Value& v,
                        const std::string& date_format = "%Y-%m-%d %H:%M:%S");

}  // namespace jet
