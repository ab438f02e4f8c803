// Text as the writer stores it: names in table definitions and values of Text/Memo columns.
// Jet 3 keeps text in the database code page (one byte per character); Jet 4 keeps UCS-2LE,
// optionally in the "compressed Unicode" form (format.md 7.2) when the column allows it.
#pragma once

#include <string>

#include "jet/schema.h"
#include "jet/value.h"

namespace jet {

// UTF-8 (names in TableDef) to UTF-16. Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& utf8);

// A column, index or table name as stored in a TDEF: Jet 3 u8 length + code-page bytes,
// Jet 4 u16 byte length + UCS-2LE. Names longer than 64 characters raise 3163... they are
// rejected by the caller; here only the encoding happens.
Bytes EncodeTdefName(const std::string& utf8, Version version, uint16_t code_page);

// The stored bytes of a Text or Memo value. `compressible` is the column's Jet 4 extended
// flag 0x01; memos longer than 1024 characters are never compressed.
Bytes EncodeTextValue(const std::u16string& text, Version version, uint16_t code_page,
                      bool compressible, bool memo);

}  // namespace jet
