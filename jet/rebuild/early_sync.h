// A file being written, sent to the disk a part at a time while the writer goes on, on a thread
// of its own: the sync that makes the output durable once it is complete then has only the last
// part left to wait for, where it would otherwise wait for the whole file while no thread has
// anything else to do. The kernel writes a file back by itself only long after it was written,
// or once gigabytes are dirty.
//
// It follows the writer as a WriteObserver between the writer and the one that follows it
// (every call is passed on first), and asks for a sync each time another kSyncBytes are in the
// file. The syncs ask nothing of the writer: it never waits for one. A sync asked for while one
// runs is made once that one is done, for everything written meanwhile. These syncs make
// nothing durable by themselves; the file is synced whole once complete, as without them. A
// file that cannot be opened here is left to that final sync; a sync that fails is raised by
// LetGo, since the final sync, through a handle opened later, may not hear of it again.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jet/base/env.h"
#include "jet/write/writer.h"

namespace jet {

class EarlySync final : public WriteObserver {
  public:
    static constexpr uint64_t kSyncBytes = 16u << 20;

    // `next`: told first of everything (not null). `thread`: sync at all (REQUIRES then: `env`
    // allows threads); without it this only passes the calls on. `sync_bytes`: how much is
    // written between two syncs asked for.
    EarlySync(Env* env, WriteObserver* next, uint32_t page_size, bool thread,
              uint64_t sync_bytes = kSyncBytes);
    // Lets go as LetGo does, without raising.
    ~EarlySync() override;
    EarlySync(const EarlySync&) = delete;
    EarlySync& operator=(const EarlySync&) = delete;

    // The file the writer writes. REQUIRES: before its first table.
    void Attach(const std::string& path);

    void TableBegun(const TableDef& def) override;
    void DataPagesWritten(const std::vector<uint32_t>& pages, uint32_t readable_pages) override;
    void RowsWritten(const TableDef& def,
                     const std::vector<std::vector<uint32_t>>& long_value_pages,
                     uint32_t readable_pages) override;
    void IndexWritten(size_t number, const RealIndexDef& index, uint32_t readable_pages) override;
    void TableWritten(const TableDef& def) override;

    // Waits for the sync under way, if any, drops the rest and closes the file (the writer may
    // rename it then); raises the failure of a sync, as the OsError it was.
    void LetGo();

  private:
    void Written(uint32_t readable_pages);  // asks for a sync past each kSyncBytes
    void Work();                            // the syncing thread

    Env* env_;
    WriteObserver* next_;
    uint32_t page_size_;
    uint64_t sync_bytes_;
    std::string path_;
    uint64_t asked_at_ = 0;  // the writer's: bytes in the file at the last sync asked for

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool asked_ = false;    // a sync asked for and not begun
    bool closing_ = false;  // LetGo: no more syncs
    std::exception_ptr failure_;
};

}  // namespace jet
