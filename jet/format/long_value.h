// Long values (Memo and OLE columns).
//
// In the row the column holds a 12-byte header, optionally followed by the data:
//   0 u32  length in the low 30 bits; bits 30..31 (byte 3) give the storage form:
//          0x80 inline (data follows the header), 0x40 one LVAL row, 0x00 chain of LVAL rows
//   4 u32  row pointer (page << 8 | row) to the first LVAL row (0 when inline)
//   8 u32  0, or garbage in Jet 4 chained headers
// LVAL rows live on data pages whose owner field is "LVAL". A single-row value is the whole row;
// each row of a chain starts with the u32 row pointer of the next piece (0 on the last) followed
// by data, and the pieces are concatenated until `length` bytes are collected. Chains are
// followed with a visited set and a step limit, so a cycle or a pointer out of the file is an
// error (3343), never a hang.
#pragma once

#include <cstdint>

#include "jet/base/bytes.h"
#include "jet/format/mdb_file.h"

namespace jet {

enum class LongValueForm : uint8_t { kInline = 0x80, kSingle = 0x40, kChain = 0x00 };

struct LongValueHeader {
    uint32_t length = 0;
    LongValueForm form = LongValueForm::kInline;
    uint32_t first_row = 0;  // row pointer, 0 when inline
};

constexpr size_t kLongValueHeaderSize = 12;

// Parses the 12-byte header of a long-value field (3343 when shorter or of an unknown form).
LongValueHeader ParseLongValueHeader(ByteSpan field);

// The whole value of a long-value field as stored in a row. An empty field is an empty value.
Bytes ReadLongValue(MdbFile& file, ByteSpan field);
// Same, into `out` (its buffer reused); with `rows`, also the LVAL row pointers it used, in
// chain order (LongValueRows), in one walk.
void ReadLongValueTo(MdbFile& file, ByteSpan field, Bytes& out,
                     std::vector<uint32_t>* rows = nullptr);

// The LVAL row pointers a field uses (empty when inline), in chain order; the checker and the
// writer's clean-up need them.
std::vector<uint32_t> LongValueRows(MdbFile& file, ByteSpan field);

}  // namespace jet
