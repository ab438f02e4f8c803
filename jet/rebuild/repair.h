// RepairDatabase: DAO's repair, as a rebuild (rebuild.h) of a salvaging read (salvage_source.h)
// of the file, written back in its place; the page encoding is kept (PageEncoding, header.h).
//
// A file in which there is nothing to mend is left as it is, byte for byte: the strict checker
// finds nothing in it, not even a notice, and the salvaging read of every table hands over every
// row as it stands, drops, cuts and puts right nothing (the report then gives every table with
// its rows, the ids unchanged; where the file system allows threads, the check and the
// salvaging read run side by side). Anything else is rebuilt, verified like a compaction and
// renamed over the original; on any failure the original is untouched, byte for byte.
//
// What was lost is counted per table (rows dropped, values cut, pages that could not be read)
// in the report; when the repair cannot complete, the counts so far are in the error's text.
// Rows left on pages outside their table's page map (Jet no longer sees them) are counted
// apart: they were not the table's, and are no loss.
//
// Errors (JetError):
//   3343  page 0 is not the header of a Jet 3 / Jet 4 database and the other pages do not
//         show one either (header_recovery.h), or show one whose pages are encoded under the
//         key page 0 kept: the format is not recognised;
//   3056  "Couldn't repair this database.": the catalog is beyond recovery (no row of
//         MSysObjects reads and no table definition is found), or the salvaged content did
//         not verify once written;
//   3024 / 3044 / 3051 / 3031 / 3045  missing file, bad path, no permission, password, in use;
//   61    disk full; 3036 the output would pass Jet's maximum size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/format/mdb_file.h"
#include "jet/rebuild/rewrite_options.h"

namespace jet {

struct RepairOptions : RewriteOptions {};

struct RepairedTable {
    std::string name;
    uint32_t old_id = 0;        // object id (definition page) before the repair
    uint32_t new_id = 0;        // and after
    uint64_t rows = 0;          // rows in the repaired table
    uint64_t rows_dropped = 0;  // rows that could not be decoded (or had to go)
    uint64_t values_cut = 0;    // values set to null: broken long values, values too long
    uint32_t pages_lost = 0;    // data pages that could not be read
    bool recovered = false;     // found without its catalog row (named RecoveredTable_<page>)
    bool standard_definition = false;  // its definition was lost; the standard one stands in
    // Rows on pages that say they are the table's but that its page map leaves out: left
    // out, since Jet no longer sees them, and no loss.
    uint64_t rows_unmapped = 0;
};

struct RepairReport {
    uint32_t pages_before = 0;
    uint32_t pages_after = 0;
    uint64_t rows = 0;  // all tables, system tables included
    uint64_t rows_dropped = 0;
    uint64_t values_cut = 0;
    std::vector<RepairedTable> tables;     // every table of the repaired file
    std::vector<std::string> lost_tables;  // tables whose definition could not be read
    std::vector<std::string> fixes;        // other things put right
    double seconds = 0;
    // All tables: rows on pages outside their page map, left out (no loss).
    uint64_t rows_unmapped = 0;
    // The names of lost_tables, in the same order ("" for a catalog row without a name).
    std::vector<std::string> lost_table_names;
    // False when there was nothing to mend and the file was left as it was.
    bool rebuilt = true;
    // The sort order (LCID) the database had when the keys of its text indexes, in an order
    // the engine has no tables for, could not be carried over from the damaged file: the
    // repaired file is in General order, every text index computed anew. 0: kept.
    uint16_t sort_order_replaced = 0;
    // Page 0 was lost and rebuilt from the other pages: the original creation date went with
    // it, and the password too unless one was given to the repair (then the file has that).
    bool header_rebuilt = false;
    bool header_password_given = false;

    // True when nothing was dropped, cut or lost.
    bool lossless() const;
    // A readable summary: one line of totals, then a line per table with losses, per table
    // with rows left on pages outside its map, and per fix; or that nothing needed mending.
    std::string Summary() const;
};

// Repairs the database at `path` in place, or leaves it as it is when there is nothing to mend
// (see above).
RepairReport RepairDatabase(Env* env, const std::string& path, const RepairOptions& options = {});

}  // namespace jet
