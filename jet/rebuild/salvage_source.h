// The salvaging read: a DatabaseSource (database_source.h) for repair that trusts nothing in the
// file and hands the rebuild whatever can still be read, counting in SalvageStats what could
// not be (every row dropped, value cut, page and table lost, and what was put right).
//
// Page 0 is put right or, when lost, rebuilt (header_recovery.h). Tables are found through the
// catalog or, where it is damaged, by their definitions (salvage_catalog.cpp); their rows
// through their page maps or the owner field of every page (row_salvager.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/value.h"
#include "jet/format/mdb_file.h"
#include "jet/rebuild/database_source.h"

namespace jet {

// What the salvaging read found and lost in one table.
struct SalvagedTable {
    std::string name;
    uint32_t id = 0;                  // object id in the source
    uint64_t rows = 0;                // rows handed to the rebuild
    uint64_t rows_dropped = 0;        // rows that could not be decoded or had to go (all reasons)
    uint64_t duplicates_dropped = 0;  // of which: a key repeated in a unique index
    uint64_t values_cut = 0;          // values set to null (broken long value, too long)
    uint32_t pages_lost = 0;  // data pages of the table that could not be read or are cut off
    uint64_t stale_copies_skipped = 0;  // repeated rows on stale copies of pages
    bool pages_by_owner = false;        // its usage map was distrusted
    bool recovered = false;             // found without a catalog row
    bool standard_definition = false;   // its definition was replaced by the standard one
    // Live rows on pages that say they are the table's but that its (sound) page map does not
    // list: Jet no longer sees them, so they are left out and are not a loss.
    uint64_t rows_unmapped = 0;
};

struct SalvageStats {
    std::vector<SalvagedTable> tables;     // in the order of tables(), filled as rows are read
    std::vector<std::string> lost_tables;  // "name (page N): why"
    std::vector<std::string> fixes;        // other things put right, for the report
    // The names of lost_tables, in the same order ("" for a catalog row without a name).
    std::vector<std::string> lost_table_names;
    // Page 0 was lost and rebuilt from the other pages (header_recovery.h); the password
    // given to the repair, if any, is the rebuilt header's.
    bool header_rebuilt = false;
    bool header_password_given = false;
};

class SalvageSource : public DatabaseSource {
  public:
    ~SalvageSource() override;
    const std::string& path() const override;
    const DatabaseHeader& header() const override;
    uint32_t page_count() const override;
    const std::vector<SourceTable>& tables() const override;
    void ReadRows(size_t index, const RowVisitor& visit, const PagesDone& pages_done) override;
    void Release() override;
    uint32_t visited_row() const override;
    MdbFile* index_file() override;

    // What was found and lost so far (complete once every table's rows were read).
    const SalvageStats& stats() const;
    // The file as it is read (held against other openers for as long as the source lives).
    MdbFile& file();

    struct Impl;

  private:
    friend std::unique_ptr<SalvageSource> OpenSalvageSource(Env*, const std::string&,
                                                            const OpenOptions&);
    explicit SalvageSource(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Opens `path` for a salvaging read, held against other openers (the open gate, database.h).
// The file must be writable, since a repair replaces it. Errors: 3024 missing, 3044 bad path,
// 3051 no permission (also a read-only file), 3031 password, 3045 in use, 3343 page 0 is not
// a Jet 3 / Jet 4 header, 3056 nothing of the catalog can be read.
std::unique_ptr<SalvageSource> OpenSalvageSource(Env* env, const std::string& path,
                                                 const OpenOptions& options = {});

}  // namespace jet
