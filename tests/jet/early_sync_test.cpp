// The early syncs of a rebuild's output: every call of the writer reaches the check behind it
// unchanged and in order whether or not syncs run; a failed sync fails the rebuild (the final
// sync, through a handle opened later, may not hear of it); a file that cannot be opened for it
// is left to the final sync.
#include "jet/rebuild/early_sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "jet/base/env.h"
#include "jet/format/schema.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

class Recorder final : public WriteObserver {
  public:
    void TableBegun(const TableDef& def) override { calls.push_back("begun " + def.name); }
    void DataPagesWritten(const std::vector<uint32_t>& pages, uint32_t readable) override {
        calls.push_back("pages " + std::to_string(pages.front()) + " " + std::to_string(readable));
    }
    void RowsWritten(const TableDef& def, const std::vector<std::vector<uint32_t>>&,
                     uint32_t readable) override {
        calls.push_back("rows " + def.name + " " + std::to_string(readable));
    }
    void IndexWritten(size_t number, const RealIndexDef&, uint32_t readable) override {
        calls.push_back("index " + std::to_string(number) + " " + std::to_string(readable));
    }
    void TableWritten(const TableDef& def) override { calls.push_back("written " + def.name); }
    std::vector<std::string> calls;
};

// A table of `pages` data pages written one by one, then its rows and one index, through
// `sync`: 4 + `pages` calls.
void WriteTable(EarlySync& sync, uint32_t pages) {
    TableDef def;
    def.name = "t";
    sync.TableBegun(def);
    for (uint32_t p = 1; p <= pages; ++p) sync.DataPagesWritten({p}, p + 1);
    sync.RowsWritten(def, {}, pages + 1);
    sync.IndexWritten(0, RealIndexDef{}, pages + 2);
    sync.TableWritten(def);
}

// Counts the opens and syncs made through it, from any thread; can fail the first of either.
class SyncEnv final : public EnvWrapper {
  public:
    SyncEnv(bool threads, int fail_open, int fail_sync)
        : EnvWrapper(Env::Default()),
          threads_(threads),
          fail_open_(fail_open),
          fail_sync_(fail_sync) {}
    bool AllowsThreads() const override { return threads_; }
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
        ++operations;
        if (fail_open_ != 0) throw OsError(fail_open_, "open", path);
        return std::make_unique<SyncedFile>(this, EnvWrapper::Open(path, mode));
    }
    // Waits a while at most for `n` operations.
    bool WaitFor(int n) const {
        for (int i = 0; i < 2000 && operations < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return operations >= n;
    }
    std::atomic<int> operations{0};

  private:
    class SyncedFile final : public FileWrapper {
      public:
        SyncedFile(SyncEnv* env, std::unique_ptr<File> file)
            : FileWrapper(std::move(file)), env_(env) {}
        void Sync() override {
            ++env_->operations;
            if (env_->fail_sync_ != 0) throw OsError(env_->fail_sync_, "sync", "out.mdb");
            FileWrapper::Sync();
        }

      private:
        SyncEnv* env_;
    };
    bool threads_;
    int fail_open_, fail_sync_;
};

TEST(EarlySync, PassesEverythingOnSyncsAsItGoesAndRaisesAFailedSync) {
    testkit::TempDir dir;
    const std::string path = dir / "out.mdb";
    testkit::WriteAll(path, Bytes(64 * 4096, 0));
    std::vector<std::string> expected;
    {
        Recorder plain;
        SyncEnv env(false, 0, 0);
        EarlySync sync(&env, &plain, 4096, false, 4096);
        sync.Attach(path);
        WriteTable(sync, 40);
        sync.LetGo();
        EXPECT_EQ(env.operations, 0);  // without a thread nothing is synced early
        expected = plain.calls;
        ASSERT_EQ(expected.size(), 44u);
    }
    // With a thread: an open, then syncs, never more than were asked for, and the same calls.
    {
        Recorder next;
        SyncEnv env(true, 0, 0);
        EarlySync sync(&env, &next, 4096, true, 4 * 4096);
        sync.Attach(path);
        WriteTable(sync, 40);
        EXPECT_TRUE(env.WaitFor(2)) << "no sync after 40 pages";
        sync.LetGo();
        EXPECT_LE(env.operations, 1 + 10);
        EXPECT_EQ(next.calls, expected);
    }
    // A sync that fails is raised, as what it was; a file that cannot be opened is not.
    for (const bool open_fails : {false, true}) {
        SCOPED_TRACE(open_fails ? "the open fails" : "the first sync fails");
        Recorder next;
        SyncEnv env(true, open_fails ? EACCES : 0, open_fails ? 0 : EIO);
        EarlySync sync(&env, &next, 4096, true, 4096);
        sync.Attach(path);
        WriteTable(sync, 2);
        ASSERT_TRUE(env.WaitFor(open_fails ? 1 : 2));
        WriteTable(sync, 2);
        if (open_fails) {
            EXPECT_NO_THROW(sync.LetGo());
            EXPECT_EQ(env.operations, 1);  // no other try
        } else {
            try {
                sync.LetGo();
                FAIL() << "a failed sync went unreported";
            } catch (const OsError& e) {
                EXPECT_EQ(e.code(), EIO);
            }
        }
        EXPECT_EQ(next.calls.size(), 2 * 6u);
    }
}

}  // namespace
}  // namespace jet
