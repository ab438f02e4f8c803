// Where the writer's pages go: page numbers are handed out in increasing order (the file only
// grows), and page images are written through jet::Env. Writes are gathered and issued in
// page order, so the file is written nearly sequentially even though a page is written only
// once it is complete (a data page fills while the long-value page next to it is still open).
// With a page key, every page but page 0 is stored encoded as Jet encodes it (rc4.h), pages
// never written included (they read back as zeros).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

class PageSink {
  public:
    // REQUIRES: file is open for writing and empty. `max_pages` bounds the file (Jet 3 1 GB,
    // Jet 4 2 GB); allocating past it raises 3036. `encryption_key`: the page key of page 0,
    // 0 = pages in clear.
    PageSink(File* file, const std::string& path, Version version, uint32_t max_pages,
             uint32_t encryption_key = 0);
    PageSink(const PageSink&) = delete;
    PageSink& operator=(const PageSink&) = delete;

    uint32_t page_size() const { return page_size_; }
    // Number of pages handed out so far (= the file's length in pages once all are written).
    uint32_t page_count() const { return next_; }

    // Hands out the next page number, or `n` consecutive ones (returns the first).
    uint32_t Allocate(uint32_t n = 1);

    // Queues a page image, in clear (REQUIRES: image.size() == page_size, page was allocated).
    // Each page is written exactly once; pages never written stay zero.
    void Write(uint32_t page, Bytes image);
    void Write(uint32_t page, const uint8_t* image);

    // Writes everything queued, extends the file to page_count() pages and, unless `sync` is
    // false (the caller syncs it), syncs it.
    void Finish(bool sync = true);

    // Writes everything queued now (the pages may then be read back from the file).
    void Flush() { Drain(); }
    // The first page at or after `from` that is not in the file yet (not written, or still
    // queued): every page from `from` up to it may be read back while the writing goes on.
    // REQUIRES: `from` never decreases from one call to the next.
    uint32_t InFileUpTo(uint32_t from);

    // Bytes queued and not yet written (for tests of the memory bound).
    size_t pending_bytes() const { return pending_.size() * page_size_; }

  private:
    void Drain();

    File* file_;
    std::string path_;
    uint32_t page_size_;
    uint32_t max_pages_;
    uint32_t encryption_key_;
    uint32_t next_ = 0;
    std::vector<bool> written_;  // per page, with a page key: zeros must be stored encoded too
    std::vector<bool> in_file_;  // per page: written to the file
    uint32_t in_file_cursor_ = 0;
    std::map<uint32_t, Bytes> pending_;  // page -> image, written in order when large enough
    Bytes run_;                          // consecutive pages gathered for one write
};

// Raises the Jet error that a failed file operation stands for (61 disk full, 3026/3040/3043).
[[noreturn]] void RaiseForOsError(const OsError& e);

}  // namespace jet
