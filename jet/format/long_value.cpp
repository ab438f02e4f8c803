#include "jet/format/long_value.h"

#include <set>
#include <string>

#include "jet/format/data_page.h"

namespace jet {
namespace {

// A piece of a long value: the data of one LVAL row.
struct LvalRow {
    Bytes scratch;  // the page when the file cannot lend its own bytes
    ByteSpan page;
    ByteSpan bytes;
};

void LoadLvalRow(MdbFile& file, uint32_t pointer, LvalRow& out) {
    const RowPointer at = RowPointer::FromPacked(pointer);
    if (at.page == 0 || at.page >= file.page_count())
        file.Corrupt("long value points outside the file (page " + std::to_string(at.page) + ")");
    out.page = file.ViewPage(at.page, out.scratch);
    if (out.page[0] != kPageData)
        file.Corrupt("long value points to page " + std::to_string(at.page) +
                     " which is not a data page");
    const DataPage page(out.page, file.version());
    if (at.row >= page.row_count())
        file.Corrupt("long value points to a missing row on page " + std::to_string(at.page));
    out.bytes = page.row(at.row);
}

// Walks the value's LVAL rows, handing each piece's data to `sink`.
template <typename Sink>
void WalkLongValue(MdbFile& file, const LongValueHeader& h, Sink&& sink) {
    LvalRow row;
    if (h.form == LongValueForm::kSingle) {
        LoadLvalRow(file, h.first_row, row);
        if (row.bytes.size() < h.length) file.Corrupt("long value row shorter than its length");
        sink(h.first_row, row.bytes.first(h.length));
        return;
    }
    // Every pointer is visited once and must name an existing row, so the walk is bounded by
    // the rows in the file.
    std::set<uint32_t> seen;
    uint32_t next = h.first_row;
    uint64_t collected = 0;
    while (collected < h.length) {
        if (next == 0) file.Corrupt("long value chain ends early");
        if (!seen.insert(next).second) file.Corrupt("long value chain loops");
        LoadLvalRow(file, next, row);
        if (row.bytes.size() < 4) file.Corrupt("long value chain row too short");
        const uint32_t current = next;
        next = U32(row.bytes, 0);
        ByteSpan data = row.bytes.subspan(4);
        if (data.size() > h.length - collected) data = data.first(h.length - collected);
        collected += data.size();
        sink(current, data);
    }
}

}  // namespace

LongValueHeader ParseLongValueHeader(ByteSpan field) {
    if (field.size() < kLongValueHeaderSize) Corrupt("long value header too short");
    LongValueHeader h;
    const uint32_t word = U32(field, 0);
    h.length = word & 0x3FFFFFFF;
    const uint8_t form = static_cast<uint8_t>((word >> 24) & 0xC0);
    if (form == 0xC0) Corrupt("long value of unknown form");
    h.form = static_cast<LongValueForm>(form);
    h.first_row = U32(field, 4);
    return h;
}

Bytes ReadLongValue(MdbFile& file, ByteSpan field) {
    Bytes out;
    ReadLongValueTo(file, field, out);
    return out;
}

void ReadLongValueTo(MdbFile& file, ByteSpan field, Bytes& out, std::vector<uint32_t>* rows) {
    out.clear();
    if (rows != nullptr) rows->clear();
    if (field.empty()) return;
    const LongValueHeader h = ParseLongValueHeader(field);
    if (h.form == LongValueForm::kInline) {
        const ByteSpan data = Sub(field, kLongValueHeaderSize, h.length, "inline long value");
        out.assign(data.begin(), data.end());
        return;
    }
    out.reserve(std::min<size_t>(h.length, size_t{1} << 20));
    WalkLongValue(file, h, [&](uint32_t pointer, ByteSpan data) {
        if (rows != nullptr) rows->push_back(pointer);
        out.insert(out.end(), data.begin(), data.end());
    });
}

std::vector<uint32_t> LongValueRows(MdbFile& file, ByteSpan field) {
    std::vector<uint32_t> rows;
    if (field.empty()) return rows;
    const LongValueHeader h = ParseLongValueHeader(field);
    if (h.form == LongValueForm::kInline) return rows;
    WalkLongValue(file, h, [&](uint32_t pointer, ByteSpan) { rows.push_back(pointer); });
    return rows;
}

}  // namespace jet
