#include "jet/write/page_sink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

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
                   uint32_t encryption_key, bool background)
    : file_(file),
      path_(path),
      page_size_(PageSize(version)),
      max_pages_(max_pages),
      encryption_key_(encryption_key) {
    if (!background) return;
    try {
        thread_ = std::thread([this] { WriteInBackground(); });
    } catch (const std::system_error&) {
        // No thread to be had: the writes are made as they are handed over.
    }
}

PageSink::~PageSink() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void PageSink::WriteInBackground() {
    for (;;) {
        uint64_t k = 0;
        {
            std::unique_lock<std::mutex> hold(mutex_);
            changed_.wait(hold, [this] { return stopping_ || written_count_ < handed_; });
            if (stopping_) return;  // what is left is dropped: the file is given up
            k = written_count_;
        }
        try {
            WriteRuns(file_, bursts_[k % kBursts]);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(mutex_);
            failure_ = std::current_exception();
            changed_.notify_all();
            return;
        }
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            ++written_count_;
        }
        changed_.notify_all();
    }
}

void PageSink::WriteRuns(File* file, const Burst& burst) {
    for (const Run& run : burst.runs) file->WriteAt(run.offset, run.bytes, run.size);
}

void PageSink::Written(const Burst& burst) {
    for (uint32_t page : burst.pages) {
        in_file_[page] = true;
        const uint32_t slot = page % kWindowPages;
        if (window_ && slot_state_[slot] == Slot::kWriting && slot_page_[slot] == page)
            slot_state_[slot] = Slot::kFree;
    }
}

void PageSink::TakeWritten(Wait wait) {
    if (!thread_.joinable()) return;
    uint64_t written = 0;
    std::exception_ptr failure;
    {
        std::unique_lock<std::mutex> hold(mutex_);
        changed_.wait(hold, [&] {
            switch (wait) {
                case Wait::kNone:
                    return true;
                case Wait::kOne:
                    return failure_ || written_count_ > taken_;
                case Wait::kAll:
                    return failure_ || written_count_ == handed_;
            }
            return true;
        });
        written = written_count_;
        failure = failure_;
    }
    for (; taken_ < written; ++taken_) Written(bursts_[taken_ % kBursts]);
    if (!failure) return;
    try {
        std::rethrow_exception(failure);
    } catch (const OsError& e) {
        RaiseForOsError(e);
    }
}

void PageSink::WaitForSlot(uint32_t page) {
    if (!window_ || !thread_.joinable()) return;
    const uint32_t slot = page % kWindowPages;
    while (slot_state_[slot] == Slot::kWriting) TakeWritten(Wait::kOne);
}

void PageSink::Flush() {
    Drain();
    TakeWritten(Wait::kAll);
}

uint32_t PageSink::Allocate(uint32_t n) {
    if (n == 0 || n > max_pages_ || next_ > max_pages_ - n) Raise(kDatabaseFull);
    uint32_t first = next_;
    next_ += n;
    if (encryption_key_ != 0) written_.resize(next_, false);
    in_file_.resize(next_, false);
    return first;
}

uint32_t PageSink::InFileUpTo(uint32_t from) {
    TakeWritten(Wait::kNone);
    if (in_file_cursor_ < from) in_file_cursor_ = from;
    while (in_file_cursor_ < next_ && in_file_[in_file_cursor_]) ++in_file_cursor_;
    return in_file_cursor_;
}

bool PageSink::InWindow(uint32_t page) const {
    if (!window_) return false;
    const uint32_t slot = page % kWindowPages;
    return slot_state_[slot] != Slot::kFree && slot_page_[slot] == page;
}

void PageSink::MakeWindow() {
    if (window_) return;
    window_ = std::make_unique_for_overwrite<uint8_t[]>(size_t{kWindowPages} * page_size_);
    slot_state_.assign(kWindowPages, Slot::kFree);
    slot_page_.assign(kWindowPages, 0);
}

uint8_t* PageSink::Buffer(uint32_t page) {
    if (page >= next_) throw std::logic_error("page built outside the allocated range");
    MakeWindow();
    WaitForSlot(page);
    const uint32_t slot = page % kWindowPages;
    if (slot_state_[slot] == Slot::kFree) {
        slot_state_[slot] = Slot::kOpen;
        slot_page_[slot] = page;
        return SlotData(slot);
    }
    Bytes& image = apart_open_[page];
    image.resize(page_size_);
    return image.data();
}

void PageSink::Commit(uint32_t page) {
    const uint32_t slot = page % kWindowPages;
    if (InWindow(page) && slot_state_[slot] == Slot::kOpen) {
        slot_state_[slot] = Slot::kQueued;
        window_queued_.push_back(page);
        Queued(page, SlotData(slot));
        return;
    }
    auto node = apart_open_.extract(page);
    if (node.empty()) throw std::logic_error("page committed that was not being built");
    uint8_t* image = node.mapped().data();
    const bool again = apart_queued_.erase(page) != 0;  // written twice: the last image counts
    apart_queued_.insert(std::move(node));
    if (again) --queued_;
    Queued(page, image);
}

void PageSink::Queued(uint32_t page, uint8_t* image) {
    if (encryption_key_ != 0) {
        CryptPage(encryption_key_, page, {image, page_size_});
        written_[page] = true;
    }
    if (++queued_ >= kDrainPages) Drain();
}

void PageSink::Write(uint32_t page, Bytes image) {
    if (image.size() != page_size_ || page >= next_)
        throw std::logic_error("page written outside the allocated range");
    MakeWindow();
    WaitForSlot(page);
    if (InWindow(page) || slot_state_[page % kWindowPages] == Slot::kFree) {
        Write(page, image.data());
        return;
    }
    auto it = apart_queued_.find(page);
    if (it != apart_queued_.end()) {  // written twice: the last image counts
        it->second = std::move(image);
        --queued_;
        Queued(page, it->second.data());
        return;
    }
    Bytes& stored = apart_queued_[page];
    stored = std::move(image);
    Queued(page, stored.data());
}

void PageSink::Write(uint32_t page, const uint8_t* image) {
    if (page >= next_) throw std::logic_error("page written outside the allocated range");
    WaitForSlot(page);
    if (InWindow(page)) {
        const uint32_t slot = page % kWindowPages;
        std::memcpy(SlotData(slot), image, page_size_);
        if (slot_state_[slot] == Slot::kOpen) {
            Commit(page);
        } else {  // written twice: the last image counts
            --queued_;
            Queued(page, SlotData(slot));
        }
        return;
    }
    auto it = apart_queued_.find(page);
    if (it != apart_queued_.end()) {
        std::memcpy(it->second.data(), image, page_size_);
        --queued_;
        Queued(page, it->second.data());
        return;
    }
    std::memcpy(Buffer(page), image, page_size_);
    Commit(page);
}

void PageSink::Drain() {
    if (window_queued_.empty() && apart_queued_.empty()) return;
    // A burst of our own to fill: with both on their way, the older one written first.
    if (handed_ - taken_ == kBursts) TakeWritten(Wait::kOne);
    Burst& burst = bursts_[handed_ % kBursts];
    burst.runs.clear();
    burst.pages.clear();
    burst.gathered.clear();
    std::sort(window_queued_.begin(), window_queued_.end());
    // Runs of consecutive pages, each one write: straight from the window where its pages lie
    // side by side there (a run crossing the window's end takes two), else gathered.
    const uint8_t* direct = nullptr;  // the run's first page, while it is side by side
    Bytes* gathered = nullptr;        // the run's pages, once gathered
    size_t run_pages = 0;
    uint64_t run_start = 0;
    uint32_t expect = 0;
    auto flush = [&]() {
        if (run_pages == 0) return;
        burst.runs.push_back(
            {run_start, direct != nullptr ? direct : gathered->data(), run_pages * page_size_});
        run_pages = 0;
    };
    auto gather = [&](const uint8_t* from, size_t n) {
        gathered = &burst.gathered.emplace_back(from, from + n);
    };
    auto add = [&](uint32_t page, const uint8_t* image, bool in_window) {
        burst.pages.push_back(page);
        if (run_pages != 0 && page == expect) {
            const bool direct_run = direct != nullptr && in_window;
            if (direct_run && image == direct + run_pages * page_size_) {  // side by side
                ++run_pages;
                ++expect;
                return;
            }
            if (!direct_run) {  // a page apart, or a run gathered already: gathered
                if (direct != nullptr) gather(direct, run_pages * page_size_);
                direct = nullptr;
                gathered->insert(gathered->end(), image, image + page_size_);
                ++run_pages;
                ++expect;
                return;
            }
            // The run crosses the window's end: written in two.
        }
        flush();
        run_start = static_cast<uint64_t>(page) * page_size_;
        run_pages = 1;
        expect = page + 1;
        direct = in_window ? image : nullptr;
        if (!in_window) gather(image, page_size_);
    };
    auto w = window_queued_.begin();
    auto a = apart_queued_.begin();
    while (w != window_queued_.end() || a != apart_queued_.end()) {
        if (a == apart_queued_.end() || (w != window_queued_.end() && *w < a->first)) {
            add(*w, SlotData(*w % kWindowPages), true);
            ++w;
        } else {
            add(a->first, a->second.data(), false);
            ++a;
        }
    }
    flush();

    // The window's pages stay where they are until written; the others are gathered already.
    for (uint32_t page : window_queued_) slot_state_[page % kWindowPages] = Slot::kWriting;
    window_queued_.clear();
    apart_queued_.clear();
    queued_ = 0;
    if (!thread_.joinable()) {
        try {
            WriteRuns(file_, burst);
        } catch (const OsError& e) {
            RaiseForOsError(e);
        }
        Written(burst);
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        ++handed_;
    }
    changed_.notify_all();
    TakeWritten(Wait::kNone);
}

void PageSink::Finish(bool sync) {
    if (encryption_key_ != 0) {
        for (uint32_t page = 1; page < next_; ++page)
            if (!written_[page]) Write(page, Bytes(page_size_, 0));
    }
    Flush();
    try {
        uint64_t size = static_cast<uint64_t>(next_) * page_size_;
        if (file_->Size() != size) file_->Truncate(size);
        if (sync) file_->Sync();
    } catch (const OsError& e) {
        RaiseForOsError(e);
    }
}

}  // namespace jet
