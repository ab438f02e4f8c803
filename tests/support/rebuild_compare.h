// Comparisons of a rebuilt (compacted or repaired) file with its source, shared by the
// compaction and repair tests on the engine's files and on the corpus, for what the rows the
// independent readers print (oracles.h) do not show: page 0 and the table definitions byte
// for byte, with only the fields a rebuild must recompute masked, every reference to an object
// id resolved to the object's name (so that renumbered tables compare equal when the
// references followed), how pages are stored, and the keys of indexes the engine cannot
// compute.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "jet/format/mdb_file.h"
#include "jet/format/tdef.h"
#include "jet/format/text_codec.h"
#include "jet/keys/index_key.h"
#include "jet/read/catalog.h"
#include "jet/read/index_reader.h"
#include "jet/read/table_reader.h"
#include "jet/write/new_database.h"
#include "tests/support/files.h"

namespace jet::testkit {

inline std::unique_ptr<MdbFile> OpenForTest(const std::string& path, const std::string& pw) {
    OpenOptions o;
    o.password = pw;
    return MdbFile::Open(Env::Default(), path, o);
}

inline int ColumnAt(const TableDef& t, const std::string& name) {
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (NamesEqual(t.columns[i].name, name)) return static_cast<int>(i);
    return -1;
}

// Every reference to an object id, as text with the id replaced by the object's name:
// MSysACEs rows, foreign keys, NavPane rows, and the catalog's table rows themselves.
inline std::vector<std::string> ResolvedReferences(const std::string& path,
                                                   const std::string& pw = {}) {
    auto file = OpenForTest(path, pw);
    const Catalog catalog = Catalog::Read(*file);
    auto name_of = [&](int64_t id) -> std::string {
        const CatalogEntry* e = catalog.FindById(static_cast<uint32_t>(id));
        if (e == nullptr) return std::string("<no object>");
        return e->name + "/" + std::to_string(e->type);
    };
    std::vector<std::string> refs;
    for (const CatalogEntry* e : catalog.Tables(true)) {
        TableDef t = ReadTableDef(*file, e->tdef_page());
        t.name = e->name;
        if (e->id != e->tdef_page()) refs.push_back("id is not the definition page: " + e->name);
        for (const LogicalIndexDef& l : t.indexes)
            if (l.rel_table_page != 0)
                refs.push_back("FK " + t.name + "." + l.name + " -> " + name_of(l.rel_table_page));
        struct IdColumn {
            const char* table;
            const char* column;
        };
        for (IdColumn ic :
             {IdColumn{"MSysACEs", "ObjectId"}, IdColumn{"MSysNavPaneObjectIDs", "Id"},
              IdColumn{"MSysNavPaneGroupToObjects", "ObjectID"}}) {
            if (!NamesEqual(t.name, ic.table)) continue;
            const int col = ColumnAt(t, ic.column);
            if (col < 0) continue;
            ForEachRow(*file, t, [&](const RowLocation&, const Row& row) {
                std::string line =
                    std::string(ic.table) + " " +
                    name_of(std::holds_alternative<int64_t>(row[col]) ? std::get<int64_t>(row[col])
                                                                      : -1);
                for (size_t i = 0; i < row.size(); ++i) {
                    if (static_cast<int>(i) == col) continue;
                    line += " | ";
                    if (const auto* n = std::get_if<int64_t>(&row[i])) line += std::to_string(*n);
                    if (const auto* b = std::get_if<Bytes>(&row[i]))
                        for (uint8_t x : *b) line += std::to_string(x) + ".";
                    if (const auto* s = std::get_if<std::u16string>(&row[i]))
                        line += Utf16ToUtf8(*s);
                    if (const auto* f = std::get_if<bool>(&row[i])) line += *f ? "T" : "F";
                }
                refs.push_back(line);
            });
        }
    }
    std::sort(refs.begin(), refs.end());
    return refs;
}

// Lines only in `a` ("- ...") and only in `b` ("+ ..."); empty when the sorted lists are equal.
inline std::string ListDifferences(const std::vector<std::string>& a,
                                   const std::vector<std::string>& b) {
    std::vector<std::string> only_a, only_b;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(only_a));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(only_b));
    std::string out;
    for (const auto& l : only_a) out += "- " + l.substr(0, 200) + "\n";
    for (const auto& l : only_b) out += "+ " + l.substr(0, 200) + "\n";
    return out;
}

// A table definition as stored, with the fields a rebuild recomputes zeroed: page headers,
// tdef_len, row count, AutoNumber seed, usage-map pointers, index counts and roots, foreign
// keys' related table (compared resolved, above) and long-value map pointers.
inline Bytes MaskedDefinition(const TableDef& t, Version v) {
    Bytes d = t.definition_raw;
    auto zero = [&d](size_t at, size_t n) {
        for (size_t i = at; i < at + n && i < d.size(); ++i) d[i] = 0;
    };
    const bool jet3 = v == Version::kJet3;
    zero(0, 12);                  // page header, tdef_len
    zero(jet3 ? 0x0C : 0x10, 8);  // row count, AutoNumber seed
    zero(jet3 ? 0x23 : 0x37, 8);  // owned and free maps
    size_t off = jet3 ? 0x2B : 0x3F;
    for (size_t i = 0; i < t.real_indexes.size(); ++i, off += RealIndexCountSize(v))
        zero(off, 8);  // entries and distinct keys
    off += ColumnDescriptorSize(v) * t.columns.size();
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const size_t len = jet3 ? d.at(off) : (d.at(off) | d.at(off + 1) << 8);
        off += (jet3 ? 1 : 2) + len;
    }
    for (size_t i = 0; i < t.real_indexes.size(); ++i, off += RealIndexDefSize(v))
        zero(off + (jet3 ? 0x1E : 0x22), 8);  // usage map, root page
    for (size_t i = 0; i < t.indexes.size(); ++i, off += LogicalIndexDefSize(v))
        zero(off + (jet3 ? 0x0D : 0x11), 4);  // related table
    for (size_t i = 0; i < t.indexes.size(); ++i) {
        const size_t len = jet3 ? d.at(off) : (d.at(off) | d.at(off + 1) << 8);
        off += (jet3 ? 1 : 2) + len;
    }
    for (size_t i = 0; i < t.long_value_maps.size(); ++i, off += 10) zero(off + 2, 8);
    return d;
}

// Where two byte strings differ ("" when equal): sizes, then the first differing offsets.
inline std::string ByteDifferences(const Bytes& a, const Bytes& b) {
    std::string out;
    if (a.size() != b.size())
        out += "sizes " + std::to_string(a.size()) + " vs " + std::to_string(b.size()) + "; ";
    int shown = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()) && shown < 12; ++i) {
        if (a[i] == b[i]) continue;
        char buf[48];
        std::snprintf(buf, sizeof buf, "@0x%zx %02x/%02x ", i, a[i], b[i]);
        out += buf;
        ++shown;
    }
    return out;
}

// Page 0 and every table definition of `out` carry every byte of `source` they are meant to:
// page 0 equal apart from the page key (`key`, the source's when not given) and the commit
// words of entries 2..255 (written clean), definitions equal apart from MaskedDefinition's
// fields, AutoNumber seeds not lower.
inline void ExpectDefinitionsCarriedOver(const std::string& source, const std::string& out,
                                         const std::string& pw = {},
                                         std::optional<uint32_t> key = std::nullopt) {
    auto src = OpenForTest(source, pw);
    auto dst = OpenForTest(out, pw);
    const Version v = src->version();
    ASSERT_EQ(v, dst->version());
    Bytes h1 = src->header().raw, h2 = dst->header().raw;
    ASSERT_EQ(h1.size(), h2.size());
    const size_t commit = v == Version::kJet3 ? 0x600 : 0xE00;
    for (Bytes* h : {&h1, &h2}) {
        for (size_t i = 0x3E; i < 0x42; ++i) (*h)[i] = 0;  // encryption key
        for (size_t i = commit + 4; i < commit + 512; ++i) (*h)[i] = 0;
    }
    EXPECT_EQ(ByteDifferences(h1, h2), "") << "page 0";
    EXPECT_EQ(dst->header().encryption_key, key.value_or(src->header().encryption_key));

    const Catalog c1 = Catalog::Read(*src), c2 = Catalog::Read(*dst);
    for (const CatalogEntry* e : c1.Tables(true)) {
        SCOPED_TRACE("table " + e->name);
        const CatalogEntry* f = c2.FindTable(e->name);
        ASSERT_NE(f, nullptr);
        const TableDef a = ReadTableDef(*src, e->tdef_page());
        const TableDef b = ReadTableDef(*dst, f->tdef_page());
        EXPECT_EQ(ByteDifferences(MaskedDefinition(a, v), MaskedDefinition(b, v)), "")
            << "definition of " << e->name;
        EXPECT_GE(b.autonumber, a.autonumber);
    }
}

// How `path` stores its pages: page 0 names `key`, and with a key every later page is stored
// encoded (none left in clear).
inline void ExpectStoredWithKey(const std::string& path, uint32_t key, const std::string& pw = {}) {
    auto file = OpenForTest(path, pw);
    EXPECT_EQ(file->header().encryption_key, key) << path;
    if (key == 0) return;
    const Bytes stored = ReadAll(path);
    const size_t ps = file->page_size();
    uint32_t clear = 0;
    for (uint32_t p = 1; p < file->page_count(); ++p)
        if (std::equal(stored.begin() + p * ps, stored.begin() + (p + 1) * ps,
                       file->ReadPage(p).begin()))
            ++clear;
    EXPECT_EQ(clear, 0u) << "pages stored in clear in " << path;
}

// Two files hold the same pages once decoded (page 0 apart from its page key): they differ only
// in how their pages are stored.
inline void ExpectSameDecodedPages(const std::string& a, const std::string& b,
                                   const std::string& pw = {}) {
    auto fa = OpenForTest(a, pw), fb = OpenForTest(b, pw);
    ASSERT_EQ(fa->page_count(), fb->page_count()) << a << " / " << b;
    Bytes ha = fa->header().raw, hb = fb->header().raw;
    for (Bytes* h : {&ha, &hb}) std::fill_n(h->begin() + kHeaderEncryptionKey, 4, uint8_t{0});
    EXPECT_EQ(ByteDifferences(ha, hb), "") << "page 0 of " << a << " / " << b;
    for (uint32_t p = 1; p < fa->page_count(); ++p) {
        const Bytes x = fa->ReadPage(p), y = fb->ReadPage(p);
        if (x == y) continue;
        ADD_FAILURE() << "page " << p << " of " << a << " / " << b << ": " << ByteDifferences(x, y);
        return;
    }
}

// The entries of every index whose keys the engine cannot compute (a text column in a sort
// order it has no tables for), by "table/index number": the values of the key columns of the
// row each entry points to, paired with the entry's key. Two files whose such indexes hold,
// for the same rows, the same keys give the same map, whatever their pages.
using KeyedRows = std::map<std::string, std::multiset<std::pair<Bytes, Bytes>>>;
inline KeyedRows CarriedIndexEntries(const std::string& path, const std::string& password = {}) {
    OpenOptions open;
    open.password = password;
    auto view = DatabaseView::Open(Env::Default(), path, open);
    MdbFile& file = view->file();
    KeyedRows out;
    for (const std::string& name : view->TableNames(true)) {
        const TableDef t = view->ReadTable(name);
        std::map<uint32_t, Row> rows;
        ForEachRow(file, t, [&](const RowLocation& at, Row row) {
            rows.emplace(at.page << 8 | at.row, std::move(row));
        });
        for (size_t k = 0; k < t.real_indexes.size(); ++k) {
            const IndexKeyEncoder encoder(file.version(), t, t.real_indexes[k]);
            if (encoder.knows_sort_order()) continue;
            IndexWalkOptions walk;
            walk.page_count = file.page_count();
            walk.owner = t.tdef_page;
            auto& entries = out[name + "/" + std::to_string(k)];
            for (const IndexEntry& e : ReadIndexEntries(
                     file.version(), [&file](uint32_t p) { return file.ReadPage(p); },
                     t.real_indexes[k].root_page, walk)) {
                Bytes values;
                if (auto it = rows.find(e.data_page << 8 | e.data_row); it != rows.end())
                    encoder.ValueIdentityTo(it->second, values);
                entries.emplace(std::move(values), e.key);
            }
        }
    }
    return out;
}

// A database in the Thai sort order (1054), whose text indexes hold stand-in keys that only a
// rebuild that carries them keeps: the General key with a last byte EE. Table "Pessoas": Id
// (Long, primary key), Nome (Text, indexed), Cidade (Text, unique index, null in every fifth
// row), Ativo (Boolean, not indexed); `rows` rows with distinct names.
inline constexpr uint16_t kThaiSortOrder = 1054;
inline void StandInKey(Bytes& key) {
    if (!IsAllNullKey(key.data(), key.size())) key.push_back(0xEE);
}
inline void CreateForeignSortOrderDatabase(const std::string& path, Version version, int rows) {
    NewDatabase plan;
    plan.version = version;
    plan.replace_existing = true;
    plan.sort_order = kThaiSortOrder;
    plan.foreign_key = StandInKey;
    NewTable t;
    t.def.name = "Pessoas";
    t.def.columns = {NewColumn("Id", ColumnType::kLong), NewColumn("Nome", ColumnType::kText, 40),
                     NewColumn("Cidade", ColumnType::kText, 40),
                     NewColumn("Ativo", ColumnType::kBoolean)};
    AddIndex(t.def, "PrimaryKey", {"Id"}, IndexKind::kPrimaryKey, true);
    AddIndex(t.def, "Nome", {"Nome"});
    AddIndex(t.def, "Cidade", {"Cidade"}, IndexKind::kNormal, true);
    for (int i = 0; i < rows; ++i) {
        const std::u16string n = Utf8ToUtf16(std::to_string(i));
        Value city = i % 5 == 4 ? Value{} : Value{u"Cidade " + n};
        t.rows.push_back({int64_t{i + 1}, u"Nome " + n, city, Value{i % 2 == 0}});
    }
    plan.tables.push_back(std::move(t));
    CreateDatabase(Env::Default(), path, plan);
}

}  // namespace jet::testkit
