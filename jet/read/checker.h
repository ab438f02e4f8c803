// The checker: a strict verifier of a whole database file, the oracle for everything the engine
// writes and the judge of what repair must salvage.
//
// What it verifies (docs/format.md 1-3 and 6-10, keys as docs/index-keys.md 9 says):
//   - the file: whole pages, a readable header, the catalog (MSysObjects at page 2);
//   - every page: exactly one use (header, global map, table definition, table data, long
//     values, index, usage-map rows, map bitmap) with the type and owner that use requires;
//     no page in use marked free in the global usage map; pages neither used nor free are
//     "leaked" (Access leaves some behind, so this is a notice);
//   - table definitions: the chain, the indexes naming real columns;
//   - usage maps: readable, the free-space map inside the owned map, index pages in their
//     index's map;
//   - data pages: row offset table inside the page and in order, the stored free space equal
//     to what the rows leave, overflow rows pointing at rows marked as their targets;
//   - rows: every live row decodes; long values follow their chains to LVAL rows no other value
//     uses; the stored row count (Access lets it go stale, so a notice);
//   - indexes: the tree (see index_reader.h), entries in order, every entry pointing to a live
//     row of the table, every live row with exactly one entry (ignore-nulls indexes leave out
//     all-null rows), no duplicate keys in unique indexes, and each stored key byte-identical
//     to the key our encoder computes from the row; where it cannot compute them (a text
//     column in a sort order it has no tables for), to the key the caller expects
//     (CheckOptions::expected_key) or, without one, equal keys for equal values.
// Findings are errors (damage Jet would stumble over or report) or notices (irregularities
// Access itself leaves in healthy files). With `strict`, notices count as errors: our own
// writer must leave none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/value.h"
#include "jet/format/row_codec.h"

namespace jet {

class MdbFile;
struct RealIndexDef;
struct TableDef;

enum class Severity : uint8_t { kNotice, kError };

enum class FindingKind : uint8_t {
    kFile,          // length, header, unreadable pages
    kCatalog,       // MSysObjects
    kTableDef,      // definition chain and contents
    kUsageMap,      // a map row, its bitmap pages, map consistency
    kPageUse,       // a page used twice, used but free, leaked
    kDataPage,      // header, row offset table, free space
    kRow,           // a live row that does not decode, overflow rows
    kRowCount,      // stored count against live rows
    kLongValue,     // memo/OLE chains
    kIndexTree,     // index pages and tree shape
    kIndexEntry,    // entries against rows: dangling, missing, duplicated
    kIndexKey,      // stored key differs from the computed one
    kDuplicateKey,  // two equal keys in a unique index
};

const char* FindingKindName(FindingKind kind);

struct Finding {
    Severity severity = Severity::kError;
    FindingKind kind = FindingKind::kFile;
    std::string table;  // the table concerned, "" for the database as a whole
    uint32_t page = 0;  // the page concerned, 0 when none in particular
    std::string what;
};

struct CheckStats {
    uint32_t pages = 0;
    uint32_t free_pages = 0;    // marked free in the global usage map
    uint32_t leaked_pages = 0;  // neither in use nor free
    uint32_t tables = 0;
    uint64_t rows = 0;  // live rows of all tables
    uint64_t long_values = 0;
    uint32_t indexes = 0;  // real indexes walked
    uint64_t index_entries = 0;
    uint64_t keys_compared = 0;  // stored keys compared with computed ones
    uint64_t key_mismatches = 0;
    // Keys that matched only with ligatures counted per letter, as some Jet 4 builds did
    // (index_key.h, LigatureRule).
    uint64_t keys_per_letter_ligatures = 0;
    // Indexes whose keys could not be computed (a text column in a sort order the engine has
    // no tables for) nor were given (CheckOptions::expected_key): their order, their entries
    // and that equal values carry equal keys were checked, not the keys themselves. The sort
    // orders, each once.
    uint32_t indexes_not_recomputed = 0;
    std::vector<uint16_t> sort_orders_not_recomputed;
};

struct CheckOptions {
    bool compare_keys = true;
    bool strict = false;         // notices count as errors
    size_t max_findings = 1000;  // findings past this are counted, not kept
    // For a caller that asks only whether the file is clean: CheckDatabase ends at the first
    // error (the report holds it; the statistics are those of the work done until then). A
    // clean file is checked whole either way.
    bool stop_at_first_error = false;
    // Called with every live row that decodes, and its table (tdef_page = the table's id), so
    // a caller can digest the content in the same pass over the file (compaction verifies its
    // output this way). `texts`: null, unless text_bytes_code_page is set.
    std::function<void(const TableDef& table, const Row& row,
                       const std::vector<StoredTexts::Text>* texts)>
        on_row;
    // For a caller that digests the rows (content_checksum.h) in a code page that maps every
    // byte back: in a Jet 3 file, the Text and Memo values of that code page go to on_row as
    // their stored bytes (`texts`), and are decoded (and not null in the row) only where an
    // index of the table uses them (DigestTextUses). 0: every value decoded.
    uint16_t text_bytes_code_page = 0;
    // For an index whose keys cannot be computed (a text column in a sort order the engine has
    // no tables for): puts in `key` the key the index must hold for the row at `location`
    // (page << 8 | row) of `table`, and returns true; false when no key is known for it, an
    // error for a row the index must hold. A rebuild checks the keys it carried this way.
    std::function<bool(const TableDef& table, size_t index, uint32_t location, Bytes& key)>
        expected_key;
};

struct CheckReport {
    std::vector<Finding> findings;
    size_t errors = 0;   // including dropped ones
    size_t notices = 0;  // including dropped ones
    size_t dropped = 0;  // findings counted but not kept
    CheckStats stats;

    bool clean() const { return errors == 0; }
};

// Checks an open database. Never throws for damage in the file: damage becomes findings.
CheckReport CheckDatabase(MdbFile& file, const CheckOptions& options = {});

// Opens `path` read-only and checks it. A file that is not a Jet database or whose header is
// damaged gives a report with that finding; errors of the file system (3024, 3044, 3051) and a
// missing password (3031) are thrown as JetError.
CheckReport CheckFile(Env* env, const std::string& path, const CheckOptions& options = {},
                      const std::string& password = {});

class Checker;

// The same check, made while the file is written, in the order the writer writes it
// (WriteObserver, writer.h): each table's rows, long values and indexes are checked from their
// pages as soon as those are in the file, through `being_written` (a reader of the file that
// reads only what is in it: MdbFile::OpenBeingWritten). Finish then checks what is written
// last, from the complete file: page 0, the global usage map, the catalog, every table's
// definition and usage maps, that each stored definition is the one the rows were checked by
// and that the maps list the pages checked; and every page's use, as CheckDatabase does. A file
// with tables that were not followed has those checked whole by Finish. `on_row` is called as
// the rows are checked. One thread at a time; the Table* calls in the writer's order.
class FollowingCheck {
  public:
    FollowingCheck(MdbFile& being_written, CheckOptions options);
    ~FollowingCheck();
    FollowingCheck(const FollowingCheck&) = delete;
    FollowingCheck& operator=(const FollowingCheck&) = delete;

    void TableBegun(const TableDef& def);
    void DataPagesWritten(const std::vector<uint32_t>& pages);
    void RowsWritten(const TableDef& def,
                     const std::vector<std::vector<uint32_t>>& long_value_pages);
    void IndexWritten(size_t number, const RealIndexDef& index);
    void TableWritten(const TableDef& def);
    // REQUIRES: every table begun was written. Afterwards the check is spent.
    CheckReport Finish(MdbFile& complete);

  private:
    CheckOptions options_;
    std::unique_ptr<Checker> checker_;
};

// A readable report: a summary line, then one line per finding.
std::string FormatReport(const CheckReport& report);

}  // namespace jet
