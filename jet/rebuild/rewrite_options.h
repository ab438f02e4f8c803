// What compaction (compact.h) and repair (repair.h) both take from their caller; the rebuild
// they run gets it through RebuildOptionsFor (rebuild.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "jet/format/mdb_file.h"

namespace jet {

struct RewriteOptions {
    // Password of a protected database; the file written keeps it.
    std::string password;
    // Memory for the index entries of one table before they spill to sorted runs on disk.
    size_t sort_memory = 32u << 20;
    // Called now and then with pages done out of an estimated total (reading the source, then
    // verifying the output), for a progress bar.
    std::function<void(uint64_t done, uint64_t total)> progress;
    // Pages read at once from the files it reads whole (its source, held behind the open gate
    // so that no one else writes it, and its own output); tests lower it to reach every read.
    uint32_t read_ahead_pages = kScanReadAheadPages;
};

}  // namespace jet
