// Rebuilding a database: the content of a DatabaseSource (database_source.h) written anew by
// the database writer (writer.h), verified, and only then put in place. Compaction runs it on
// a strict source, repair on a salvaging one. How it goes: rebuild.cpp.
//
// The destination exists afterwards only when it existed before (replace_existing) or the
// rebuild succeeded: on any failure the temporary files are removed and the destination is
// not touched. Once a replacing rename is done the rebuild has succeeded (a failed folder sync
// after it is not reported: the original it would claim untouched is gone). Killed midway, a
// rebuild leaves at most a temporary file named after the destination ("~<name>.rebuilding"
// and the writer's own), which the next rebuild replaces.
//
// Memory: one row at a time (a few batches when the source is read on a thread of its own),
// the writer's index entries of one table (spilled to sorted runs past `sort_memory`) and the
// checker's state of the table it is checking.
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
#include "jet/rebuild/rewrite_options.h"

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

// The options of a compaction's or a repair's rebuild, and of the source it reads, as their
// caller gave them; the rest stays at the defaults above.
OpenOptions OpenOptionsFor(const RewriteOptions& options);
RebuildOptions RebuildOptionsFor(const RewriteOptions& options);

// Writes `source` to `destination` as described above. Errors (JetError): 3204 destination
// exists (without replace_existing), 3044 missing folder, 3051 no permission, 61 disk full,
// 3036 the output would pass Jet's maximum size, those the source raises while it is read
// (3343 damage), and 3343 when the output does not verify (the text says what differed:
// commonly a unique index that holds duplicate keys in the source).
void RebuildDatabase(Env* env, DatabaseSource& source, const std::string& destination,
                     const RebuildOptions& options = {}, RebuildReport* report = nullptr);

// Page 0 for the output: the source's, every byte of it (unknown fields included), with the
// users' commit words closed (CloseUserCommitWords) and the page key that `encoding` gives
// (EncryptionKeyFor).
DatabaseHeader RebuiltHeader(const DatabaseHeader& source,
                             PageEncoding encoding = PageEncoding::kKeep);

}  // namespace jet
