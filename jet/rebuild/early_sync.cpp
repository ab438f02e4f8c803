#include "jet/rebuild/early_sync.h"

#include <system_error>
#include <utility>

namespace jet {

EarlySync::EarlySync(Env* env, WriteObserver* next, uint32_t page_size, bool thread,
                     uint64_t sync_bytes)
    : env_(env), next_(next), page_size_(page_size), sync_bytes_(sync_bytes) {
    if (!thread) return;
    try {
        thread_ = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        // No thread to be had: the final sync does it all.
    }
}

EarlySync::~EarlySync() {
    try {
        LetGo();
    } catch (...) {
        // The rebuild fails already, or has raised this failure.
    }
}

void EarlySync::Attach(const std::string& path) {
    const std::lock_guard<std::mutex> hold(mutex_);
    path_ = path;
}

void EarlySync::TableBegun(const TableDef& def) {
    next_->TableBegun(def);
}

void EarlySync::DataPagesWritten(const std::vector<uint32_t>& pages, uint32_t readable_pages) {
    next_->DataPagesWritten(pages, readable_pages);
    Written(readable_pages);
}

void EarlySync::RowsWritten(const TableDef& def,
                            const std::vector<std::vector<uint32_t>>& long_value_pages,
                            uint32_t readable_pages) {
    next_->RowsWritten(def, long_value_pages, readable_pages);
    Written(readable_pages);
}

void EarlySync::IndexWritten(size_t number, const RealIndexDef& index, uint32_t readable_pages) {
    next_->IndexWritten(number, index, readable_pages);
    Written(readable_pages);
}

void EarlySync::TableWritten(const TableDef& def) {
    next_->TableWritten(def);
}

void EarlySync::Written(uint32_t readable_pages) {
    if (!thread_.joinable()) return;
    const uint64_t bytes = uint64_t{readable_pages} * page_size_;
    if (bytes < asked_at_ + sync_bytes_) return;
    asked_at_ = bytes;
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        asked_ = true;
    }
    changed_.notify_all();
}

void EarlySync::Work() {
    std::unique_ptr<File> file;
    bool unopened = false;  // the file could not be opened: left to the final sync
    for (;;) {
        std::string path;
        {
            std::unique_lock<std::mutex> hold(mutex_);
            changed_.wait(hold, [this] { return closing_ || asked_; });
            if (closing_) break;
            asked_ = false;
            path = path_;
        }
        if (unopened) continue;
        try {
            if (!file) {
                try {
                    file = env_->Open(path, OpenMode::kReadWrite);
                } catch (const OsError&) {
                    unopened = true;
                    continue;
                }
            }
            file->Sync();
        } catch (...) {
            const std::lock_guard<std::mutex> hold(mutex_);
            failure_ = std::current_exception();
            break;
        }
    }
    file.reset();
}

void EarlySync::LetGo() {
    if (thread_.joinable()) {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    if (std::exception_ptr failure = std::exchange(failure_, nullptr))
        std::rethrow_exception(failure);
}

}  // namespace jet
