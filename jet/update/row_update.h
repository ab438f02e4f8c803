// Writing one column's new value into a row, inside the image of its data page.
//
// Fixed-size columns and Booleans of a row that stores them are patched where they are: the
// value's bytes at fixed_start + fixed_offset and the column's null-mask bit (a Boolean is its
// bit alone); nothing else in the page changes. Every other case (a variable-length column,
// a fixed-size column stored in the variable area, an older row written before the column
// existed) re-encodes the row from its parts (row_codec.h describes the layout, including the
// Jet 3 jump table) and splices it back into the page:
//   - rows are packed downwards from the end of the page, so the rows stored below the
//     changed one (at lower offsets) move by the change in length and their offset entries
//     follow, flags kept; row numbers never change, so index entries stay valid;
//   - the page's free space becomes page_size - header - 2 n - (bytes of all n rows),
//     deleted rows included;
//   - a row that no longer fits its page is refused (3047) rather than moved to another
//     page, so an update never allocates pages.
// Parts kept verbatim: the fixed area (also bytes of deleted columns), the other variable
// values, the other mask bits. A re-encoded row has no gap before its eod field.
#pragma once

#include <cstdint>

#include "jet/base/bytes.h"
#include "jet/base/value.h"
#include "jet/format/schema.h"
#include "jet/update/column_assignment.h"

namespace jet {

// The pieces of a stored row.
struct RowParts {
    uint16_t column_count = 0;  // ncols
    Bytes fixed;                // the fixed area
    bool has_var_area = false;
    std::vector<Bytes> vars;  // by var index; nvar = vars.size()
    Bytes null_mask;          // (column_count + 7) / 8 bytes
};

// Splits a row of table `t`. Throws 3343 when it is not a valid row of the table.
RowParts SplitRow(ByteSpan row, Version version, const TableDef& t);

// Encodes parts into a row (no gap; Jet 3 rows get their jump table). Throws 3047 when the row
// is longer than a row may be (2012 bytes in Jet 3, 4060 in Jet 4).
Bytes JoinRow(const RowParts& parts, Version version);

// Stores `a` into row `row` of the page image `page` (a data page of table `t`). Returns
// false when the page is unchanged (the row already held the value). Throws 3343 for a damaged
// page or row, 3047 when the re-encoded row does not fit its page. On a throw `page` is
// unchanged. REQUIRES: `row` is a data row (not an overflow pointer).
bool UpdateRowInPage(Bytes& page, uint16_t row, const TableDef& t, const ColumnAssignment& a,
                     Version version);

// Replaces the bytes of row `row` in the page image by `bytes`, moving the rows below it and
// fixing offsets and free space. Throws 3047 when there is no room, 3343 when the page's rows
// are not packed as expected.
void ReplaceRowBytes(Bytes& page, uint16_t row, ByteSpan bytes, Version version);

}  // namespace jet
