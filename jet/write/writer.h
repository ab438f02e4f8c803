// The database writer: builds a complete Jet 3 or Jet 4 file from table definitions and rows.
// Compaction (strict read -> writer) and repair (salvaging read -> writer) both end here, and
// new databases are made with it.
//
// File layout it produces:
//   page 0      database header: carried over from a source (decoded) or a new one; only its
//               masked region is scrambled (header.h), while every later page is encoded
//               when the header holds a page key (rc4.h)
//   page 1      global usage map (row 0: bit set = page free) and its all-zero companion row
//   pages 2..   TDEF pages, in the order tables are added (the first four tables added are the
//               Jet system tables, so MSysObjects is at page 2 and MSysACEs, MSysQueries,
//               MSysRelationships at 3..5); a table's id is its first TDEF page
//   then        per table, in the order its rows are written: data pages and LVAL pages as they
//               fill, then the pages of each index (leaves, then intermediate levels)
//   last        usage-map pages (owner 0) and bitmap pages of reference maps
// Pointers that are only known at the end (row counts, index roots, usage maps) live in the
// TDEFs, which are written last into the pages planned for them; every other page is written
// once, in nearly ascending order.
//
// Streaming: tables are written one after another and rows are fed one at a time. Memory holds
// one data page, one LVAL page per long-value column and the index entries of the current
// table, which spill to sorted run files past a budget. Table ids are known as soon as a table
// is added, before any row is written, so catalog rows can carry them.
//
// Output goes to a temporary file in the destination's folder (through jet::Env), is synced,
// then renamed onto the destination and the folder synced (unless the caller takes the syncs:
// defer_sync): the destination exists only when complete. On any failure, or when the writer is
// destroyed before Finish, the temporary file is removed. Output is a pure function of the input:
// no clock, no randomness.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/value.h"
#include "jet/format/header.h"
#include "jet/format/schema.h"
#include "jet/write/row_copy.h"

namespace jet {

// Follows the writing table by table, so that the output can be read back while the rest is
// still being written (a rebuild checks its output this way). Called on the writer's thread.
// `readable_pages`: every page below it that a table's rows or indexes point to is in the file
// (pages 0 and 1 and the table definitions, written last, are not).
class WriteObserver {
  public:
    virtual ~WriteObserver() = default;
    // The rows of a table begin: its definition as planned (ids and layout final; the row
    // count, index roots and usage maps come later).
    virtual void TableBegun(const TableDef& def) = 0;
    // Data pages of that table, in the order they were filled, now whole in the file together
    // with every long-value page their rows point to.
    virtual void DataPagesWritten(const std::vector<uint32_t>& pages, uint32_t readable_pages) = 0;
    // Every data page and long-value page of the table is in the file: its definition with
    // its row count, and the long-value pages of each long-value column, in the order of
    // def.long_value_maps. Its indexes follow, one by one.
    virtual void RowsWritten(const TableDef& def,
                             const std::vector<std::vector<uint32_t>>& long_value_pages,
                             uint32_t readable_pages) = 0;
    // Every page of the table's real index `number` is in the file.
    virtual void IndexWritten(size_t number, const RealIndexDef& index,
                              uint32_t readable_pages) = 0;
    // The table is written: its definition as it will be stored, but for the usage-map
    // pointers, placed last.
    virtual void TableWritten(const TableDef& def) = 0;
};

struct WriterOptions {
    Version version = Version::kJet4;
    // Page 0 to write (decoded; `raw` carried over when present, NewDatabaseHeader() when
    // empty). The writer forces the version and writes the commit words of a cleanly closed
    // file (entries 2..255 = 00 01). Its encryption key is the file's page key: 0 writes every
    // page in clear, any other value encodes every page after page 0 with it, as Jet does.
    DatabaseHeader header;
    // Bytes of index entries kept in memory per table before spilling sorted runs to disk.
    size_t sort_memory = 32u << 20;
    // Replace an existing destination (repair); when false an existing destination raises
    // 3204 and is never overwritten (compaction).
    bool replace_existing = false;
    // Leave the syncs to the caller: Finish writes every page and renames the file into place
    // but syncs neither the file nor its folder (a rebuild syncs the file while it verifies it,
    // and the folder once the file has its final name).
    bool defer_sync = false;
    // Sort a table's index entries on a second thread while the first writes the pages of the
    // ones sorted before, and make the file's writes on a thread of their own while the pages
    // that follow are built (only where the Env allows threads). The bytes written are the
    // same.
    bool threads = false;
    // Told what is in the file while it is written (null: no one follows).
    WriteObserver* observer = nullptr;
};

// What was written for one table.
struct WrittenTable {
    uint32_t id = 0;  // TDEF page
    std::string name;
    uint32_t rows = 0;
    uint32_t deleted_rows = 0;
    uint32_t data_pages = 0;
    uint32_t long_value_pages = 0;
    uint32_t index_pages = 0;
    // Per real index: keys that repeat in an index flagged unique (entries whose key columns
    // are all null are allowed to repeat). Non-zero means the source broke its own index.
    std::vector<uint32_t> duplicate_keys;
};

class DatabaseWriter {
  public:
    // Creates the temporary file beside `destination`. Errors: 3204 destination exists (unless
    // replace_existing), 3044 missing folder, 3051 no permission, 61 disk full.
    DatabaseWriter(Env* env, std::string destination, WriterOptions options);
    // Removes the temporary file unless Finish succeeded.
    ~DatabaseWriter();
    DatabaseWriter(const DatabaseWriter&) = delete;
    DatabaseWriter& operator=(const DatabaseWriter&) = delete;

    // Adds a table and returns its id (its TDEF page). Page pointers, counts and usage maps of
    // `def` are recomputed; everything else is written as given (unknown bytes carried over
    // from the *_raw members). REQUIRES: the layout (col_num, var_index, fixed_offset,
    // max_cols) is set: AssignNewColumnLayout() does it for a new table.
    uint32_t AddTable(TableDef def);

    // The definition of a table added earlier, to adjust fields that refer to other tables
    // (e.g. a foreign key's rel_table_page) once their ids are known. REQUIRES: changes keep
    // the definition's size (names, column and index counts unchanged).
    TableDef& table(uint32_t id);

    // Rows of one table. REQUIRES: BeginRows(id) .. EndRows() for one table at a time, each
    // table at most once. A table whose rows are never written is empty. `given_keys[i]`:
    // the keys of real index i come with each row instead of being computed (a key carried
    // from a source, carried_keys.h).
    void BeginRows(uint32_t id, std::vector<bool> given_keys = {});
    // One value per column of the table, in TableDef::columns order, and for each real index
    // whose keys are given, `keys[i]`: the row's key, or nullopt when the row has no entry
    // (REQUIRES: a key fits an index page). Returns the row's pointer (page << 8 | row).
    // Errors: 3163 value too long for its column, 3047 row too large, 3036 file at its maximum
    // size, 61 disk full.
    // `stored`, when given and its `copy` is set: the row as stored in the source, laid out as
    // the values would be encoded (RowCopyRule, row_copy.h), written as it is (its out-of-line
    // long values stored anew) instead of encoding `row`, which still gives the index keys.
    uint32_t AddRow(const Row& row, const std::vector<std::optional<ByteSpan>>& keys = {},
                    const StoredRow* stored = nullptr);
    // A row that is written already deleted (0xC000), as Jet leaves deleted rows behind: it
    // takes space but is not counted or indexed, and its long values are left out. For
    // building bloated test databases.
    void AddDeletedRow(const Row& row);
    void EndRows();

    // Adds `count` pages that are free in the global usage map and belong to no table, holding
    // `stale` bytes (REQUIRES: page-sized or empty = zeros), as a long-used file has. For
    // building bloated test databases.
    void AddFreePages(uint32_t count, const Bytes& stale = {});

    // Writes the remaining pages, syncs, and renames the file into place.
    void Finish();

    const std::string& temporary_path() const { return temporary_; }
    const std::vector<WrittenTable>& written() const { return written_; }
    uint32_t page_count() const;

  private:
    struct TableState;
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string temporary_;
    std::vector<WrittenTable> written_;
};

}  // namespace jet
