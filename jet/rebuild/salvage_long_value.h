// Reading a long value (Memo/OLE) without trusting any pointer, for the salvaging read.
//
// Stricter than ReadLongValue (long_value.h): every LVAL row must be a row of a data page whose
// owner field is "LVAL"; a single-row value needs a row at least as long as the value; a chain
// is followed with a visited set, so a loop, a pointer outside the file or to another kind of
// page, or a chain that ends before the value's length is collected, makes the value broken.
// Broken is an answer (false), not an error: the caller cuts the value.
#pragma once

#include "jet/base/bytes.h"
#include "jet/format/mdb_file.h"

namespace jet {

// The value of the long-value field `field` as stored in a row, into `out`; false when its
// storage is broken. An empty field is an empty value.
bool ReadLongValueSalvaged(MdbFile& file, ByteSpan field, Bytes& out);

}  // namespace jet
