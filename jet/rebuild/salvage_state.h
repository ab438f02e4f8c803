// What the parts of the salvaging read (salvage_source.h) share: the survey of the pages, the
// catalog as it was read, and what became of each table. Read by salvage_source.cpp (the
// source), salvage_catalog.cpp (the catalog and definitions) and row_salvager.cpp (rows).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "jet/format/mdb_file.h"
#include "jet/format/schema.h"
#include "jet/rebuild/salvage_source.h"

namespace jet {

// Object ids below this are table ids (TDEF pages); containers and synthetic ids are above.
constexpr uint32_t kFirstNonTableId = 0x01000000u;

// A Long value of a row as an object id (ids are the bit patterns of signed 32-bit values).
std::optional<uint32_t> IdAt(const Row& row, int column);

struct SalvageSource::Impl {
    std::unique_ptr<MdbFile> file;
    DatabaseHeader header;
    std::vector<SourceTable> tables;
    SalvageStats stats;

    // Survey: per page, the type byte and the owner field (0xFF / 0 past a short read).
    std::vector<uint8_t> page_type;
    std::vector<uint32_t> page_owner;
    std::vector<bool> page_free;  // marked free in the global usage map
    std::map<uint32_t, std::vector<uint32_t>> data_pages_by_owner;  // ascending

    // The catalog, read once: its rows, and which of them go to the output.
    TableDef catalog_def;
    std::vector<Row> catalog_rows;
    std::vector<uint32_t> catalog_locations;  // where each was found (visited_row)
    std::vector<bool> catalog_keep;
    std::vector<Row> catalog_added;  // rows made for recovered tables and missing objects
    SalvagedTable catalog_stats;
    bool catalog_damaged = false;

    std::set<uint32_t> table_ids;         // ids of tables()
    std::set<uint32_t> lost_ids;          // tables the catalog names whose definition is lost
    std::vector<uint32_t> recovered_ids;  // tables found without a catalog row
    uint32_t visited_row = 0;             // DatabaseSource::visited_row

    uint32_t page_count() const { return file->page_count(); }
    bool is_data_page_of(uint32_t page, uint32_t owner) const {
        return page < page_type.size() && page_type[page] == kPageData && page_owner[page] == owner;
    }

    void Survey();
    void ReadGlobalMap();
    void ReadCatalog();
    void ReadTables();
    void RecoverOrphans();
    void EnsureJetSystemTables();
    void NameRecoveredTables();
    void AddMissingSystemRows();

    // Reads the live rows of a table, calling `visit` for each row that survives.
    void SalvageRows(const TableDef& def, SalvagedTable& stats,
                     const std::function<void(Row&)>& visit, const PagesDone& pages_done);
};

}  // namespace jet
