// Opening a database as DAO does: the lock file between real processes (jetutil hold as the
// other user), exclusive holders, the error numbers of a failed open or statement, and that a
// failed statement writes nothing.
#include "jet/database/database.h"

#include <gtest/gtest.h>

#include <fstream>

#include <cerrno>
#include <functional>

#include "jet/base/error.h"
#include "jet/database/lock_file.h"
#include "jet/write/new_database.h"
#include "tests/support/files.h"
#include "tests/support/oracles.h"
#include "tests/support/process.h"
#include "tests/support/samples.h"
#include "tests/support/temp_dir.h"

namespace {

using jet::testkit::Child;
using jet::testkit::TempDir;
namespace fs = std::filesystem;

// A Jet 3 database with Table1: A, B (indexed) Text, C Byte, D Integer, E Long, F Double,
// G Date, H Currency, I Boolean; two rows.
void WriteSample(const std::string& path) {
    using jet::ColumnType;
    jet::NewTable t;
    t.def.name = "Table1";
    t.def.columns = {
        jet::NewColumn("A", ColumnType::kText, 50), jet::NewColumn("B", ColumnType::kText, 50),
        jet::NewColumn("C", ColumnType::kByte),     jet::NewColumn("D", ColumnType::kInteger),
        jet::NewColumn("E", ColumnType::kLong),     jet::NewColumn("F", ColumnType::kDouble),
        jet::NewColumn("G", ColumnType::kDateTime), jet::NewColumn("H", ColumnType::kCurrency),
        jet::NewColumn("I", ColumnType::kBoolean)};
    jet::AddIndex(t.def, "B", {"B"});
    t.rows = {{std::u16string(u"a"), std::u16string(u"b"), int64_t{0}, int64_t{0}, int64_t{0}, 0.0,
               29932.0, int64_t{0}, false},
              {std::u16string(u"abcdefg"), std::u16string(u"hijklmnop"), int64_t{2}, int64_t{222},
               int64_t{333333333}, 444.555, 27293.0, int64_t{35000}, true}};
    jet::testkit::CreateOneTable(path, std::move(t), jet::Version::kJet3);
}

int ErrorOf(const std::function<void()>& f, std::string* text = nullptr) {
    try {
        f();
    } catch (const jet::JetError& e) {
        if (text) *text = e.what();
        return e.number();
    }
    return 0;
}

// Fails every open of a path ending in `suffix` with `error`, passes the rest on.
class FailingOpenEnv final : public jet::EnvWrapper {
  public:
    FailingOpenEnv(std::string suffix, int error)
        : EnvWrapper(jet::Env::Default()), suffix_(std::move(suffix)), error_(error) {}
    std::unique_ptr<jet::File> Open(const std::string& path, jet::OpenMode mode) override {
        if (path.size() >= suffix_.size() &&
            path.compare(path.size() - suffix_.size(), suffix_.size(), suffix_) == 0)
            throw jet::OsError(error_, "open", path);
        return EnvWrapper::Open(path, mode);
    }

  private:
    std::string suffix_;
    int error_;
};

class DatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_ / "Banco.mdb";
        ldb_ = dir_ / "Banco.ldb";
        WriteSample(path_);
    }
    jet::Env* env() { return jet::Env::Default(); }
    std::unique_ptr<Child> Hold(std::vector<std::string> flags = {}) {
        std::vector<std::string> argv = {jet::testkit::JetutilPath(), "hold"};
        argv.insert(argv.end(), flags.begin(), flags.end());
        argv.push_back(path_);
        return std::make_unique<Child>(argv);
    }

    TempDir dir_;
    std::string path_;
    std::string ldb_;
};

TEST_F(DatabaseTest, SharedOpensRegisterInTheLockFileAndTheLastCloseRemovesIt) {
    auto a = jet::Database::Open(env(), path_);
    ASSERT_TRUE(fs::exists(ldb_));
    EXPECT_EQ(a->user_slot(), 1);
    auto users = jet::ReadLockFileUsers(env(), ldb_);
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].computer, env()->HostName());
    EXPECT_EQ(users[0].user, "Admin");
    EXPECT_TRUE(users[0].live);

    auto b = jet::Database::Open(env(), path_);  // a second user in the same process
    EXPECT_EQ(b->user_slot(), 2);
    EXPECT_EQ(b->Execute("update Table1 set I = True"), 2);  // while a is in
    a->Close();
    EXPECT_FALSE(a->is_open());
    ASSERT_TRUE(fs::exists(ldb_)) << "b is still in";
    EXPECT_EQ(jet::LiveLockFileUsers(env(), ldb_).size(), 1u);
    a->Close();  // closing twice does nothing
    b.reset();   // the destructor closes
    EXPECT_FALSE(fs::exists(ldb_));
}

TEST_F(DatabaseTest, AnotherProcessInTheDatabaseIsListedAndLiveUntilItDies) {
    auto holder = Hold();
    ASSERT_EQ(holder->ReadLine(), "open shared slot 1");
    ASSERT_TRUE(fs::exists(ldb_));
    EXPECT_TRUE(jet::LockFileInUse(env(), ldb_));

    jet::testkit::Output listed =
        jet::testkit::Run(jet::testkit::JetutilCommand() + " users " + jet::testkit::Quote(ldb_));
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.text.find("1\t" + env()->HostName() + "\tAdmin\tlive"), std::string::npos)
        << listed.text;
    EXPECT_EQ(jet::testkit::Run(jet::testkit::JetutilCommand() + " users --live " +
                                jet::testkit::Quote(path_))
                  .text,
              env()->HostName() + "\n");

    // We join it, update while the other process is in, and cannot take it exclusively.
    auto db = jet::Database::Open(env(), path_);
    EXPECT_EQ(db->user_slot(), 2);
    EXPECT_EQ(db->Execute("update Table1 set D = -1"), 2);
    jet::DatabaseOptions exclusive;
    exclusive.exclusive = true;
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(env(), path_, exclusive); }), jet::kFileInUse);

    holder->Signal(SIGKILL);
    EXPECT_EQ(holder->Wait(), -SIGKILL);
    auto users = jet::ReadLockFileUsers(env(), ldb_);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_FALSE(users[0].live) << "a killed user's slot is not live";
    EXPECT_TRUE(users[1].live);
    EXPECT_TRUE(jet::LockFileInUse(env(), ldb_));  // we are still in
    db->Close();
    EXPECT_FALSE(fs::exists(ldb_)) << "a stale slot does not keep the lock file";
}

TEST_F(DatabaseTest, AKilledHolderLeavesAStaleLockFileThatIsNotInUse) {
    auto holder = Hold();
    ASSERT_EQ(holder->ReadLine(), "open shared slot 1");
    holder->Signal(SIGKILL);
    holder->Wait();
    ASSERT_TRUE(fs::exists(ldb_));
    EXPECT_FALSE(jet::LockFileInUse(env(), ldb_));
    EXPECT_TRUE(jet::LiveLockFileUsers(env(), ldb_).empty());
    EXPECT_NE(
        jet::testkit::Run(jet::testkit::JetutilCommand() + " users " + jet::testkit::Quote(ldb_))
            .text.find("stale"),
        std::string::npos);

    auto db = jet::Database::Open(env(), path_);  // the slot is free again
    EXPECT_EQ(db->user_slot(), 1);
    db->Close();
    EXPECT_FALSE(fs::exists(ldb_));
}

TEST_F(DatabaseTest, AHolderEndedBySignalOrEndOfInputClosesProperly) {
    std::unique_ptr<Child> holder;
#ifndef _WIN32  // Windows has no signal to end a holder with; only the end of input
    holder = Hold();
    ASSERT_EQ(holder->ReadLine(), "open shared slot 1");
    holder->Signal(SIGTERM);
    EXPECT_EQ(holder->ReadLine(), "closed");
    EXPECT_EQ(holder->Wait(), 0);
    EXPECT_FALSE(fs::exists(ldb_));
#endif

    holder = Hold();
    ASSERT_EQ(holder->ReadLine(), "open shared slot 1");
    holder->CloseStdin();
    EXPECT_EQ(holder->ReadLine(), "closed");
    EXPECT_EQ(holder->Wait(), 0);
    EXPECT_FALSE(fs::exists(ldb_));
}

TEST_F(DatabaseTest, AnExclusiveHolderKeepsEveryoneElseOut) {
    auto holder = Hold({"--exclusive"});
    ASSERT_EQ(holder->ReadLine(), "open exclusive");
    EXPECT_FALSE(fs::exists(ldb_)) << "an exclusive open does not use the lock file";
    std::string text;
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(env(), path_); }, &text), jet::kFileInUse);
    EXPECT_NE(text.find(path_), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(ldb_)) << "a refused open leaves no lock file";
    jet::DatabaseOptions exclusive;
    exclusive.exclusive = true;
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(env(), path_, exclusive); }), jet::kFileInUse);

    holder->CloseStdin();
    EXPECT_EQ(holder->ReadLine(), "closed");
    holder->Wait();
    auto db = jet::Database::Open(env(), path_, exclusive);
    EXPECT_EQ(db->user_slot(), 0);
    EXPECT_EQ(db->Execute("update Table1 set C = 9"), 2);
    // A shared opener meets our exclusive lock.
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(env(), path_); }), jet::kFileInUse);
}

TEST_F(DatabaseTest, FailedOpensGiveJetsNumbers) {
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(env(), dir_ / "missing.mdb"); }),
              jet::kFileNotFound);
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(env(), dir_ / "no/such/folder.mdb"); }),
              jet::kNotValidPath);
    {
        std::ofstream text(dir_ / "text.mdb");
        text << "not a database\n";
    }
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(env(), dir_ / "text.mdb"); }),
              jet::kUnrecognizedFormat);
    EXPECT_FALSE(fs::exists(dir_ / "text.ldb"));

    // A read-only database file, a folder where the lock file cannot be created, a full disk.
    FailingOpenEnv read_only_file(".mdb", EACCES);
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(&read_only_file, path_); }), jet::kCannotOpenFile);
    FailingOpenEnv read_only_folder(".ldb", EACCES);
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(&read_only_folder, path_); }),
              jet::kCouldNotLockFile);
    FailingOpenEnv read_only_fs(".ldb", EROFS);
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(&read_only_fs, path_); }), jet::kCouldNotLockFile);
    FailingOpenEnv full(".ldb", ENOSPC);
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(&full, path_); }), jet::kDiskFull);
    EXPECT_FALSE(fs::exists(ldb_));

    // A Jet 3 file at its maximum size (1 GB) can take no more pages.
    std::string big = dir_ / "big.mdb";
    fs::copy_file(path_, big);
    // Through the Env: MinGW's std::filesystem::resize_file refuses this size.
    env()->Open(big, jet::OpenMode::kReadWrite)->Truncate(uint64_t{1} << 30);
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(env(), big); }), jet::kDatabaseFull);

    // The database still opens after all that.
    EXPECT_EQ(ErrorOf([&] { jet::Database::Open(env(), path_); }), 0);
}

TEST_F(DatabaseTest, FailedStatementsGiveJetsNumbersAndWriteNothing) {
    const auto original = jet::testkit::ReadAll(path_);
    auto db = jet::Database::Open(env(), path_);
    struct Case {
        const char* sql;
        int error;
        const char* text;  // part of the message, or null
    } cases[] = {
        {"update tavo set bloqueado = -1", jet::kInputTableNotFound, "'tavo'"},
        {"update Table1 set bloqueado = -1", jet::kTooFewParameters, "Expected 1."},
        {"update Table1 set bloqueado = xyz", jet::kTooFewParameters, "Expected 2."},
        {"update Table1 set D = xyz", jet::kTooFewParameters, "Expected 1."},
        {"update Table1 set Table2.D = 1", jet::kTooFewParameters, "Expected 1."},
        {"update Table1 set D = 1 where E = 2", jet::kUpdateSyntax, nullptr},
        {"update Table1 set D", jet::kUpdateSyntax, nullptr},
        {"update Table1 set D = 40000", jet::kNumericOverflow, nullptr},
        {"update Table1 set C = -1", jet::kNumericOverflow, nullptr},
        {"update Table1 set A = 1.5", jet::kUpdateSyntax, nullptr},
        {"update Table1 set B = 1", jet::kInvalidOperation, "index"},
        {"update MSysObjects set Flags = 0", jet::kReadOnly, nullptr},
    };
    for (const Case& c : cases) {
        std::string text;
        EXPECT_EQ(ErrorOf([&] { db->Execute(c.sql); }, &text), c.error) << c.sql;
        if (c.text) {
            EXPECT_NE(text.find(c.text), std::string::npos) << c.sql << ": " << text;
        }
    }
    db->Close();
    EXPECT_EQ(jet::testkit::ReadAll(path_), original) << "a failed statement wrote to the file";
    EXPECT_EQ(ErrorOf([&] { db->Execute("update Table1 set D = 1"); }), jet::kObjectInvalid);

    jet::DatabaseOptions read_only;
    read_only.read_only = true;
    auto reader = jet::Database::Open(env(), path_, read_only);
    EXPECT_EQ(ErrorOf([&] { reader->Execute("update Table1 set D = 1"); }), jet::kReadOnly);
    reader->Close();
    EXPECT_EQ(jet::testkit::ReadAll(path_), original);
}

TEST_F(DatabaseTest, AStatementWaitsForAnotherWriterThenGivesUp) {
    const auto original = jet::testkit::ReadAll(path_);
    auto other = env()->Open(path_, jet::OpenMode::kReadWrite);
    ASSERT_TRUE(other->TryLock(jet::kWriteGateOffset, 1, true));  // a writer at work
    jet::DatabaseOptions options;
    options.lock_wait_ms = 50;
    auto db = jet::Database::Open(env(), path_, options);
    EXPECT_EQ(ErrorOf([&] { db->Execute("update Table1 set D = 3"); }), jet::kCouldNotUpdateLocked);
    EXPECT_EQ(jet::testkit::ReadAll(path_), original);
    other->Unlock(jet::kWriteGateOffset, 1);
    EXPECT_EQ(db->Execute("update Table1 set D = 3"), 2);
    EXPECT_FALSE(other->IsLockedByOther(jet::kWriteGateOffset, 1))
        << "released after the statement";
}

TEST_F(DatabaseTest, NamesMatchWithoutRegardToCase) {
    auto db = jet::Database::Open(env(), path_);
    EXPECT_EQ(db->Execute("UPDATE [TABLE1] SET table1.[d] = 5;"), 2);
    EXPECT_EQ(db->Execute("update table1 set e = -5"), 2);
    db->Close();
    if (!jet::testkit::HaveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    for (const auto& v : jet::testkit::ExportColumn(path_, "Table1", "D")) EXPECT_EQ(v, "5");
    for (const auto& v : jet::testkit::ExportColumn(path_, "Table1", "E")) EXPECT_EQ(v, "-5");
}

TEST_F(DatabaseTest, JetutilExecRunsAStatement) {
    std::string exec = jet::testkit::JetutilCommand() + " exec " + jet::testkit::Quote(path_) + " ";
    jet::testkit::Output ok =
        jet::testkit::Run(exec + jet::testkit::Quote("update Table1 set I = -1"));
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.text, "2 rows updated\n");
    jet::testkit::Output bad =
        jet::testkit::Run(exec + jet::testkit::Quote("update tavo set bloqueado = 0") + " 2>&1");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.text.find("error 3078"), std::string::npos) << bad.text;
    EXPECT_FALSE(fs::exists(ldb_));
}

}  // namespace
