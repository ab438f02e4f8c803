// Where a rebuild (compaction, repair) takes a database's logical content from.
//
// A rebuild never copies pages: it reads the source as objects (page 0, the table definitions,
// the live rows with their long values) and hands them to the database writer (rebuild.h). The
// source decides how much it trusts the file:
//   - the strict source (OpenStrictSource) reads through the catalog and the tables' usage maps
//     and fails with 3343 at the first structure that does not parse: the row that does not
//     decode, the long-value chain that breaks, the definition that is cut short;
//   - a salvaging source (repair) finds what it can and drops what it cannot decode, counting
//     the losses; it hands over definitions that are consistent (a foreign key to a table that
//     is gone cleared) and rows that decode.
// Either way the rows a source yields are what the rebuild writes and then verifies in the
// output, so the rebuild itself does not depend on how they were found.
//
// Ids: a table's object id is its TDEF page in the source. tables() lists every local table
// (Jet's, Access's and the user's) ordered by that id, so MSysObjects (page 2) and the Jet
// system tables at pages 3..5 come first and keep their places in the output, and compacting
// an output again lays it out the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/value.h"
#include "jet/format/header.h"
#include "jet/format/mdb_file.h"
#include "jet/format/schema.h"
#include "jet/write/row_copy.h"

namespace jet {

struct SourceTable {
    uint32_t id = 0;     // object id in the source (its TDEF page there)
    std::string name;    // as the catalog spells it
    TableDef def;        // as read: page pointers and counts are the source's
    uint32_t pages = 0;  // data pages it occupies in the source (a progress weight)
};

// Receives one row at a time; it may change the row (the rebuild rewrites object ids in place).
using RowVisitor = std::function<void(Row& row)>;
// Told how many more source pages are done.
using PagesDone = std::function<void(uint32_t pages)>;

class DatabaseSource {
  public:
    DatabaseSource() = default;
    DatabaseSource(const DatabaseSource&) = delete;
    DatabaseSource& operator=(const DatabaseSource&) = delete;
    virtual ~DatabaseSource() = default;

    virtual const std::string& path() const = 0;
    // Page 0, decoded (header.h); its raw bytes are carried into the output.
    virtual const DatabaseHeader& header() const = 0;
    Version version() const { return header().version; }
    // Whole pages in the source file.
    virtual uint32_t page_count() const = 0;
    // Every local table, ordered by source id.
    virtual const std::vector<SourceTable>& tables() const = 0;
    // Calls `visit` for every live row of tables()[index], in storage order, and `pages_done`
    // as its data pages are finished (the counts add up to tables()[index].pages). Throws
    // JetError (3343 for damage the source does not tolerate).
    virtual void ReadRows(size_t index, const RowVisitor& visit, const PagesDone& pages_done) = 0;
    // Closes the source file and gives up its locks, once every row has been read; path(),
    // header(), page_count() and tables() stay. A rebuild does so before putting its copy in
    // the place of an open file where the platform refuses that (Windows).
    virtual void Release() {}

    // While ReadRows calls its visitor: where the visited row was found in the source (its
    // header location, page << 8 | row, where index entries point), or 0 for a row the
    // source made rather than found.
    virtual uint32_t visited_row() const { return 0; }
    // The source's file, for reading the entries of its indexes (carried_keys.h); null when
    // the source has none to offer. REQUIRES: used on the thread that reads the rows.
    virtual MdbFile* index_file() { return nullptr; }

    // Rows the writer may copy as stored (row_copy.h): given a rule per table (null: none), the
    // source applies it to the bytes of each row it reads, and while ReadRows calls its visitor
    // stored_row() is the visited row as stored, its `copy` set when the rule took it. A source
    // that offers none ignores the rules and gives null.
    virtual void CopyRowsWhere(std::vector<std::shared_ptr<const RowCopyRule>> rules) {
        (void)rules;
    }
    virtual StoredRow* stored_row() { return nullptr; }

    // Jet 3 texts the source may give as their stored bytes (StoredTexts), per table (an empty
    // list: none): while ReadRows calls its visitor, stored_texts() is the visited row's texts
    // as bytes, or null. A text it gives as bytes alone (kBytes) is null in the row visited only
    // when stored_row() copies the row; any other row has every value decoded. A source that
    // offers none ignores the uses and gives null.
    virtual void TakeTextsAs(std::vector<std::vector<StoredTexts::Use>> uses) { (void)uses; }
    virtual const std::vector<StoredTexts::Text>* stored_texts() { return nullptr; }
};

// Opens `path` for a strict read. The source is held against writers for as long as it is
// open: an exclusive lock on the open gate (database.h) where the file can be opened for
// writing (the file itself is never written), else a shared lock, and in both cases other
// openers make it fail with 3045. Errors: those of MdbFile::Open (3024 missing, 3044 bad path,
// 3051 no permission, 3343 not a Jet 3 / Jet 4 file, 3031 password); 3045 in use; 3343 when
// the catalog or a table definition is damaged (two tables on one page, a definition outside
// the file or not parsing).
std::unique_ptr<DatabaseSource> OpenStrictSource(Env* env, const std::string& path,
                                                 const OpenOptions& options = {});

}  // namespace jet
