#include "jet/rebuild/salvage_long_value.h"

#include <algorithm>
#include <set>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/long_value.h"

namespace jet {
namespace {

// One LVAL row: a live row of a data page owned by "LVAL".
bool LoadLvalRow(MdbFile& file, uint32_t pointer, Bytes& page, ByteSpan& row) {
    const RowPointer at = RowPointer::FromPacked(pointer);
    if (at.page == 0 || at.page >= file.page_count()) return false;
    file.ReadPage(at.page, page);
    if (!IsDataPageOf(page, kLvalOwner)) return false;
    const DataPage data(page, file.version());
    if (at.row >= data.row_count()) return false;
    row = data.row(at.row);
    return true;
}

bool Read(MdbFile& file, ByteSpan field, Bytes& out) {
    out.clear();
    if (field.empty()) return true;
    if (field.size() < kLongValueHeaderSize) return false;
    if ((field[3] & 0xC0) == 0xC0) return false;  // no such storage form
    const LongValueHeader h = ParseLongValueHeader(field);
    if (h.form == LongValueForm::kInline) {
        if (h.length > field.size() - kLongValueHeaderSize) return false;
        out.assign(field.begin() + kLongValueHeaderSize,
                   field.begin() + static_cast<ptrdiff_t>(kLongValueHeaderSize + h.length));
        return true;
    }
    Bytes page;
    ByteSpan row;
    if (h.form == LongValueForm::kSingle) {
        if (!LoadLvalRow(file, h.first_row, page, row) || row.size() < h.length) return false;
        out.assign(row.begin(), row.begin() + h.length);
        return true;
    }
    // A chain: every row visited once, so the walk is bounded by the rows of the file.
    std::set<uint32_t> seen;
    uint32_t next = h.first_row;
    out.reserve(std::min<size_t>(h.length, size_t{1} << 20));
    while (out.size() < h.length) {
        if (next == 0 || !seen.insert(next).second) return false;
        if (!LoadLvalRow(file, next, page, row) || row.size() < 4) return false;
        next = U32(row, 0);
        const size_t take = std::min<size_t>(row.size() - 4, h.length - out.size());
        out.insert(out.end(), row.begin() + 4, row.begin() + 4 + static_cast<ptrdiff_t>(take));
    }
    return true;
}

}  // namespace

bool ReadLongValueSalvaged(MdbFile& file, ByteSpan field, Bytes& out) {
    try {
        return Read(file, field, out);
    } catch (const JetError&) {
        return false;  // a page that does not parse, a row out of its page
    }
}

}  // namespace jet
