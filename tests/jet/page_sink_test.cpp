// The page sink against a model of what it promises: pages built in place and pages copied in,
// some held open across many others (so that their slots of the window are taken and pages
// land apart from it), are written in the bursts and order of a plain sorted queue drained
// every kDrainPages pages, each write a run of consecutive pages, and the file ends holding
// every page as it was given (encoded with a page key, zeros where never written); with the
// writes made on a thread of their own as well, where no page is said to be in the file
// before its write is done.
#include "jet/write/page_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <random>
#include <set>

#include "jet/base/error.h"
#include "jet/base/rc4.h"
#include "jet/testing/memory_env.h"

namespace jet {
namespace {

constexpr size_t kDrainPages = 512;  // as the sink drains

uint8_t PatternByte(uint32_t page, size_t i) {
    return static_cast<uint8_t>(page * 131u + i * 7u + (i >> 8));
}

// Pages in the order the sink is expected to write them: each drain, its pages sorted.
struct Model {
    std::set<uint32_t> queued;
    std::vector<uint32_t> written;
    std::set<uint32_t> in_file;
    void Queue(uint32_t page) {
        queued.insert(page);
        if (queued.size() >= kDrainPages) Drain();
    }
    void Drain() {
        written.insert(written.end(), queued.begin(), queued.end());
        in_file.insert(queued.begin(), queued.end());
        queued.clear();
    }
};

// A file that tells which pages its writes are done with, and fails the write it is told to.
class WatchedFile final : public File {
  public:
    WatchedFile(File* file, size_t page_size) : file_(file), page_size_(page_size) {}
    uint64_t Size() override { return file_->Size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
        return file_->ReadAt(offset, buffer, n);
    }
    void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
        if (++writes_ == fail_at) throw OsError(ENOSPC, "write", "out");
        file_->WriteAt(offset, buffer, n);
        const std::lock_guard<std::mutex> hold(mutex_);
        for (uint64_t p = offset / page_size_; p < (offset + n) / page_size_; ++p)
            done_.insert(static_cast<uint32_t>(p));
    }
    void Truncate(uint64_t size) override { file_->Truncate(size); }
    void Sync() override { file_->Sync(); }
    bool TryLock(uint64_t, uint64_t, bool) override { return true; }
    void Unlock(uint64_t, uint64_t) override {}
    bool IsLockedByOther(uint64_t, uint64_t) override { return false; }
    // Whether every page below `end` was written.
    bool WrittenBelow(uint32_t end) {
        const std::lock_guard<std::mutex> hold(mutex_);
        for (uint32_t p = 0; p < end; ++p)
            if (!done_.count(p)) return false;
        return true;
    }
    uint64_t fail_at = 0;  // the write to fail, counted from 1 (0: none)

  private:
    File* file_;
    size_t page_size_;
    uint64_t writes_ = 0;  // by one thread at a time: the sink's
    std::mutex mutex_;
    std::set<uint32_t> done_;
};

TEST(PageSink, WritesEveryPageInItsBurstWhereverItWasBuilt) {
    for (const bool background : {false, true}) {
        for (const Version version : {Version::kJet3, Version::kJet4}) {
            for (const uint32_t key : {0u, 0x5EED1234u}) {
                for (const unsigned seed : {1u, 2u}) {
                    SCOPED_TRACE(std::to_string(PageSize(version)) + "-byte pages, key " +
                                 std::to_string(key) + ", seed " + std::to_string(seed) +
                                 (background ? ", writing on a thread" : ""));
                    std::minstd_rand engine(seed);
                    auto random = [&engine]() { return static_cast<uint32_t>(engine()); };
                    MemoryEnv env;
                    const std::string path = MemoryEnv::kFolder + "/out";
                    auto memory_file = env.Open(path, OpenMode::kCreateNew);
                    WatchedFile file(memory_file.get(), PageSize(version));
                    PageSink sink(&file, path, version, 1u << 20, key, background);
                    const size_t ps = sink.page_size();
                    Model model;
                    std::vector<uint32_t> fresh;         // allocated, not yet given
                    std::vector<uint32_t> open;          // built in place, not committed
                    std::vector<uint8_t*> open_buffers;  // their buffers
                    std::set<uint32_t> given;            // pages whose image was given
                    // Held open across more pages than the window has slots.
                    auto fill = [&](uint32_t page, uint8_t* at) {
                        for (size_t i = 0; i < ps; ++i) at[i] = PatternByte(page, i);
                    };
                    const uint32_t held = sink.Allocate();
                    fill(held, sink.Buffer(held));
                    uint32_t from = 0;
                    while (sink.page_count() < 4000) {
                        const unsigned r = random() % 100;
                        if (r < 30 || fresh.empty()) {
                            const uint32_t n = 1 + random() % 6;
                            const uint32_t first = sink.Allocate(n);
                            for (uint32_t i = 0; i < n; ++i) fresh.push_back(first + i);
                        } else if (r < 55) {
                            const size_t k = random() % fresh.size();
                            const uint32_t page = fresh[k];
                            fresh.erase(fresh.begin() + static_cast<ptrdiff_t>(k));
                            uint8_t* at = sink.Buffer(page);
                            std::fill(at, at + ps, 0xEE);  // overwritten when committed
                            open.push_back(page);
                            open_buffers.push_back(at);
                        } else if (r < 75 && !open.empty()) {
                            const size_t k = random() % open.size();
                            fill(open[k], open_buffers[k]);
                            sink.Commit(open[k]);
                            model.Queue(open[k]);
                            given.insert(open[k]);
                            open.erase(open.begin() + static_cast<ptrdiff_t>(k));
                            open_buffers.erase(open_buffers.begin() + static_cast<ptrdiff_t>(k));
                        } else if (r < 97) {
                            // Mostly the newest page, now and then an old one.
                            const size_t k =
                                random() % 4 == 0 ? random() % fresh.size() : fresh.size() - 1;
                            const uint32_t page = fresh[k];
                            fresh.erase(fresh.begin() + static_cast<ptrdiff_t>(k));
                            Bytes image(ps);
                            fill(page, image.data());
                            if (random() % 2 == 0) {
                                sink.Write(page, image.data());
                            } else {
                                sink.Write(page, std::move(image));
                            }
                            model.Queue(page);
                            given.insert(page);
                        } else if (r < 99) {
                            sink.Flush();
                            model.Drain();
                            from = sink.InFileUpTo(from);
                            for (uint32_t p = 0; p < from; ++p) ASSERT_TRUE(model.in_file.count(p));
                        } else {  // while writes may be under way
                            from = sink.InFileUpTo(from);
                            ASSERT_TRUE(file.WrittenBelow(from)) << "up to page " << from;
                        }
                    }
                    for (size_t k = 0; k < open.size(); ++k) {
                        fill(open[k], open_buffers[k]);
                        sink.Commit(open[k]);
                        model.Queue(open[k]);
                        given.insert(open[k]);
                    }
                    sink.Commit(held);
                    model.Queue(held);
                    given.insert(held);
                    if (key != 0) {  // the sink writes the pages never given, encoded zeros
                        for (uint32_t p = 1; p < sink.page_count(); ++p)
                            if (!given.count(p)) model.Queue(p);
                    }
                    sink.Finish(false);
                    model.Drain();

                    std::vector<uint32_t> written;
                    for (const MemoryEnv::Write& w : env.writes) {
                        ASSERT_EQ(w.path, path);
                        ASSERT_EQ(w.offset % ps, 0u);
                        ASSERT_EQ(w.length % ps, 0u);
                        for (uint64_t p = w.offset / ps; p < (w.offset + w.length) / ps; ++p)
                            written.push_back(static_cast<uint32_t>(p));
                    }
                    EXPECT_TRUE(written == model.written);

                    const Blob& out = *env.files.at(path);
                    ASSERT_EQ(out.size(), size_t{sink.page_count()} * ps);
                    size_t wrong = 0;
                    for (uint32_t p = 0; p < sink.page_count(); ++p) {
                        Bytes expected(ps, 0);
                        if (given.count(p)) fill(p, expected.data());
                        CryptPage(key, p, expected);
                        if (!std::equal(expected.begin(), expected.end(), out.begin() + p * ps))
                            ++wrong;
                    }
                    EXPECT_EQ(wrong, 0u);
                }
            }
        }
    }
}

// A write that fails on the writing thread is raised by the call that next waits for the file,
// whichever write it was, and nothing waits for ever.
TEST(PageSink, AWriteThatFailsOnItsThreadIsRaisedByTheNextWait) {
    for (const uint64_t fail_at : {1u, 2u, 5u}) {
        MemoryEnv env;
        const std::string path = MemoryEnv::kFolder + "/out";
        auto memory_file = env.Open(path, OpenMode::kCreateNew);
        WatchedFile file(memory_file.get(), PageSize(Version::kJet4));
        file.fail_at = fail_at;
        PageSink sink(&file, path, Version::kJet4, 1u << 20, 0, true);
        int number = 0;
        try {
            for (uint32_t i = 0; i < 8 * kDrainPages; ++i) {
                const uint32_t page = sink.Allocate(i % 3 == 0 ? 2 : 1);
                sink.Write(page, Bytes(sink.page_size(), static_cast<uint8_t>(i)));
            }
            sink.Finish(false);
        } catch (const JetError& e) {
            number = e.number();
        }
        EXPECT_EQ(number, kDiskFull) << "write " << fail_at;
    }
}

}  // namespace
}  // namespace jet
