// CompactDatabase: DAO's compaction, as a rebuild (rebuild.h) of a strict read of the source.
//
// The output keeps the source's version (Jet 3 stays Jet 3 with 2 KB pages, Jet 4 stays Jet 4)
// and everything the source holds: every table (Jet's, Access's and the user's) with every live
// row and long value, page 0 and the table definitions with their unknown bytes. It drops
// deleted rows, free and leaked pages and stale index pages: rows are packed anew (overflow rows
// resolved), every index is rebuilt from the rows, row counts are recounted, AutoNumber seeds
// are kept or raised to the largest value present, never lowered, and table ids (definition
// pages) are renumbered with every reference to them (id_remap.h). The page encoding is the
// source's unless CompactOptions::encoding asks otherwise (PageEncoding, header.h).
//
// The destination appears only once the output has been verified (checker clean, every table's
// rows and digest equal to the source's); on any failure it does not exist, and the source is
// never written (it is held against other openers while it is read).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/format/header.h"
#include "jet/format/mdb_file.h"
#include "jet/rebuild/rewrite_options.h"

namespace jet {

struct CompactOptions : RewriteOptions {
    // The output's page encoding (header.h): kKeep the source's, kDecrypt every page in clear,
    // kEncrypt every page after page 0 encoded (under the source's key when it has one).
    PageEncoding encoding = PageEncoding::kKeep;
};

struct CompactedTable {
    std::string name;
    uint32_t old_id = 0;  // object id (definition page) in the source
    uint32_t new_id = 0;  // and in the output
    uint64_t rows = 0;
};

struct CompactReport {
    uint32_t page_size = 0;
    uint32_t pages_before = 0;
    uint32_t pages_after = 0;
    uint64_t rows = 0;       // all tables, system tables included
    bool encrypted = false;  // the output's pages are encoded
    std::vector<CompactedTable> tables;
    double seconds = 0;
};

// Compacts `source` into `destination`. Errors (JetError): 3204 the destination exists (it is
// not touched); 3024 no source; 3044 a path through a missing folder; 3051 no permission; 3031
// a wrong or missing password; 3045 the source is in use; 3343 a source that is not a Jet 3 /
// Jet 4 database or that the strict read finds damaged (repair it first); 61 disk full; 3036
// the output would pass Jet's maximum size.
void CompactDatabase(Env* env, const std::string& source, const std::string& destination,
                     const CompactOptions& options = {}, CompactReport* report = nullptr);

}  // namespace jet
