// Rebuilding a database: the content of a DatabaseSource (database_source.h) written anew by
// the database writer (writer.h), verified, and only then put in place. Compaction runs it on
// a strict source, repair on a salvaging one.
//
// Steps:
//   1. page 0 is carried over from the source (every byte, unknown fields included) with clean
//      commit words (entries 2..255 = 00 01: a new file has no users, so nothing marks it as
//      left open) and the page key the options ask for: by default the source's, so an encoded
//      source gives an output encoded under the same key and a clear one a clear output;
//   2. every table of the source is added to the writer in source order, so its new id (its
//      new TDEF page) is known before any row is written; the foreign keys of the definitions
//      are mapped to the new ids (id_remap.h);
//   3. the rows of each table stream from the source to the writer, with the object ids in
//      them mapped, and each row is digested (content_checksum.h) as it is written (where the
//      file system allows threads, the source is read, mapped and digested on a thread of its
//      own, a few batches ahead of the writing, source_rows.h); the writer
//      resolves long values and builds every index from the rows, row counts and AutoNumber
//      seeds with them; an index on text of a sort order the engine has no tables for gets
//      each row's key from the source's own entry for that row (carried_keys.h), and a source
//      whose keys cannot all be carried fails the rebuild, or with general_when_not_carried
//      is written again in General order;
//   4. the output is checked while it is written (output_check.h): the writer says which of its
//      pages are in the file, and the strict checker (not even a notice; it reads the pages
//      decoded) reads each table's data pages, long values and indexes back behind it, on a
//      thread of its own where the file system allows threads, digesting every row it finds;
//      the writer then finishes into a temporary file beside the destination, synced (on a
//      second thread, while the last checks run, where there is one), which is re-opened for
//      what is written last: its page 0 must hold the page key asked for, the catalog, table
//      definitions and usage maps must check clean and agree with what the rows were checked
//      by, every page must have one use, and every table must hold exactly the rows written
//      (row count and digest);
//   5. only then is the temporary file renamed to the destination and the folder synced.
// On any failure the temporary files are removed and the destination is not touched: it
// exists afterwards only when it existed before (replace_existing) or the rebuild succeeded.
// Once a replacing rename is done the rebuild has succeeded: a failed folder sync after it is
// not reported, since the original it would claim untouched is gone.
// Killed midway, a rebuild leaves at most a temporary file named after the destination
// ("~<name>.rebuilding" and the writer's own), which the next rebuild replaces.
//
// Memory: one row at a time (a few batches of rows when the source is read on a thread of its
// own, source_rows.h), plus what the writer keeps (the index entries of the table being
// written, spilled to sorted runs past `sort_memory`) and the checker's state of the table it
// is checking, which may be the one before the writer's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/format/header.h"
#include "jet/format/mdb_file.h"
#include "jet/read/checker.h"
#include "jet/rebuild/database_source.h"

namespace jet {

struct RebuildProgress {
    enum class Stage { kWriting, kVerifying };
    Stage stage = Stage::kWriting;
    // Pages: the source's data pages while writing, then the output's pages while verifying
    // (estimated from the rows verified); `total` covers both stages.
    uint64_t done = 0;
    uint64_t total = 0;
};

struct RebuildOptions {
    // Password of the source, if any; the output keeps it and is re-opened with it.
    std::string password;
    // Replace an existing destination (repair writes over its source); when false an existing
    // destination fails with 3204 and is never overwritten.
    bool replace_existing = false;
    // Memory for the index entries of one table before they spill to sorted runs on disk.
    size_t sort_memory = 32u << 20;
    // The output's page encoding (header.h): by default the source's.
    PageEncoding encoding = PageEncoding::kKeep;
    std::function<void(const RebuildProgress&)> progress;
    // Pages read at once from the files it reads whole (its source, held behind the open gate
    // so that no one else writes it, and its own output); tests lower it to reach every read.
    uint32_t read_ahead_pages = kScanReadAheadPages;
    // Work on more threads: the source is read on one while the rows are written
    // (source_rows.h), the output checked on another behind the writing (output_check.h), and
    // synced on a third while its last checks run. REQUIRES: the Envs of the source and of the
    // rebuild allow threads (Env::AllowsThreads).
    bool threads = false;
    // Where the keys of an index in a sort order the engine has no tables for cannot all be
    // carried from the source (carried_keys.h): write the database in General order instead,
    // its page 0 and every Text and Memo column saying so and every text index computed
    // (repair). Without it such a rebuild fails with 3343.
    bool general_when_not_carried = false;
};

struct RebuiltTable {
    std::string name;
    uint32_t old_id = 0;
    uint32_t new_id = 0;
    uint64_t rows = 0;
    uint32_t ids_rewritten = 0;  // object ids changed in its rows
};

struct RebuildReport {
    uint32_t pages_before = 0;
    uint32_t pages_after = 0;
    uint64_t rows = 0;
    std::vector<RebuiltTable> tables;
    CheckStats check;  // the checker's statistics of the output
    double seconds = 0;
    // The source's sort order when the output was written in General order instead
    // (general_when_not_carried); 0 when it kept its own.
    uint16_t sort_order_replaced = 0;
};

// Writes `source` to `destination` as described above. Errors (JetError): 3204 destination
// exists (without replace_existing), 3044 missing folder, 3051 no permission, 61 disk full,
// 3036 the output would pass Jet's maximum size, those the source raises while it is read
// (3343 damage), and 3343 when the output does not verify (the text says what differed:
// commonly a unique index that holds duplicate keys in the source).
void RebuildDatabase(Env* env, DatabaseSource& source, const std::string& destination,
                     const RebuildOptions& options = {}, RebuildReport* report = nullptr);

// Page 0 for the output: the source's, with the commit words clean and the page key that
// `encoding` gives (EncryptionKeyFor).
DatabaseHeader RebuiltHeader(const DatabaseHeader& source,
                             PageEncoding encoding = PageEncoding::kKeep);

}  // namespace jet
