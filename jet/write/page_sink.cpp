#include "jet/write/page_sink.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "jet/base/error.h"
#include "jet/base/rc4.h"

namespace jet {

namespace {
// Pages gathered before a write burst: large enough for long sequential writes, small enough
// to keep memory flat.
constexpr size_t kDrainPages = 512;
}  // namespace

void RaiseForOsError(const OsError& e) {
    switch (e.code()) {
        case ENOSPC:
#ifdef EDQUOT  // absent on Windows, where the Env reports a full quota as ENOSPC
        case EDQUOT:
#endif
            Raise(kDiskFull);
        case EFBIG:
            Raise(kDatabaseFull);
        case EACCES:
        case EPERM:
        case EROFS:
            RaiseWithDetail(kCannotOpenFile, e.path(), e.what());
        default:
            RaiseWithDetail(kDiskOrNetworkError, {}, e.what());
    }
}

PageSink::PageSink(File* file, const std::string& path, Version version, uint32_t max_pages,
                   uint32_t encryption_key)
    : file_(file),
      path_(path),
      page_size_(PageSize(version)),
      max_pages_(max_pages),
      encryption_key_(encryption_key) {}

uint32_t PageSink::Allocate(uint32_t n) {
    if (n == 0 || n > max_pages_ || next_ > max_pages_ - n) Raise(kDatabaseFull);
    uint32_t first = next_;
    next_ += n;
    if (encryption_key_ != 0) written_.resize(next_, false);
    in_file_.resize(next_, false);
    return first;
}

uint32_t PageSink::InFileUpTo(uint32_t from) {
    if (in_file_cursor_ < from) in_file_cursor_ = from;
    while (in_file_cursor_ < next_ && in_file_[in_file_cursor_]) ++in_file_cursor_;
    return in_file_cursor_;
}

void PageSink::Write(uint32_t page, Bytes image) {
    if (image.size() != page_size_ || page >= next_)
        throw std::logic_error("page written outside the allocated range");
    if (encryption_key_ != 0) {
        CryptPage(encryption_key_, page, image);
        written_[page] = true;
    }
    pending_[page] = std::move(image);
    if (pending_.size() >= kDrainPages) Drain();
}

void PageSink::Write(uint32_t page, const uint8_t* image) {
    Write(page, Bytes(image, image + page_size_));
}

void PageSink::Drain() {
    try {
        Bytes& run = run_;  // kept between drains: no fresh allocation per burst
        run.clear();
        uint64_t run_start = 0;
        uint32_t expect = 0;
        for (auto& [page, image] : pending_) {
            if (!run.empty() && page != expect) {
                file_->WriteAt(run_start, run.data(), run.size());
                run.clear();
            }
            if (run.empty()) run_start = static_cast<uint64_t>(page) * page_size_;
            run.insert(run.end(), image.begin(), image.end());
            expect = page + 1;
        }
        if (!run.empty()) file_->WriteAt(run_start, run.data(), run.size());
    } catch (const OsError& e) {
        RaiseForOsError(e);
    }
    for (const auto& entry : pending_) in_file_[entry.first] = true;
    pending_.clear();
}

void PageSink::Finish(bool sync) {
    if (encryption_key_ != 0) {
        for (uint32_t page = 1; page < next_; ++page)
            if (!written_[page]) Write(page, Bytes(page_size_, 0));
    }
    Drain();
    try {
        uint64_t size = static_cast<uint64_t>(next_) * page_size_;
        if (file_->Size() != size) file_->Truncate(size);
        if (sync) file_->Sync();
    } catch (const OsError& e) {
        RaiseForOsError(e);
    }
}

}  // namespace jet
