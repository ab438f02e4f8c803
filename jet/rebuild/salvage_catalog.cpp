// The salvaging read's survey of the pages, its catalog and its table definitions
// (salvage_source.h): what is read at opening, before any row of a user table.
//
// Tables:
//   - the catalog (MSysObjects, page 2) is read with the salvaging row reader (row_salvager.cpp);
//   when its
//     definition no longer reads, the standard definition of MSysObjects is used instead (its
//     column layout is the same in every Jet file). With no catalog row at all, every table
//     is found by its definition (below), empty ones too; nothing found either: 3056.
//   - every local table the catalog names is read from its definition; a definition that does
//     not read or does not hold together (an index naming a missing column) loses the table,
//     except for the Jet system tables MSysACEs, MSysQueries and MSysRelationships, which get
//     their standard definitions (SystemTableDef, exactly as such a definition reads back, so
//     the rows are written under the definition stored), and Access's own tables (MSysAccess*,
//     MSysModules*, MSysNavPane*, ...), which get the one of the layouts Access writes for them
//     (AccessSystemTableDefs) that most rows on their data pages fit to the byte.
//   - a catalog row of another type whose id is the page of a sound definition is a table
//     whose type was damaged: it is a table again;
//   - when the catalog shows damage (rows or pages of it could not be read, a table row whose
//     definition is lost, a type put right), definitions that no catalog row names are looked
//     for among the pages in use: a TDEF page that starts a chain, parses and owns data pages
//     with rows is recovered as "RecoveredTable_<page>", with a catalog row and the
//     permissions of the Tables container.
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/row_codec.h"
#include "jet/format/tdef.h"
#include "jet/format/text_codec.h"
#include "jet/format/usage_map.h"
#include "jet/keys/index_key.h"
#include "jet/read/catalog.h"
#include "jet/rebuild/header_recovery.h"
#include "jet/rebuild/salvage_state.h"
#include "jet/write/row_encoder.h"
#include "jet/write/system_tables.h"

namespace jet {

std::optional<uint32_t> IdAt(const Row& row, int column) {
    if (column < 0 || static_cast<size_t>(column) >= row.size()) return std::nullopt;
    const auto* v = std::get_if<int64_t>(&row[static_cast<size_t>(column)]);
    if (v == nullptr) return std::nullopt;
    return static_cast<uint32_t>(static_cast<int32_t>(*v));
}

namespace {

// Throws when a definition does not hold together well enough for its rows to be read and
// written: no columns, a column numbered past max_cols, an index on a missing column, a
// logical index backed by a missing real index.
void ValidateDefinition(const TableDef& def, Version version) {
    if (def.columns.empty()) throw std::invalid_argument("no columns");
    for (const ColumnDef& c : def.columns)
        if (c.col_num >= def.max_cols) throw std::invalid_argument("column numbered past max_cols");
    for (const RealIndexDef& r : def.real_indexes) IndexKeyEncoder keys(version, def, r);
    for (const LogicalIndexDef& l : def.indexes)
        if (l.real_index >= def.real_indexes.size())
            throw std::invalid_argument("index backed by a missing index");
    RowEncoder rows(def, version, 1252);
}

// Reads and validates the definition at `page`; false when it is unusable.
bool ReadDefinition(MdbFile& file, uint32_t page, TableDef& def, std::string& why) {
    try {
        def = ReadTableDef(file, page);
        ValidateDefinition(def, file.version());
        return true;
    } catch (const JetError& e) {
        why = e.what();
    } catch (const std::exception& e) {
        why = e.what();
    }
    return false;
}

// The Jet system tables whose standard definitions can stand in for a damaged one.
struct JetSystemTable {
    const char* name;
    SystemTable which;
};
constexpr JetSystemTable kJetSystemTables[] = {
    {"MSysObjects", SystemTable::kObjects},
    {"MSysACEs", SystemTable::kAces},
    {"MSysQueries", SystemTable::kQueries},
    {"MSysRelationships", SystemTable::kRelationships},
};

const JetSystemTable* FindJetSystemTable(const std::string& name) {
    for (const JetSystemTable& t : kJetSystemTables)
        if (NamesEqual(name, t.name)) return &t;
    return nullptr;
}

// True when two definitions have the same column names in the same order.
bool SameColumns(const TableDef& a, const TableDef& b) {
    if (a.columns.size() != b.columns.size()) return false;
    for (size_t i = 0; i < a.columns.size(); ++i)
        if (!NamesEqual(a.columns[i].name, b.columns[i].name)) return false;
    return true;
}

std::string TextAt(const Row& row, int column) {
    if (column < 0 || static_cast<size_t>(column) >= row.size()) return {};
    const auto* v = std::get_if<std::u16string>(&row[static_cast<size_t>(column)]);
    return v == nullptr ? std::string() : Utf16ToUtf8(*v);
}

// Puts a value into a catalog row by column name (when the column exists).
void SetColumn(const TableDef& def, Row& row, std::string_view column, Value value) {
    const int c = ColumnIndex(def, column);
    if (c >= 0) row[static_cast<size_t>(c)] = std::move(value);
}

// True when `bytes` is a row of `def` to the byte: every variable value exactly the size of its
// type (a Long 4 bytes, a date 8, a GUID 16), no text or binary longer than its column, Jet 4
// text of whole characters, a long-value field as long as its header at least; and its key in
// each unique index (`seen`, one set per index) not one of an earlier row's. A row of the same
// table read under another column layout fails this for some value, or for some key (an
// AutoNumber read from a column of flags).
bool FitsExactly(ByteSpan bytes, const TableDef& def, Version version,
                 std::vector<std::set<std::string>>& seen) {
    constexpr size_t kLongValueField = 12;
    try {
        const RowLayout layout = ParseRowLayout(bytes, version, def);
        if (layout.column_count == 0 || layout.column_count > def.max_cols ||
            layout.var_count > def.num_var_cols)
            return false;
        std::vector<std::string> values(def.columns.size());
        for (size_t i = 0; i < def.columns.size(); ++i) {
            const ColumnDef& c = def.columns[i];
            const ColumnSlice s = LocateColumn(layout, bytes, c);
            if (!s.present || !s.not_null || c.type == ColumnType::kBoolean) continue;
            values[i].assign(s.bytes.begin(), s.bytes.end());
            if (c.fixed()) continue;
            const size_t n = s.bytes.size();
            switch (c.type) {
                case ColumnType::kText: {
                    const bool compressed = n >= 2 && s.bytes[0] == 0xFF && s.bytes[1] == 0xFE;
                    if (n > c.length || (version == Version::kJet4 && n % 2 != 0 && !compressed))
                        return false;
                    break;
                }
                case ColumnType::kBinary:
                    if (n > c.length) return false;
                    break;
                case ColumnType::kMemo:
                case ColumnType::kOle:
                    if (n < kLongValueField) return false;
                    break;
                default:
                    if (n != FixedStorageSize(c.type, c.length)) return false;
            }
        }
        bool repeated = false;
        for (size_t k = 0; k < def.real_indexes.size(); ++k) {
            if (!(def.real_indexes[k].flags & kIndexUnique)) continue;
            std::string key;
            bool any = false;
            for (const IndexColumn& ic : def.real_indexes[k].columns) {
                for (size_t i = 0; i < def.columns.size(); ++i) {
                    if (def.columns[i].col_num != ic.col_num) continue;
                    any |= !values[i].empty();
                    key += std::to_string(values[i].size()) + ":" + values[i];
                }
            }
            if (any) repeated |= !seen[k].insert(key).second;
        }
        return !repeated;
    } catch (const JetError&) {
        return false;
    }
}

// Of the layouts Access writes for a table (AccessSystemTableDefs, most common first), the one
// under which most live rows of the table's data pages (found by their owner field) fit to the
// byte; with as many fitting several, the first of them.
size_t BestLayout(SalvageSource::Impl& m, uint32_t owner, const std::vector<TableDef>& layouts) {
    std::vector<uint64_t> fits(layouts.size(), 0);
    std::vector<std::vector<std::set<std::string>>> seen;
    for (const TableDef& l : layouts) seen.emplace_back(l.real_indexes.size());
    Bytes bytes;
    if (auto it = m.data_pages_by_owner.find(owner); it != m.data_pages_by_owner.end()) {
        for (uint32_t p : it->second) {
            if (m.page_free[p]) continue;
            try {
                m.file->ReadPage(p, bytes);
                const DataPage page(bytes, m.file->version());
                for (uint16_t i = 0; i < page.row_count(); ++i) {
                    if (page.entry(i) & (kRowDeleted | kRowOverflow)) continue;
                    const ByteSpan row = page.row(i);
                    for (size_t l = 0; l < layouts.size(); ++l)
                        fits[l] += FitsExactly(row, layouts[l], m.file->version(), seen[l]) ? 1 : 0;
                }
            } catch (const JetError&) {
                // An unreadable page tells nothing of the layout.
            }
        }
    }
    return static_cast<size_t>(std::max_element(fits.begin(), fits.end()) - fits.begin());
}

}  // namespace

void SalvageSource::Impl::Survey() {
    const uint32_t n = page_count();
    page_type.assign(n, 0xFF);
    page_owner.assign(n, 0);
    Bytes scratch;
    for (uint32_t p = 1; p < n; ++p) {
        ByteSpan page;
        try {
            page = file->ViewPage(p, scratch);  // only its first bytes are looked at
        } catch (const JetError&) {
            continue;
        }
        page_type[p] = page[0];
        page_owner[p] = U32(page, 4);
        if (page[0] == kPageData) data_pages_by_owner[page_owner[p]].push_back(p);
    }
}

void SalvageSource::Impl::ReadGlobalMap() {
    page_free.assign(page_count(), false);
    try {
        const UsageMap global = ReadGlobalUsageMap(*file);
        for (uint32_t p : global.pages)
            if (p < page_free.size()) page_free[p] = true;
    } catch (const JetError&) {
        stats.fixes.push_back("the global usage map was unreadable; it is rebuilt");
    }
    // Pages in use are never free, whatever a damaged map says: page 0, 1, the catalog.
    for (uint32_t p = 0; p <= kCatalogPage && p < page_free.size(); ++p) page_free[p] = false;
}

void SalvageSource::Impl::ReadCatalog() {
    std::string why;
    if (!ReadDefinition(*file, kCatalogPage, catalog_def, why)) {
        catalog_def = SystemTableDef(SystemTable::kObjects, file->version());
        catalog_def.tdef_page = kCatalogPage;
        catalog_stats.standard_definition = true;
        catalog_damaged = true;
        stats.fixes.push_back("MSysObjects: its definition was unreadable (" + why +
                              "); the standard one is used");
    }
    catalog_def.name = "MSysObjects";
    catalog_stats.name = "MSysObjects";
    catalog_stats.id = kCatalogPage;
    SalvageRows(catalog_def, catalog_stats,
                [&](Row& row) {
                    catalog_rows.push_back(row);
                    catalog_locations.push_back(visited_row);
                },
                {});
    if (catalog_stats.rows_dropped > 0 || catalog_stats.pages_lost > 0 ||
        catalog_stats.pages_by_owner)
        catalog_damaged = true;
    if (catalog_rows.empty()) {
        catalog_damaged = true;
        stats.fixes.push_back(
            "MSysObjects: no row could be read; the tables are found by their definitions");
    }
    catalog_keep.assign(catalog_rows.size(), true);
}

void SalvageSource::Impl::ReadTables() {
    const int id_col = ColumnIndex(catalog_def, "Id");
    const int name_col = ColumnIndex(catalog_def, "Name");
    const int type_col = ColumnIndex(catalog_def, "Type");
    const uint32_t n = page_count();

    SourceTable objects;
    objects.id = kCatalogPage;
    objects.name = "MSysObjects";
    objects.def = catalog_def;
    tables.push_back(std::move(objects));
    table_ids.insert(kCatalogPage);

    for (size_t r = 0; r < catalog_rows.size(); ++r) {
        Row& row = catalog_rows[r];
        const auto type = IdAt(row, type_col);
        const auto id = IdAt(row, id_col);
        const std::string name = TextAt(row, name_col);
        if (stats.header_rebuilt) RefuseAceCatalog(name, file->path());
        if (!type || static_cast<int16_t>(*type) != kObjectTable) {
            // Only tables have ids that are pages: a row of another type whose id is the page
            // of a sound definition is a table whose type field was damaged (put right only
            // where the catalog's definition has a Type column to hold it).
            if (type_col < 0 || !id || *id <= kCatalogPage || *id >= n || table_ids.count(*id) ||
                page_type[*id] != kPageTableDef || page_free[*id] || name.empty())
                continue;
            TableDef probe;
            std::string ignored;
            if (!ReadDefinition(*file, *id, probe, ignored)) continue;
            row[static_cast<size_t>(type_col)] = Value{int64_t{kObjectTable}};
            catalog_damaged = true;
            stats.fixes.push_back("catalog: the row of '" + name +
                                  "' had a damaged type; it names a table definition and is a "
                                  "table again");
        }
        if (!id || *id == kCatalogPage) continue;
        if (table_ids.count(*id)) {
            catalog_keep[r] = false;  // a second row for the same table
            continue;
        }
        std::string why;
        SourceTable t;
        t.id = *id;
        t.name = name;
        bool ok = false;
        if (name.empty()) {
            why = "its catalog row has no name";
        } else if (*id < kCatalogPage || *id >= n) {
            why = "its definition would be outside the file";
        } else {
            ok = ReadDefinition(*file, *id, t.def, why);
        }
        const JetSystemTable* system = FindJetSystemTable(name);
        bool standard = false;
        if (!ok && system != nullptr && *id < kFirstNonTableId && *id >= kCatalogPage) {
            t.def = SystemTableDef(system->which, file->version());
            t.def.tdef_page = *id;
            ok = standard = true;
            stats.fixes.push_back(name + ": its definition was unreadable (" + why +
                                  "); the standard one is used");
        }
        if (!ok && system == nullptr && *id > kCatalogPage && *id < n) {
            // One of Access's own tables: the layout Access writes for it that its rows fit.
            const std::vector<TableDef> layouts = AccessSystemTableDefs(name, file->version());
            if (!layouts.empty()) {
                t.def = layouts[BestLayout(*this, *id, layouts)];
                t.def.tdef_page = *id;
                ok = standard = true;
                stats.fixes.push_back(name + ": its definition was unreadable (" + why +
                                      "); the standard one is used");
            }
        }
        if (!ok) {
            // Its rows may still be found through a definition no catalog row names.
            catalog_damaged = true;
            catalog_keep[r] = false;
            lost_ids.insert(*id);
            stats.lost_tables.push_back((name.empty() ? std::string("?") : name) + " (page " +
                                        std::to_string(*id) + "): " + why);
            stats.lost_table_names.push_back(name);
            continue;
        }
        t.def.name = name;
        t.def.tdef_page = *id;
        table_ids.insert(*id);
        SalvagedTable s;
        s.name = name;
        s.id = *id;
        s.standard_definition = standard;
        tables.push_back(std::move(t));
        stats.tables.push_back(std::move(s));
    }
}

void SalvageSource::Impl::RecoverOrphans() {
    const uint32_t n = page_count();
    // Pages of definitions already known, and pages that continue some definition chain.
    std::set<uint32_t> known;
    for (const SourceTable& t : tables) {
        known.insert(t.id);
        for (uint32_t p : t.def.definition_pages) known.insert(p);
    }
    std::set<uint32_t> continuations;
    Bytes page;
    for (uint32_t p = 1; p < n; ++p) {
        if (page_type[p] != kPageTableDef || page_free[p]) continue;
        try {
            file->ReadPage(p, page);
            continuations.insert(U32(page, 4));
        } catch (const JetError&) {
        }
    }
    auto has_data_pages = [this](uint32_t owner) {
        auto it = data_pages_by_owner.find(owner);
        if (it == data_pages_by_owner.end()) return false;
        for (uint32_t p : it->second)
            if (!page_free[p]) return true;
        return false;
    };

    const int name_col = ColumnIndex(catalog_def, "Name");
    std::vector<std::string> names;
    for (const Row& row : catalog_rows) names.push_back(TextAt(row, name_col));
    auto taken = [&names](const std::string& name) {
        for (const std::string& other : names)
            if (NamesEqual(other, name)) return true;
        return false;
    };
    // With catalog rows lost with their pages, an empty table has nothing but its definition
    // to be found by.
    const bool catalog_lost = catalog_rows.empty() || catalog_stats.pages_lost > 0;
    for (uint32_t p = kCatalogPage + 1; p < n; ++p) {
        if (page_type[p] != kPageTableDef || page_free[p] || known.count(p) ||
            continuations.count(p) || (!catalog_lost && !has_data_pages(p)))
            continue;
        TableDef def;
        std::string why;
        if (!ReadDefinition(*file, p, def, why)) continue;
        // A Jet system table whose catalog row is gone keeps its name.
        std::string name;
        for (const JetSystemTable& sys : kJetSystemTables) {
            bool listed = false;
            for (const SourceTable& t : tables) listed |= NamesEqual(t.name, sys.name);
            if (!listed && SameColumns(def, SystemTableDef(sys.which, file->version())))
                name = sys.name;
        }
        if (name.empty()) {
            name = "RecoveredTable_" + std::to_string(p);
            for (int k = 2; taken(name); ++k)
                name = "RecoveredTable_" + std::to_string(p) + "_" + std::to_string(k);
        }
        names.push_back(name);
        def.name = name;
        def.tdef_page = p;
        SourceTable t;
        t.id = p;
        t.name = name;
        t.def = std::move(def);
        tables.push_back(std::move(t));
        table_ids.insert(p);
        recovered_ids.push_back(p);
        SalvagedTable s;
        s.name = name;
        s.id = p;
        s.recovered = true;
        stats.tables.push_back(std::move(s));
        stats.fixes.push_back("table '" + name + "' (page " + std::to_string(p) +
                              ") had no catalog row; one was made");
    }
}

// Jet cannot open a database without its four system tables: one that is still missing (its
// catalog row and its definition both lost) comes back with its standard definition at the
// first of pages 3..5 no table uses, with whatever rows carry that page as their owner.
void SalvageSource::Impl::EnsureJetSystemTables() {
    for (const JetSystemTable& sys : kJetSystemTables) {
        bool present = false;
        for (const SourceTable& t : tables) present |= NamesEqual(t.name, sys.name);
        if (present) continue;
        uint32_t page = 0;
        for (uint32_t p = kCatalogPage + 1; p <= kCatalogPage + 3 && page == 0; ++p)
            if (!table_ids.count(p)) page = p;
        if (page == 0) continue;
        SourceTable t;
        t.id = page;
        t.name = sys.name;
        t.def = SystemTableDef(sys.which, file->version());
        t.def.name = sys.name;
        t.def.tdef_page = page;
        tables.push_back(std::move(t));
        table_ids.insert(page);
        lost_ids.erase(page);
        recovered_ids.push_back(page);
        SalvagedTable s;
        s.name = sys.name;
        s.id = page;
        s.recovered = true;
        s.standard_definition = true;
        stats.tables.push_back(std::move(s));
        stats.fixes.push_back(std::string(sys.name) + " was missing; it is made anew at page " +
                              std::to_string(page));
    }
}

// After a lost catalog the relationships still name their tables by the names they had. A
// table found without its catalog row takes the name a relationship gives one of its sides
// when the columns the relationships give that side are all columns of this table and of no
// other table, found or kept; a name claimed by two tables, or a table claimed by two names, is
// left as it was, and so is a name some table or catalog row has already.
void SalvageSource::Impl::NameRecoveredTables() {
    if (recovered_ids.empty()) return;
    const SourceTable* relationships = nullptr;
    for (const SourceTable& t : tables)
        if (NamesEqual(t.name, "MSysRelationships")) relationships = &t;
    if (relationships == nullptr) return;
    struct Side {
        std::string name;
        std::set<std::string> columns;
        std::string relationship;
        bool complete = true;  // every row gave a column
    };
    std::vector<Side> sides;
    auto add = [&sides](const std::string& name, const std::string& column,
                        const std::string& relationship) {
        if (name.empty()) return;
        Side* side = nullptr;
        for (Side& s : sides)
            if (NamesEqual(s.name, name)) side = &s;
        if (side == nullptr) {
            sides.push_back({name, {}, relationship});
            side = &sides.back();
        }
        if (column.empty()) side->complete = false;
        side->columns.insert(column);
    };
    const TableDef& def = relationships->def;
    const int rel = ColumnIndex(def, "szRelationship"), object = ColumnIndex(def, "szObject"),
              column = ColumnIndex(def, "szColumn"),
              referenced = ColumnIndex(def, "szReferencedObject"),
              referenced_column = ColumnIndex(def, "szReferencedColumn");
    SalvagedTable scratch;
    scratch.name = relationships->name;
    for (const SalvagedTable& s : stats.tables)
        if (s.id == relationships->id) scratch.standard_definition = s.standard_definition;
    SalvageRows(def, scratch,
                [&](Row& row) {
                    add(TextAt(row, object), TextAt(row, column), TextAt(row, rel));
                    add(TextAt(row, referenced), TextAt(row, referenced_column), TextAt(row, rel));
                },
                {});

    auto generated = [this](const SourceTable& t) {
        return std::find(recovered_ids.begin(), recovered_ids.end(), t.id) != recovered_ids.end() &&
               t.name.rfind("RecoveredTable_", 0) == 0;
    };
    const int name_col = ColumnIndex(catalog_def, "Name");
    std::map<uint32_t, std::vector<const Side*>> claims;
    for (const Side& side : sides) {
        if (!side.complete || side.columns.empty()) continue;
        bool taken = false;
        for (const SourceTable& t : tables) taken |= NamesEqual(t.name, side.name);
        for (size_t r = 0; r < catalog_rows.size(); ++r)
            taken |= catalog_keep[r] && NamesEqual(TextAt(catalog_rows[r], name_col), side.name);
        if (taken) continue;
        std::vector<uint32_t> found;
        bool kept = false;
        for (const SourceTable& t : tables) {
            bool all = true;
            for (const std::string& c : side.columns) all &= ColumnIndex(t.def, c) >= 0;
            if (!all) continue;
            if (generated(t))
                found.push_back(t.id);
            else
                kept = true;
        }
        if (!kept && found.size() == 1) claims[found[0]].push_back(&side);
    }
    for (auto& [id, claimed] : claims) {
        if (claimed.size() != 1) continue;
        const std::string& name = claimed[0]->name;
        for (SourceTable& t : tables) {
            if (t.id != id) continue;
            stats.fixes.push_back("table '" + t.name + "' (page " + std::to_string(id) + ") is '" +
                                  name + "': relationship '" + claimed[0]->relationship +
                                  "' names a table of that name with its columns");
            t.name = name;
            t.def.name = name;
        }
        for (SalvagedTable& s : stats.tables)
            if (s.id == id) s.name = name;
    }
}

void SalvageSource::Impl::AddMissingSystemRows() {
    const int id_col = ColumnIndex(catalog_def, "Id");
    const int parent_col = ColumnIndex(catalog_def, "ParentId");
    const int name_col = ColumnIndex(catalog_def, "Name");
    const int owner_col = ColumnIndex(catalog_def, "Owner");
    const int date_col = ColumnIndex(catalog_def, "DateUpdate");
    std::set<uint32_t> ids;
    const Row* tables_container = nullptr;
    for (size_t r = 0; r < catalog_rows.size(); ++r) {
        if (!catalog_keep[r]) continue;
        if (auto id = IdAt(catalog_rows[r], id_col)) {
            ids.insert(*id);
            if (*id == kTablesContainerId) tables_container = &catalog_rows[r];
        }
    }
    double date = 0;
    Value owner;
    if (tables_container != nullptr) {
        if (date_col >= 0)
            if (auto* d = std::get_if<double>(&(*tables_container)[static_cast<size_t>(date_col)]))
                date = *d;
        if (owner_col >= 0) owner = (*tables_container)[static_cast<size_t>(owner_col)];
    }
    // The rows every database has (containers, MSysDb, MSysObjects itself), standard form, when
    // a damaged catalog lost them. The other Jet system tables are found as recovered tables.
    const TableDef std_def = SystemTableDef(SystemTable::kObjects, file->version());
    for (const Row& standard : InitialCatalogRows(file->version(), date)) {
        if (!catalog_damaged) break;
        const auto id = IdAt(standard, ColumnIndex(std_def, "Id"));
        if (!id || ids.count(*id)) continue;
        if (*id < kFirstNonTableId && *id != kCatalogPage) continue;
        // A row of that name in that container under another id would clash in ParentIdName.
        const std::string name = TextAt(standard, ColumnIndex(std_def, "Name"));
        const auto parent = IdAt(standard, ColumnIndex(std_def, "ParentId"));
        bool clash = false;
        for (size_t r = 0; r < catalog_rows.size(); ++r)
            clash |= catalog_keep[r] && IdAt(catalog_rows[r], parent_col) == parent &&
                     NamesEqual(TextAt(catalog_rows[r], name_col), name);
        if (clash) continue;
        Row row(catalog_def.columns.size());
        for (size_t c = 0; c < std_def.columns.size(); ++c)
            SetColumn(catalog_def, row, std_def.columns[c].name, standard[c]);
        catalog_added.push_back(std::move(row));
        ids.insert(*id);
        stats.fixes.push_back("catalog: the missing row of '" + name + "' was made");
    }
    for (uint32_t id : recovered_ids) {
        const SourceTable* t = nullptr;
        for (const SourceTable& s : tables)
            if (s.id == id) t = &s;
        if (t == nullptr || ids.count(id)) continue;
        Row row(catalog_def.columns.size());
        SetColumn(catalog_def, row, "Id", int64_t{static_cast<int32_t>(id)});
        SetColumn(catalog_def, row, "ParentId", int64_t{static_cast<int32_t>(kTablesContainerId)});
        SetColumn(catalog_def, row, "Name", Utf8ToUtf16(t->name));
        SetColumn(catalog_def, row, "Type", int64_t{kObjectTable});
        SetColumn(catalog_def, row, "DateCreate", date);
        SetColumn(catalog_def, row, "DateUpdate", date);
        SetColumn(catalog_def, row, "Owner", owner);
        const bool system = FindJetSystemTable(t->name) != nullptr;
        SetColumn(catalog_def, row, "Flags",
                  int64_t{static_cast<int32_t>(system ? kFlagJetSystem : 0u)});
        catalog_added.push_back(std::move(row));
    }
}

}  // namespace jet
