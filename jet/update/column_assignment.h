// Converting an UPDATE literal into what gets stored in one column of every row.
//
// The conversion is done once, before any row is touched, so a value the column cannot take
// fails the statement with nothing written. Stored forms (format of both versions):
//   Boolean        no bytes; the row's null-mask bit (1 = True)
//   Byte/Integer/Long/Currency  1/2/4/8 bytes little-endian (Currency scaled by 10 000)
//   Single/Double  IEEE little-endian; Date/Time: a Double of days since 1899-12-30
//   Numeric        sign byte (0x80 negative) + 128-bit magnitude as four u32 LE words, most
//                  significant word first; magnitude = |value| * 10^scale
//   Text           the decimal digits: Jet 3 code page bytes, Jet 4 UCS-2 or compressed
//                  Unicode when the column allows it
//   Memo           12-byte long-value header, inline (0x80), then the text as for Text
#pragma once

#include <cstdint>

#include "jet/base/value.h"
#include "jet/format/schema.h"
#include "jet/update/update_statement.h"

namespace jet {

struct ColumnAssignment {
    const ColumnDef* column = nullptr;
    bool mask_bit = true;  // the null-mask bit to store (the value itself for a Boolean)
    Bytes bytes;           // stored bytes (none for a Boolean); fixed columns: FixedSize bytes
};

// Errors: 3113 AutoNumber columns (not updateable); 3349 a value outside the column's range;
// 3163 text longer than the column; 3464 Binary, OLE, GUID and other types that take no
// number.
ColumnAssignment AssignLiteral(const ColumnDef& column, const UpdateLiteral& value, Version version,
                               uint16_t code_page);

// The decimal text Jet gives a number converted to text ("-1", "1E+20").
std::u16string LiteralText(const UpdateLiteral& value);

}  // namespace jet
