// A column value as the engine hands it around: decoded from a row, compared, encoded into an
// index key, written back by the writer. The column's type gives the meaning of each form.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace jet {

using Bytes = std::vector<uint8_t>;

// Numeric (Decimal, Jet 4 only): sign and a 128-bit magnitude; value = magnitude / 10^scale,
// with the scale taken from the column.
struct Decimal {
    bool negative = false;
    std::array<uint32_t, 4> magnitude{};  // most significant word first, as stored
    bool operator==(const Decimal&) const = default;
};

using Guid = std::array<uint8_t, 16>;  // in stored (Windows) byte order

// Forms by column type:
//   null (monostate)      any column without a value; Boolean never holds it
//   bool                  Boolean
//   int64_t               Byte, Integer, Long, Currency (scaled by 10000)
//   double                Single, Double, Date/Time (days since 1899-12-30)
//   std::u16string        Text, Memo (decoded to UTF-16 from the code page or UCS-2)
//   Bytes                 Binary, OLE, fixed binary, unknown types
//   Guid                  GUID
//   Decimal               Numeric
using Value =
    std::variant<std::monostate, bool, int64_t, double, std::u16string, Bytes, Guid, Decimal>;

inline bool IsNull(const Value& v) {
    return std::holds_alternative<std::monostate>(v);
}

// A row: one value per column of the table, in the order of TableDef::columns.
using Row = std::vector<Value>;

}  // namespace jet
