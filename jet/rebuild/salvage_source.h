// The salvaging read: a DatabaseSource (database_source.h) for repair that trusts nothing in the
// file and hands the rebuild whatever can still be read, counting what could not.
//
// Page 0 carries the version, code page, password and the key of the page encryption, which
// nothing else in the file repeats. A page 0 that is no header at all (zeroed, torn) is rebuilt
// from the evidence of the other pages (header_recovery.h); without that evidence, or when
// page 0 names another version, 3343. Its fields that hold no
// information are put back to the values every Jet file has (the constant block at 0x18, the
// reserved zeros, the Jet 4 block at 0x98), and every commit word is cleared, so the output is
// not marked as left open.
//
// Tables:
//   - the catalog (MSysObjects, page 2) is read with the salvaging row reader below; when its
//     definition no longer reads, the standard definition of MSysObjects is used instead (its
//     column layout is the same in every Jet file). With no catalog row at all, every table
//     is found by its definition (below), empty ones too; nothing found either: 3056.
//   - every local table the catalog names is read from its definition; a definition that does
//     not read or does not hold together (an index naming a missing column) loses the table,
//     except for the Jet system tables MSysACEs, MSysQueries and MSysRelationships, which get
//     their standard definitions (SystemTableDef, exactly as such a definition reads back, so
//     the rows are written under the definition stored).
//   - a catalog row of another type whose id is the page of a sound definition is a table
//     whose type was damaged: it is a table again;
//   - when the catalog shows damage (rows or pages of it could not be read, a table row whose
//     definition is lost, a type put right), definitions that no catalog row names are looked
//     for among the pages in use: a TDEF page that starts a chain, parses and owns data pages
//     with rows is recovered as "RecoveredTable_<page>", with a catalog row and the
//     permissions of the Tables container.
// Rows of one table:
//   - its data pages are those of its owned-pages map; when the map does not read, or lists a
//     page that is not one of the table's data pages (and is not free), or lists none while
//     the definition counts rows and pages in use say they are the table's, the map is
//     distrusted and the table's pages are found by the owner field of every page in use
//     instead. With the map trusted, the rows of pages it does not list (pages Access released
//     but left with their owner field) are not the table's: they are counted apart
//     (rows_unmapped), never read into it, and are no loss.
//     Access leaves stale copies of pages behind: a page found only that way of which at
//     least half the rows repeat rows already read is taken for one, and its repeated rows
//     are left out (elsewhere equal rows are kept: a table may hold them);
//   - each row is decoded defensively: a row that cannot be decoded (a bad offset table, a
//     column out of the row, an overflow pointer that leads nowhere, no columns at all) is
//     dropped; a long value whose chain is broken (outside the file, not an LVAL row, a loop,
//     too short) is cut: the row stays and the value becomes null, as does a value too long
//     for its column; a row the writer could not store at all (too large) is dropped;
//   - a row whose key repeats in a unique index is dropped (damage can make two rows equal);
//   - catalog rows of lost tables, and rows of MSysACEs and the Access navigation tables that
//     name a table that is gone, are dropped; foreign keys to a lost table are cleared.
// Every drop and cut is counted per table (SalvageStats).
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

// A row's values as exact bytes: for each value its form, then its bytes (strings and blobs
// with their lengths). Two rows are equal when their images are; the salvage recognises stale
// copies of rows by a digest of it.
std::string RowImage(const Row& row);

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
