#include "jet/read/catalog.h"

#include <algorithm>
#include <iterator>

#include "jet/base/error.h"
#include "jet/format/row_codec.h"
#include "jet/format/tdef.h"
#include "jet/format/text_codec.h"
#include "jet/read/table_reader.h"

namespace jet {
namespace {

// Simple case folding over the alphabets found in object names: ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic.
char16_t FoldCase(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c < 0x80) return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        // Pairs (upper, lower) start even in 0x100..0x137 and 0x14A..0x177, odd elsewhere.
        const bool even_pairs = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
        if (even_pairs && (c & 1)) return static_cast<char16_t>(c - 1);
        if (!even_pairs && c >= 0x139 && c <= 0x148 && !(c & 1))
            return static_cast<char16_t>(c - 1);
        if (!even_pairs && c >= 0x179 && c <= 0x17E && !(c & 1))
            return static_cast<char16_t>(c - 1);
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

template <typename T>
T IntegerAt(const Value& v) {
    const auto* i = std::get_if<int64_t>(&v);
    return i ? static_cast<T>(*i) : T{0};
}

}  // namespace

bool NamesEqual(std::string_view a, std::string_view b) {
    // ASCII names (nearly all) compare as they are: their UTF-16 is their bytes.
    const auto ascii = [](std::string_view s) {
        for (const char c : s)
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        return true;
    };
    if (ascii(a) && ascii(b)) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (FoldCase(static_cast<char16_t>(a[i])) != FoldCase(static_cast<char16_t>(b[i])))
                return false;
        return true;
    }
    const std::u16string x = Utf8ToUtf16(a);
    const std::u16string y = Utf8ToUtf16(b);
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (FoldCase(x[i]) != FoldCase(y[i])) return false;
    return true;
}

int ColumnIndex(const TableDef& t, std::string_view name) {
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (NamesEqual(t.columns[i].name, name)) return static_cast<int>(i);
    return -1;
}

Catalog Catalog::Read(MdbFile& file) {
    Catalog catalog;
    catalog.objects_ = ReadTableDef(file, kCatalogPage);
    catalog.objects_.name = "MSysObjects";
    const TableDef& t = catalog.objects_;
    const int id = ColumnIndex(t, "Id");
    const int parent = ColumnIndex(t, "ParentId");
    const int name = ColumnIndex(t, "Name");
    const int type = ColumnIndex(t, "Type");
    const int flags = ColumnIndex(t, "Flags");
    if (id < 0 || name < 0 || type < 0) file.Corrupt("MSysObjects lacks its Id, Name or Type");
    // Only the columns an entry keeps are decoded: the others (properties, long values) are
    // for the readers of MSysObjects as a table.
    const int kept[] = {id, parent, name, type, flags};
    Value values[std::size(kept)];
    RowLayout layout;
    Bytes long_value;
    TableScanner scanner(file, t);
    // The count of a damaged definition may be anything: it only sizes the list at first.
    catalog.entries_.reserve(std::min<size_t>(t.row_count, 4096));
    while (scanner.Next()) {
        const ByteSpan row = scanner.row_bytes();
        ParseRowLayoutTo(row, file.version(), t, layout);
        for (size_t k = 0; k < std::size(kept); ++k) {
            if (kept[k] < 0)
                values[k] = Value{};
            else
                DecodeColumnTo(file, t, layout, row, static_cast<size_t>(kept[k]), values[k],
                               long_value);
        }
        CatalogEntry e;
        e.location = scanner.location();
        e.id = IntegerAt<uint32_t>(values[0]);
        e.parent_id = IntegerAt<uint32_t>(values[1]);
        e.type = IntegerAt<int16_t>(values[3]);
        e.flags = IntegerAt<uint32_t>(values[4]);
        if (const auto* s = std::get_if<std::u16string>(&values[2])) e.name = Utf16ToUtf8(*s);
        catalog.entries_.push_back(std::move(e));
    }
    return catalog;
}

const CatalogEntry* Catalog::FindTable(std::string_view name) const {
    for (const CatalogEntry& e : entries_)
        if ((e.is_local_table() || e.is_linked_table()) && NamesEqual(e.name, name)) return &e;
    return nullptr;
}

const CatalogEntry* Catalog::FindById(uint32_t id) const {
    for (const CatalogEntry& e : entries_)
        if (e.id == id) return &e;
    return nullptr;
}

std::vector<const CatalogEntry*> Catalog::Tables(bool include_system) const {
    std::vector<const CatalogEntry*> out;
    for (const CatalogEntry& e : entries_)
        if (e.is_local_table() && (include_system || !e.is_system())) out.push_back(&e);
    return out;
}

}  // namespace jet
