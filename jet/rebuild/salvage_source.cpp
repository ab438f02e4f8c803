// The salvaging read (salvage_source.h).
//
// Opening surveys every page once (type byte and owner field, 5 bytes a page kept), reads the
// global usage map when it still reads (its free pages are never taken for live ones), then
// the catalog, the table definitions and, when the catalog is damaged, the definitions no
// catalog row names (salvage_catalog.cpp). Rows are read table by table when the rebuild asks
// for them (row_salvager.cpp).
#include "jet/rebuild/salvage_source.h"

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>

#include "jet/base/error.h"
#include "jet/database/database.h"
#include "jet/read/catalog.h"
#include "jet/rebuild/header_recovery.h"
#include "jet/rebuild/salvage_state.h"
#include "jet/write/system_tables.h"

namespace jet {
namespace {

// Which of a table's columns hold object ids whose table must still exist.
struct IdColumns {
    std::vector<int> columns;
};

IdColumns IdColumnsOf(const TableDef& def) {
    static const std::pair<const char*, const char*> kColumns[] = {
        {"MSysACEs", "ObjectId"},
        {"MSysNavPaneObjectIDs", "Id"},
        {"MSysNavPaneGroupToObjects", "ObjectID"},
    };
    IdColumns out;
    for (const auto& [table, column] : kColumns) {
        if (!NamesEqual(def.name, table)) continue;
        const int c = ColumnIndex(def, column);
        if (c >= 0 && def.columns[static_cast<size_t>(c)].type == ColumnType::kLong)
            out.columns.push_back(c);
    }
    return out;
}

// Opens the file for writing (a repair replaces it, so a file we may not write is refused with
// 3051, as it would be by the rename on Windows) and takes the open gate exclusively so that
// no one opens the database while it is read; it is never written through this handle.
// With `rebuilt`, page 0 is lost and that header stands in for it (header_recovery.h).
std::unique_ptr<MdbFile> OpenHeld(Env* env, const std::string& path, OpenOptions options,
                                  const DatabaseHeader* rebuilt = nullptr) {
    options.writable = true;
    std::unique_ptr<MdbFile> file = rebuilt != nullptr
                                        ? MdbFile::OpenWithHeader(env, path, options, *rebuilt)
                                        : MdbFile::Open(env, path, options);
    try {
        if (!file->file().TryLock(kOpenGateOffset, 1, true)) Raise(kFileInUse, path);
    } catch (const OsError& e) {
        RaiseOsError(e, path);
    }
    return file;
}

}  // namespace

SalvageSource::SalvageSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SalvageSource::~SalvageSource() = default;

const std::string& SalvageSource::path() const {
    return impl_->file->path();
}
const DatabaseHeader& SalvageSource::header() const {
    return impl_->header;
}
void SalvageSource::Release() {
    impl_->file->Close();
}
uint32_t SalvageSource::page_count() const {
    return impl_->page_count();
}
const std::vector<SourceTable>& SalvageSource::tables() const {
    return impl_->tables;
}
const SalvageStats& SalvageSource::stats() const {
    return impl_->stats;
}
MdbFile& SalvageSource::file() {
    return *impl_->file;
}
uint32_t SalvageSource::visited_row() const {
    return impl_->visited_row;
}
MdbFile* SalvageSource::index_file() {
    return impl_->file.get();
}

void SalvageSource::ReadRows(size_t index, const RowVisitor& visit, const PagesDone& pages_done) {
    Impl& m = *impl_;
    const SourceTable& t = m.tables.at(index);
    SalvagedTable* s = nullptr;
    for (SalvagedTable& x : m.stats.tables)
        if (x.id == t.id) s = &x;
    if (t.id == kCatalogPage) {
        // Read at opening: hand over the rows kept, then those made.
        for (size_t r = 0; r < m.catalog_rows.size(); ++r) {
            if (!m.catalog_keep[r]) continue;
            Row row = m.catalog_rows[r];
            m.visited_row = m.catalog_locations[r];
            visit(row);
            m.visited_row = 0;
        }
        for (const Row& added : m.catalog_added) {
            Row row = added;
            visit(row);
        }
        if (pages_done && t.pages > 0) pages_done(t.pages);
        return;
    }
    if (s == nullptr) throw std::logic_error("salvage: a table without its statistics");
    s->rows = s->rows_dropped = s->duplicates_dropped = s->values_cut = 0;
    s->pages_lost = 0;
    s->stale_copies_skipped = 0;
    s->rows_unmapped = 0;

    const IdColumns ids = IdColumnsOf(t.def);
    const bool aces = NamesEqual(t.def.name, "MSysACEs");
    const int ace_object = ColumnIndex(t.def, "ObjectId");
    std::vector<Row> container_aces;
    uint32_t done = 0;
    m.SalvageRows(
        t.def, *s,
        [&](Row& row) {
            for (int c : ids.columns) {
                const auto id = IdAt(row, c);
                // The id of a table lost here would name whatever table gets that id. (Ids
                // that dangled already in the source are left as compaction leaves them.)
                if (id && m.lost_ids.count(*id)) {
                    --s->rows;
                    ++s->rows_dropped;
                    return;
                }
            }
            if (aces && !m.recovered_ids.empty() && IdAt(row, ace_object) == kTablesContainerId)
                container_aces.push_back(row);
            visit(row);
        },
        [&](uint32_t pages) {
            done += pages;
            if (pages_done && done <= t.pages) pages_done(pages);
        });
    // Recovered tables get the permissions a new table inherits from the Tables container.
    for (uint32_t id : m.recovered_ids) {
        for (const Row& ace : container_aces) {
            Row row = ace;
            row[static_cast<size_t>(ace_object)] = int64_t{static_cast<int32_t>(id)};
            visit(row);
            ++s->rows;
        }
    }
    if (pages_done && done < t.pages) pages_done(t.pages - done);
}

std::unique_ptr<SalvageSource> OpenSalvageSource(Env* env, const std::string& path,
                                                 const OpenOptions& options) {
    auto m = std::make_unique<SalvageSource::Impl>();
    std::optional<RecoveredHeader> rebuilt;
    try {
        m->file = OpenHeld(env, path, options);
    } catch (const JetError& e) {
        if (e.number() != kUnrecognizedFormat || !PageZeroLost(env, path)) throw;
        rebuilt = RecoverHeader(env, path, options.password);
        m->file = OpenHeld(env, path, options, &rebuilt->header);
        m->stats.header_rebuilt = true;
        m->stats.header_password_given = !options.password.empty();
        m->stats.fixes = rebuilt->fixes;
    }
    m->header = RestoredHeader(m->file->header(), m->stats.fixes);
    m->Survey();
    m->ReadGlobalMap();
    m->ReadCatalog();
    m->ReadTables();
    if (m->catalog_damaged) m->RecoverOrphans();
    if (m->catalog_rows.empty() && m->recovered_ids.empty())
        RaiseWithDetail(kCouldNotRepair, {},
                        "No row of the catalog (MSysObjects) could be read in '" + path + "'.");
    m->EnsureJetSystemTables();
    m->NameRecoveredTables();

    // Definitions must not point at tables that are gone: foreign keys to them are cleared.
    for (SourceTable& t : m->tables) {
        for (LogicalIndexDef& l : t.def.indexes) {
            if (l.rel_table_page == 0 || m->table_ids.count(l.rel_table_page)) continue;
            m->stats.fixes.push_back("table '" + t.name + "': index '" + l.name +
                                     "' related it to a table that is gone; the relation is "
                                     "cleared");
            l.rel_table_page = 0;
            l.rel_table_type = 0;
            l.rel_index = -1;
            if (l.kind == IndexKind::kForeignKey) l.kind = IndexKind::kNormal;
        }
        // A progress weight: the data pages the table owns.
        if (auto it = m->data_pages_by_owner.find(t.id); it != m->data_pages_by_owner.end())
            t.pages = static_cast<uint32_t>(it->second.size());
    }
    std::sort(m->tables.begin(), m->tables.end(),
              [](const SourceTable& a, const SourceTable& b) { return a.id < b.id; });
    m->AddMissingSystemRows();

    // The catalog's own statistics, complete now.
    SalvagedTable catalog = m->catalog_stats;
    catalog.rows = 0;
    for (size_t r = 0; r < m->catalog_rows.size(); ++r)
        if (m->catalog_keep[r]) ++catalog.rows;
    catalog.rows += m->catalog_added.size();
    for (size_t r = 0; r < m->catalog_rows.size(); ++r)
        if (!m->catalog_keep[r]) ++catalog.rows_dropped;
    m->stats.tables.insert(m->stats.tables.begin(), catalog);
    std::sort(m->stats.tables.begin(), m->stats.tables.end(),
              [](const SalvagedTable& a, const SalvagedTable& b) { return a.id < b.id; });
    return std::unique_ptr<SalvageSource>(new SalvageSource(std::move(m)));
}

}  // namespace jet
