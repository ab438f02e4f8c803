#include "jet/update/row_update.h"

#include <algorithm>
#include <cstring>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/row_codec.h"

namespace jet {
namespace {

// Jet's largest rows.
constexpr size_t kMaxRowJet3 = 2012;
constexpr size_t kMaxRowJet4 = 4060;

[[noreturn]] void DoesNotFit(const std::string& detail) {
    RaiseWithDetail(kRecordTooLarge, "", "(" + detail + "; nothing was written)");
}

size_t FixedAreaEnd(const RowLayout& l) {
    return l.has_var_area ? l.var_offsets.front() : l.null_mask_offset;
}

void SetMaskBit(uint8_t* mask, uint16_t col_num, bool on) {
    uint8_t bit = static_cast<uint8_t>(1u << (col_num % 8));
    if (on)
        mask[col_num / 8] |= bit;
    else
        mask[col_num / 8] &= static_cast<uint8_t>(~bit);
}

// Gives an older row the shape of the table as it is now: every column number, the whole
// fixed area and every variable slot, the new columns null.
void ExtendToTable(RowParts& parts, const TableDef& t) {
    uint16_t ncols = std::max(parts.column_count, t.max_cols);
    size_t fixed_size = parts.fixed.size();
    // Every variable slot the table counts, deleted ones included, as Jet sizes new rows.
    const size_t nvar = std::max<size_t>(parts.vars.size(), RowVarCount(t));
    for (const ColumnDef& c : t.columns) {
        ncols = std::max<uint16_t>(ncols, static_cast<uint16_t>(c.col_num + 1));
        if (c.fixed()) fixed_size = std::max(fixed_size, c.fixed_offset + FixedSize(c));
    }
    parts.column_count = ncols;
    parts.null_mask.resize((ncols + 7u) / 8u, 0);
    parts.fixed.resize(fixed_size, 0);
    parts.vars.resize(nvar);
    parts.has_var_area = parts.has_var_area || nvar > 0;
}

}  // namespace

RowParts SplitRow(ByteSpan row, Version version, const TableDef& t) {
    RowLayout l = ParseRowLayout(row, version, t);
    RowParts parts;
    parts.column_count = l.column_count;
    size_t fixed_end = FixedAreaEnd(l);
    if (fixed_end < l.fixed_start) Corrupt("row with a fixed area of negative size");
    ByteSpan fixed = Sub(row, l.fixed_start, fixed_end - l.fixed_start, "fixed area");
    parts.fixed.assign(fixed.begin(), fixed.end());
    parts.has_var_area = l.has_var_area;
    if (l.has_var_area) {
        for (uint16_t j = 0; j < l.var_count; ++j) {
            if (l.var_offsets[j + 1u] < l.var_offsets[j]) Corrupt("variable offsets out of order");
            ByteSpan v = Sub(row, l.var_offsets[j], l.var_offsets[j + 1u] - l.var_offsets[j],
                             "variable column");
            parts.vars.emplace_back(v.begin(), v.end());
        }
    }
    ByteSpan mask = Sub(row, l.null_mask_offset, l.null_mask_size, "null mask");
    parts.null_mask.assign(mask.begin(), mask.end());
    return parts;
}

Bytes JoinRow(const RowParts& p, Version version) {
    const bool jet3 = version == Version::kJet3;
    Bytes out;
    if (jet3) {
        if (p.column_count > 255 || p.vars.size() > 255) DoesNotFit("too many columns");
        out.push_back(static_cast<uint8_t>(p.column_count));
    } else {
        out.push_back(static_cast<uint8_t>(p.column_count));
        out.push_back(static_cast<uint8_t>(p.column_count >> 8));
    }
    out.insert(out.end(), p.fixed.begin(), p.fixed.end());
    std::vector<size_t> offsets;  // var starts, then the eod
    if (p.has_var_area) {
        for (const Bytes& v : p.vars) {
            offsets.push_back(out.size());
            out.insert(out.end(), v.begin(), v.end());
        }
        offsets.push_back(out.size());
    }
    const size_t limit = jet3 ? kMaxRowJet3 : kMaxRowJet4;
    if (!p.has_var_area) {
        out.insert(out.end(), p.null_mask.begin(), p.null_mask.end());
        if (out.size() > limit) DoesNotFit("row longer than " + std::to_string(limit) + " bytes");
        return out;
    }
    const size_t nvar = p.vars.size();
    if (!jet3) {
        auto put16 = [&out](size_t v) {
            out.push_back(static_cast<uint8_t>(v));
            out.push_back(static_cast<uint8_t>(v >> 8));
        };
        put16(offsets.back());  // eod
        for (size_t j = nvar; j-- > 0;) put16(offsets[j]);
        put16(nvar);
    } else {
        // One-byte offsets; a row of L bytes carries k = (L - 1) / 256 jump entries, and adding
        // them can push L over the next boundary, so settle k first.
        const size_t base = out.size() + 1 + nvar + 1 + p.null_mask.size();
        size_t k = 0;
        for (int i = 0; i < 16; ++i) {
            size_t next = (base + k - 1) / 256;
            if (next == k) break;
            k = next;
        }
        out.push_back(static_cast<uint8_t>(offsets.back()));  // eod
        for (size_t j = nvar; j-- > 0;) out.push_back(static_cast<uint8_t>(offsets[j]));
        // Entry j: the first offset (the eod counting as entry nvar) at or past 256 (j + 1);
        // 0xFF when none is (readers drop that last, dummy entry).
        for (size_t j = k; j-- > 0;) {
            size_t boundary = 256 * (j + 1);
            size_t value = 0xFF;
            for (size_t i = 0; i <= nvar; ++i) {
                if (offsets[i] >= boundary) {
                    value = i;
                    break;
                }
            }
            out.push_back(static_cast<uint8_t>(value));
        }
        out.push_back(static_cast<uint8_t>(nvar));
    }
    out.insert(out.end(), p.null_mask.begin(), p.null_mask.end());
    if (out.size() > limit) DoesNotFit("row longer than " + std::to_string(limit) + " bytes");
    return out;
}

void ReplaceRowBytes(Bytes& page, uint16_t r, ByteSpan bytes, Version version) {
    DataPage dp(page, version);
    const uint16_t n = dp.row_count();
    if (r >= n) Corrupt("row number past the page's row count");
    const size_t table_end = DataPageHeaderSize(version) + 2u * n;
    const size_t start = dp.row_start(r);
    const size_t end = dp.row_end(r);
    if (start < table_end || end < start || end > page.size()) Corrupt("row outside its page");

    // The rows stored below this one move; the ones above stay.
    size_t low = start;
    std::vector<uint16_t> moving;
    for (uint16_t i = 0; i < n; ++i) {
        if (i == r) continue;
        size_t s = dp.row_start(i);
        if (s < start || (s == start && i > r)) {
            if (s < table_end) Corrupt("row overlapping the row offset table");
            moving.push_back(i);
            low = std::min(low, s);
        } else if (s < end) {
            Corrupt("rows overlapping in a data page");
        }
    }
    const size_t old_len = end - start;
    const size_t new_len = bytes.size();
    const uint16_t stored_free = dp.free_space();
    if (new_len > old_len) {
        size_t grow = new_len - old_len;
        if (low < table_end + grow || stored_free < grow)
            DoesNotFit("the row no longer fits its page (" + std::to_string(grow) +
                       " more bytes, " + std::to_string(stored_free) + " free)");
    }
    const size_t new_start = end - new_len;
    const size_t new_low = low + new_start - start;  // low moves by the same amount
    std::memmove(page.data() + new_low, page.data() + low, start - low);
    if (new_low > low) std::memset(page.data() + low, 0, new_low - low);  // vacated bytes
    std::memcpy(page.data() + new_start, bytes.data(), new_len);

    const size_t entries = DataPageHeaderSize(version);
    auto set_start = [&](uint16_t i, size_t s) {
        uint16_t e = U16(page, entries + 2u * i);
        PutU16(page, entries + 2u * i,
               static_cast<uint16_t>((e & ~kRowOffsetMask) | (s & kRowOffsetMask)));
    };
    for (uint16_t i : moving) set_start(i, dp.row_start(i) + new_start - start);
    set_start(r, new_start);
    PutU16(page, 2, static_cast<uint16_t>(stored_free + old_len - new_len));
}

bool UpdateRowInPage(Bytes& page, uint16_t r, const TableDef& t, const ColumnAssignment& a,
                     Version version) {
    const ColumnDef& c = *a.column;
    DataPage dp(page, version);
    if (r >= dp.row_count()) Corrupt("row number past the page's row count");
    if (dp.overflow(r)) Corrupt("an overflow pointer where a data row was expected");
    const size_t start = dp.row_start(r);
    ByteSpan row = dp.row(r);
    RowLayout l = ParseRowLayout(row, version, t);

    // In place: a Boolean's bit, or a fixed column stored in this row.
    if (l.HasColumn(c.col_num) && (c.type == ColumnType::kBoolean || c.fixed())) {
        Bytes patched(page.begin() + static_cast<ptrdiff_t>(start),
                      page.begin() + static_cast<ptrdiff_t>(start + row.size()));
        if (c.type != ColumnType::kBoolean) {
            size_t offset = l.fixed_start + c.fixed_offset;
            if (!InRange(FixedAreaEnd(l), offset, a.bytes.size()))
                Corrupt("fixed column " + c.name + " outside the row's fixed area");
            std::memcpy(patched.data() + offset, a.bytes.data(), a.bytes.size());
        }
        SetMaskBit(patched.data() + l.null_mask_offset, c.col_num, a.mask_bit);
        if (std::equal(patched.begin(), patched.end(), row.begin())) return false;
        std::memcpy(page.data() + start, patched.data(), patched.size());
        return true;
    }

    RowParts parts = SplitRow(row, version, t);
    const bool boolean = c.type == ColumnType::kBoolean;
    bool absent = !l.HasColumn(c.col_num) ||
                  (!boolean && !c.fixed() && c.var_index >= parts.vars.size()) ||
                  (!boolean && c.fixed() && c.fixed_offset + a.bytes.size() > parts.fixed.size());
    if (absent) ExtendToTable(parts, t);
    // A damaged definition can number a column past anything a row can hold (the counts above
    // wrap at 65535): the row is not written then.
    if (c.col_num / 8u >= parts.null_mask.size())
        Corrupt("column " + c.name + " past the row's null mask");
    if (!boolean && !c.fixed() && c.var_index >= parts.vars.size())
        Corrupt("variable column " + c.name + " past the row's variable columns");
    if (boolean) {
        // The mask bit alone.
    } else if (c.fixed()) {
        if (c.fixed_offset + a.bytes.size() > parts.fixed.size())
            Corrupt("fixed column " + c.name + " outside the table's fixed area");
        std::memcpy(parts.fixed.data() + c.fixed_offset, a.bytes.data(), a.bytes.size());
    } else {
        parts.vars[c.var_index] = a.bytes;
    }
    SetMaskBit(parts.null_mask.data(), c.col_num, a.mask_bit);
    Bytes rebuilt = JoinRow(parts, version);
    if (std::equal(rebuilt.begin(), rebuilt.end(), row.begin(), row.end())) return false;
    Bytes copy = page;
    ReplaceRowBytes(copy, r, rebuilt, version);
    page.swap(copy);
    return true;
}

}  // namespace jet
