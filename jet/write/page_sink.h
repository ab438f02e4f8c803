// Where the writer's pages go: page numbers are handed out in increasing order (the file only
// grows), and page images are written through jet::Env. Writes are gathered and issued in
// page order, so the file is written nearly sequentially even though a page is written only
// once it is complete (a data page fills while the long-value page next to it is still open).
// With a page key, every page but page 0 is stored encoded as Jet encodes it (rc4.h), pages
// never written included (they read back as zeros).
//
// Queued pages live, where they can, in a window of page buffers indexed by page number (modulo
// its size), so that consecutive pages lie side by side and a run is written from where its
// pages were built: a page is built in place (Buffer, then Commit) or copied in once (Write).
// A run that crosses the window's end is written in two. A page whose slot is taken (by a page
// still being built or queued, a page number far apart) has a buffer of its own and is gathered
// with its neighbours into one write.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

class PageSink {
  public:
    // REQUIRES: file is open for writing and empty. `max_pages` bounds the file (Jet 3 1 GB,
    // Jet 4 2 GB); allocating past it raises 3036. `encryption_key`: the page key of page 0,
    // 0 = pages in clear. `background`: the writes are made on a thread of their own while
    // the pages that follow are built (REQUIRES then: the file may be written from another
    // thread); a failed write is raised by the next call that waits for the file (Flush,
    // InFileUpTo, Finish, or one that needs the window slot of a page being written).
    PageSink(File* file, const std::string& path, Version version, uint32_t max_pages,
             uint32_t encryption_key = 0, bool background = false);
    // Waits for the write under way, if any; drops the rest.
    ~PageSink();
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

    // A page built in place: Buffer hands out a page-sized buffer for an allocated page not
    // written yet (its bytes unspecified), valid until Commit(page), which queues it as Write
    // does. Pages may be open side by side.
    uint8_t* Buffer(uint32_t page);
    void Commit(uint32_t page);

    // Writes everything queued, extends the file to page_count() pages and, unless `sync` is
    // false (the caller syncs it), syncs it.
    void Finish(bool sync = true);

    // Writes everything queued now (the pages may then be read back from the file).
    void Flush();
    // The first page at or after `from` that is not in the file yet (not written, or still
    // queued): every page from `from` up to it may be read back while the writing goes on.
    // REQUIRES: `from` never decreases from one call to the next.
    uint32_t InFileUpTo(uint32_t from);

    // Bytes queued and not yet written (for tests of the memory bound).
    size_t pending_bytes() const { return queued_ * page_size_; }

  private:
    // Pages of the window; the slot of page p is p % kWindowPages.
    static constexpr uint32_t kWindowPages = 1024;
    // kWriting: handed to the writing thread, not to be touched until it is done.
    enum class Slot : uint8_t { kFree, kOpen, kQueued, kWriting };
    // One write of consecutive pages, and a burst of them: what one Drain hands over.
    struct Run {
        uint64_t offset;
        const uint8_t* bytes;  // in the window, or in the burst's own gathered bytes
        size_t size;
    };
    struct Burst {
        std::vector<Run> runs;
        std::vector<uint32_t> pages;  // every page the runs write
        std::deque<Bytes> gathered;   // pages copied together (a deque: they never move)
    };

    void MakeWindow();
    uint8_t* SlotData(uint32_t slot) { return window_.get() + size_t{slot} * page_size_; }
    // The window slot of `page` when it holds that page.
    bool InWindow(uint32_t page) const;
    void Queued(uint32_t page, uint8_t* image);
    void Drain();
    static void WriteRuns(File* file, const Burst& burst);
    // The pages of a burst written: in the file, and their slots free.
    void Written(const Burst& burst);
    // Takes back the bursts the writing thread is done with, after waiting for none, for one
    // more, or for all of them; raises the failure of a write.
    enum class Wait { kNone, kOne, kAll };
    void TakeWritten(Wait wait);
    // Waits until the slot of `page` is not being written.
    void WaitForSlot(uint32_t page);
    void WriteInBackground();

    File* file_;
    std::string path_;
    uint32_t page_size_;
    uint32_t max_pages_;
    uint32_t encryption_key_;
    uint32_t next_ = 0;
    std::vector<bool> written_;  // per page, with a page key: zeros must be stored encoded too
    std::vector<bool> in_file_;  // per page: written to the file
    uint32_t in_file_cursor_ = 0;
    std::unique_ptr<uint8_t[]> window_;  // kWindowPages page buffers, made on first use
    std::vector<Slot> slot_state_;
    std::vector<uint32_t> slot_page_;
    std::vector<uint32_t> window_queued_;     // queued pages in the window, in the order queued
    std::map<uint32_t, Bytes> apart_open_;    // pages built outside the window
    std::map<uint32_t, Bytes> apart_queued_;  // queued pages outside the window
    size_t queued_ = 0;                       // pages queued and not yet written

    // The writing thread and what it shares, under mutex_.
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Two bursts, reused in turn, so that the writing thread allocates and frees nothing:
    // burst k is bursts_[k % 2]; counted from the start, taken back <= written <= handed over.
    static constexpr uint64_t kBursts = 2;
    Burst bursts_[kBursts];
    uint64_t handed_ = 0;
    uint64_t written_count_ = 0;
    uint64_t taken_ = 0;  // by the building thread alone
    std::exception_ptr failure_;
    bool stopping_ = false;
};

// Raises the Jet error that a failed file operation stands for (61 disk full, 3026/3040/3043).
[[noreturn]] void RaiseForOsError(const OsError& e);

}  // namespace jet
