// The lock file: record format, slots between opens and between processes, liveness after a
// holder dies, deletion by the last user, and the errors of a failed create.
#include "jet/database/lock_file.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "jet/base/error.h"
#include "jet/base/path.h"
#include "jet/testing/fault_env.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class LockFileTest : public ::testing::Test {
  protected:
    jet::Env* env() { return jet::Env::Default(); }

    jet::testkit::TempDir dir_;
    std::string ldb_ = dir_ / "Tavo.ldb";
};

#ifndef _WIN32
// A child process that joins the lock file, reports its slot through a pipe and then waits
// until its stdin-like pipe closes or it is killed. It is a fork of this process, which
// Windows cannot make: there the database tests' holders (jetutil hold, a process of its own)
// show another process's slot live and a killed one's stale.
class Holder {
  public:
    explicit Holder(const std::string& ldb) {
        int ready[2], hold[2];
        if (::pipe(ready) != 0 || ::pipe(hold) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(hold[1]);
            int slot = 0;
            try {
                auto lock = jet::LockFile::Join(jet::Env::Default(), ldb, "child-host", "Admin");
                slot = lock->slot();
                char byte = static_cast<char>(slot);
                if (::write(ready[1], &byte, 1) != 1) ::_exit(3);
                char sink;
                while (::read(hold[0], &sink, 1) > 0) {
                }
                lock->Leave();
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(hold[0]);
        hold_ = hold[1];
        char byte = 0;
        if (::read(ready[0], &byte, 1) == 1) slot_ = static_cast<unsigned char>(byte);
        ::close(ready[0]);
    }
    ~Holder() {
        if (pid_ > 0) Kill();
    }
    int slot() const { return slot_; }
    // Lets the child leave the lock file normally and waits for it.
    int Release() {
        ::close(hold_);
        return Wait();
    }
    void Kill() {
        ::kill(pid_, SIGKILL);
        ::close(hold_);
        Wait();
    }

  private:
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_t pid_ = -1;
    int hold_ = -1;
    int slot_ = 0;
};
#endif

TEST(LockFilePath, ReplacesTheLastFourCharacters) {
    EXPECT_EQ(jet::LockFilePath("/data/Tavo.mdb"), "/data/Tavo.ldb");
    EXPECT_EQ(jet::LockFilePath("/data/BANCO.MDB"), "/data/BANCO.ldb");
    EXPECT_EQ(jet::LockFilePath("/data/x.accdb"), "/data/x.a.ldb");  // four characters, always
    EXPECT_EQ(jet::LockFilePath("abc"), "abc.ldb");
}

TEST(LockRecord, NamesAreCutPaddedAndReadBack) {
    jet::Bytes record = jet::EncodeLockRecord("ESTACAO-01", "Admin");
    ASSERT_EQ(record.size(), 64u);
    EXPECT_EQ(std::string(record.begin(), record.begin() + 11), std::string("ESTACAO-01\0", 11));
    EXPECT_EQ(record[11], ' ');
    EXPECT_EQ(record[31], ' ');
    EXPECT_EQ(std::string(record.begin() + 32, record.begin() + 38), std::string("Admin\0", 6));
    EXPECT_EQ(record[63], ' ');

    std::string long_name(40, 'N');
    jet::Bytes cut = jet::EncodeLockRecord(long_name, "Admin");
    EXPECT_EQ(cut[30], 'N');
    EXPECT_EQ(cut[31], 0);  // 31 bytes of name and the NUL fill the field
    jet::LockFileUser user = jet::DecodeLockRecord(cut, 7);
    EXPECT_EQ(user.slot, 7);
    EXPECT_EQ(user.computer, std::string(31, 'N'));
    EXPECT_EQ(user.user, "Admin");

    // Zero padding after the NUL (seen in a Jet 3 era file) and a code page 1252 machine name.
    jet::Bytes zero_padded(64, 0);
    const char name[] = "S\xC3O";  // "SÃO" in code page 1252
    std::copy(name, name + 3, zero_padded.begin());
    std::copy_n("Admin", 5, zero_padded.begin() + 32);
    user = jet::DecodeLockRecord(zero_padded, 1);
    EXPECT_EQ(user.computer, "S\xC3\x83O");  // UTF-8
    EXPECT_EQ(user.user, "Admin");
    EXPECT_EQ(jet::EncodeLockRecord(user.computer, "Admin")[1], 0xC3);
    EXPECT_EQ(jet::EncodeLockRecord("caf\xE2\x82\xAC", "Admin")[3], 0x80);  // the euro sign
    EXPECT_EQ(jet::EncodeLockRecord("\xE4\xB8\xAD", "Admin")[0], '?');      // not in 1252
}

TEST_F(LockFileTest, OpensInOneProcessTakeSeparateSlotsAndTheLastDeletesTheFile) {
    auto a = jet::LockFile::Join(env(), ldb_, "host-a");
    auto b = jet::LockFile::Join(env(), ldb_, "host-b");
    EXPECT_EQ(a->slot(), 1);
    EXPECT_EQ(b->slot(), 2);
    EXPECT_EQ(fs::file_size(ldb_), 128u);
    EXPECT_TRUE(jet::LockFileInUse(env(), ldb_));
    if (jet::kOpenFilesBlockReplacement) {
        // Windows itself refuses to delete a lock file in use.
        EXPECT_THROW(env()->Remove(ldb_), jet::OsError);
    }

    auto users = jet::ReadLockFileUsers(env(), ldb_);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].computer, "host-a");
    EXPECT_TRUE(users[0].live);
    EXPECT_EQ(users[1].computer, "host-b");
    EXPECT_TRUE(users[1].live);

    a->Leave();
    ASSERT_TRUE(fs::exists(ldb_)) << "b is still in";
    users = jet::ReadLockFileUsers(env(), ldb_);
    ASSERT_EQ(users.size(), 2u);  // a's record stays, as Jet leaves it
    EXPECT_FALSE(users[0].live);
    EXPECT_TRUE(users[1].live);
    ASSERT_EQ(jet::LiveLockFileUsers(env(), ldb_).size(), 1u);
    EXPECT_EQ(b->Users().size(), 2u);

    // A new user reuses the freed slot and overwrites its record.
    auto c = jet::LockFile::Join(env(), ldb_, "host-c");
    EXPECT_EQ(c->slot(), 1);
    EXPECT_EQ(jet::ReadLockFileUsers(env(), ldb_)[0].computer, "host-c");
    c.reset();
    b->Leave();
    EXPECT_FALSE(fs::exists(ldb_));
    EXPECT_FALSE(jet::LockFileInUse(env(), ldb_));
    EXPECT_TRUE(jet::ReadLockFileUsers(env(), ldb_).empty());
    b->Leave();  // twice is harmless
}

#ifndef _WIN32  // a Holder is a fork
TEST_F(LockFileTest, AnotherProcessHoldingItsSlotIsLiveUntilItDiesEvenByKill) {
    Holder child(ldb_);
    ASSERT_EQ(child.slot(), 1);
    ASSERT_TRUE(fs::exists(ldb_));
    EXPECT_TRUE(jet::LockFileInUse(env(), ldb_));
    auto live = jet::LiveLockFileUsers(env(), ldb_);
    ASSERT_EQ(live.size(), 1u);
    EXPECT_EQ(live[0].computer, "child-host");
    EXPECT_EQ(live[0].user, "Admin");

    auto us = jet::LockFile::Join(env(), ldb_, "parent-host");
    EXPECT_EQ(us->slot(), 2);

    child.Kill();  // SIGKILL: no chance to clean up
    auto users = jet::ReadLockFileUsers(env(), ldb_);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_FALSE(users[0].live) << "a killed holder's slot must read as stale";
    EXPECT_TRUE(users[1].live);

    us->Leave();  // the last live user removes the file despite the stale record
    EXPECT_FALSE(fs::exists(ldb_));
}

TEST_F(LockFileTest, AStaleFileLeftByAKilledHolderIsNotInUseAndIsReused) {
    {
        Holder child(ldb_);
        ASSERT_EQ(child.slot(), 1);
        child.Kill();
    }
    ASSERT_TRUE(fs::exists(ldb_));
    EXPECT_FALSE(jet::LockFileInUse(env(), ldb_));
    EXPECT_TRUE(jet::LiveLockFileUsers(env(), ldb_).empty());
    EXPECT_EQ(jet::ReadLockFileUsers(env(), ldb_).size(), 1u);

    auto us = jet::LockFile::Join(env(), ldb_, "parent-host");
    EXPECT_EQ(us->slot(), 1);
    us->Leave();
    EXPECT_FALSE(fs::exists(ldb_));
}

TEST_F(LockFileTest, AChildThatLeavesNormallyDeletesTheFile) {
    Holder child(ldb_);
    ASSERT_EQ(child.slot(), 1);
    EXPECT_EQ(child.Release(), 0);
    EXPECT_FALSE(fs::exists(ldb_));
}
#endif

TEST_F(LockFileTest, AllSlotsTakenGivesCouldNotLockFile) {
    std::vector<std::unique_ptr<jet::LockFile>> users;
    for (int i = 0; i < jet::kMaxLockUsers; ++i)
        users.push_back(jet::LockFile::Join(env(), ldb_, "h" + std::to_string(i)));
    EXPECT_EQ(users.back()->slot(), 255);
    EXPECT_EQ(fs::file_size(ldb_), 255u * 64u);
    try {
        jet::LockFile::Join(env(), ldb_, "one-too-many");
        FAIL() << "a 256th user must be refused";
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), jet::kCouldNotLockFile);
    }
}

TEST_F(LockFileTest, CreateFailuresGiveDiskFullOrCouldNotLock) {
    struct Case {
        uint64_t operation;  // 1 = create, 2 = writing the record
        int error;
        int expected;
    } cases[] = {
        {1, ENOSPC, jet::kDiskFull},         {2, ENOSPC, jet::kDiskFull},
        {1, EACCES, jet::kCouldNotLockFile}, {1, EROFS, jet::kCouldNotLockFile},
#ifdef EDQUOT
        {1, EDQUOT, jet::kDiskFull},
#endif
    };
    for (const Case& c : cases) {
        jet::FaultInjectingEnv faulty(env());
        faulty.FailAt(c.operation, c.error);
        try {
            jet::LockFile::Join(&faulty, ldb_, "host");
            ADD_FAILURE() << "operation " << c.operation << " errno " << c.error;
        } catch (const jet::JetError& e) {
            EXPECT_EQ(e.number(), c.expected) << "operation " << c.operation;
        }
        EXPECT_TRUE(faulty.fired());
        EXPECT_FALSE(fs::exists(ldb_)) << "a failed join leaves no lock file behind";
    }
}

TEST_F(LockFileTest, ReadingIsBoundedAndTolerantOfGarbage) {
    {
        std::ofstream out(ldb_, std::ios::binary);
        for (int i = 0; i < 20000; ++i) out.put(static_cast<char>((i * 131) & 0xFF));
        out.put('x');  // a partial record at the end
    }
    auto users = jet::ReadLockFileUsers(env(), ldb_);
    EXPECT_LE(users.size(), 255u);
    for (const auto& u : users) EXPECT_FALSE(u.live);
    EXPECT_FALSE(jet::LockFileInUse(env(), ldb_));
    EXPECT_FALSE(jet::LockFileInUse(env(), dir_.str()));  // a folder
    EXPECT_FALSE(jet::LockFileInUse(env(), dir_ / "missing.ldb"));
}

}  // namespace
