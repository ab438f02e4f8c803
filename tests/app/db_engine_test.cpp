// The engine interface on real files: its three numbers, each produced by its real condition
// (a file that is not Jet, a file at its version's maximum size, a full disk when the lock file
// is created), the life of a database object, and the lock-file user library's buffer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "dao/dbengine.h"
#include "dao/ldb_users.h"
#include "jet/base/error.h"
#include "jet/database/lock_file.h"
#include "jet/testing/fault_env.h"
#include "tests/app/db_test_util.h"

namespace {

namespace fs = std::filesystem;
using jet::testkit::TempDir;

// The number of the JetError `call` raises; 0 when it raises none.
template <class Call>
int NumberOf(Call&& call) {
    try {
        call();
    } catch (const jet::JetError& e) {
        return e.number();
    }
    return 0;
}

dao::Workspace& Default() {
    static dao::DBEngine engine(jet::Env::Default());
    return engine.Workspaces(0);
}

TEST(DBEngine, OnlyTheDefaultWorkspaceOverTheEnvItWasMadeWith) {
    jet::FaultInjectingEnv env(jet::Env::Default());
    dao::DBEngine engine(&env);
    EXPECT_EQ(engine.env(), &env);
    EXPECT_EQ(&engine.Workspaces(0), &engine.Workspaces(0));
    EXPECT_EQ(NumberOf([&] { engine.Workspaces(1); }), jet::kItemNotFound);
    EXPECT_EQ(NumberOf([&] { engine.Workspaces(-1); }), jet::kItemNotFound);
}

TEST(DBEngine, OpensSharedReadWriteAndCloseReleasesTheLockFile) {
    TempDir dir;
    std::string path = dir / "base.mdb";
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, path);
    std::string ldb = jet::LockFilePath(path);

    std::shared_ptr<dao::Database> db = Default().OpenDatabase(path);
    EXPECT_EQ(db->Name(), path);
    EXPECT_TRUE(db->IsOpen());
    EXPECT_TRUE(jet::LockFileInUse(jet::Env::Default(), ldb)) << "shared: a slot in the .ldb";
    // Shared: a second opener gets in beside the first.
    std::shared_ptr<dao::Database> other = Default().OpenDatabase(path);
    EXPECT_EQ(jet::LiveLockFileUsers(jet::Env::Default(), ldb).size(), 2u);
    other->Close();
    db->Close();
    EXPECT_FALSE(db->IsOpen());
    EXPECT_FALSE(fs::exists(ldb)) << "the last user out deletes the lock file";

    // A closed database is an invalid object.
    EXPECT_EQ(NumberOf([&] { db->Close(); }), jet::kObjectInvalid);
    EXPECT_EQ(NumberOf([&] { db->Execute("update pedidos set quantidade = 1"); }),
              jet::kObjectInvalid);
}

TEST(DBEngine, DroppingAnOpenDatabaseClosesIt) {
    TempDir dir;
    std::string path = dir / "base.mdb";
    COPY_TEST_FILE_OR_SKIP(apptest::kJet3File, path);
    Default().OpenDatabase(path);  // the object goes at once
    EXPECT_FALSE(fs::exists(jet::LockFilePath(path)));
}

TEST(DBEngine, ExecuteReachesTheEngineAndItsErrorsKeepTheirNumbers) {
    TempDir dir;
    std::string path = dir / "base.mdb";
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, path);
    std::shared_ptr<dao::Database> db = Default().OpenDatabase(path);
    EXPECT_EQ(NumberOf([&] { db->Execute("update tavo set bloqueado = -1"); }),
              jet::kInputTableNotFound);
    EXPECT_EQ(NumberOf([&] { db->Execute("update pedidos set nada = -1"); }),
              jet::kTooFewParameters);
    EXPECT_EQ(NumberOf([&] { db->Execute("delete from pedidos"); }), jet::kUpdateSyntax);
    EXPECT_TRUE(db->IsOpen()) << "a failed statement leaves the database open";
    db->Close();
}

TEST(DBEngine, AFileThatIsNotJetIs3343) {
    TempDir dir;
    for (const std::string& bytes :
         {std::string(), std::string("Este arquivo é texto, não um banco de dados.\r\n"),
          std::string(4096, '\0')}) {
        std::string path = dir / "texto.mdb";
        std::ofstream(path, std::ios::binary) << bytes;
        try {
            Default().OpenDatabase(path);
            ADD_FAILURE() << "opened " << bytes.size() << " bytes";
        } catch (const jet::JetError& e) {
            EXPECT_EQ(e.number(), jet::kUnrecognizedFormat);
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_FALSE(fs::exists(dir / "texto.ldb"));
    }
}

TEST(DBEngine, AFileAtItsVersionsMaximumSizeIs3036) {
    TempDir dir;
    struct Case {
        const char* file;
        uintmax_t limit;
    };
    for (Case c : {Case{apptest::kJet3File, uintmax_t{1} << 30},
                   Case{apptest::kJet4File, uintmax_t{1} << 31}}) {
        std::string path = dir / "cheio.mdb";
        COPY_TEST_FILE_OR_SKIP(c.file, path);
        // Sparse: the pages past the real ones are holes.
        fs::resize_file(path, c.limit - 2048);
        EXPECT_EQ(NumberOf([&] { Default().OpenDatabase(path)->Close(); }), 0)
            << c.file << " just below the limit still opens";
        fs::resize_file(path, c.limit);
        EXPECT_EQ(NumberOf([&] { Default().OpenDatabase(path); }), jet::kDatabaseFull) << c.file;
        EXPECT_FALSE(fs::exists(dir / "cheio.ldb"));
    }
}

TEST(DBEngine, AFullDiskWhenTheLockFileIsCreatedIs61) {
    TempDir dir;
    std::string path = dir / "base.mdb";
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, path);
    apptest::OpenRecorder recorder(jet::Env::Default());
    jet::FaultInjectingEnv env(&recorder);
    recorder.CountWith(&env);

    dao::DBEngine engine(&env);
    engine.Workspaces(0).OpenDatabase(path)->Close();
    uint64_t creation = recorder.FirstOpenOf(".ldb");
    ASSERT_GT(creation, 0u);

    env.Reset();
    env.FailFrom(creation, ENOSPC);  // the disk stays full from then on
    EXPECT_EQ(NumberOf([&] { engine.Workspaces(0).OpenDatabase(path); }), jet::kDiskFull);
    EXPECT_TRUE(env.fired());
}

TEST(DBEngine, OtherConditionsKeepTheEnginesNumbers) {
    TempDir dir;
    EXPECT_EQ(NumberOf([&] { Default().OpenDatabase(dir / "falta.mdb"); }), jet::kFileNotFound);
    EXPECT_EQ(NumberOf([&] { Default().OpenDatabase(dir / "pasta/falta.mdb"); }),
              jet::kNotValidPath);

    std::string path = dir / "base.mdb";
    COPY_TEST_FILE_OR_SKIP(apptest::kJet3File, path);
    jet::FaultInjectingEnv env(jet::Env::Default());
    env.FailAt(1, EACCES);  // opening the database itself
    dao::DBEngine engine(&env);
    EXPECT_EQ(NumberOf([&] { engine.Workspaces(0).OpenDatabase(path); }), jet::kCannotOpenFile);
}

// The rows of every table as mdb-export prints them, sorted: compaction may move rows.
std::vector<std::vector<std::vector<std::string>>> SortedTables(const std::string& path) {
    std::vector<std::vector<std::vector<std::string>>> tables;
    for (const char* table : {"clientes", "pedidos"}) {
        tables.push_back(jet::testkit::ExportTable(path, table));
        std::sort(tables.back().begin(), tables.back().end());
    }
    return tables;
}

TEST(DBEngine, CompactWritesACopyOfTheSameVersionAndLeavesTheSourceAlone) {
    if (!jet::testkit::HaveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir dir;
    for (const char* file : {apptest::kJet3File, apptest::kJet4File}) {
        SCOPED_TRACE(file);
        std::string source = dir / "base.mdb";
        std::string copy = dir / "novo.mdb";
        COPY_TEST_FILE_OR_SKIP(file, source);
        const std::vector<uint8_t> before = jet::testkit::ReadAll(source);
        fs::remove(copy);
        EXPECT_EQ(
            NumberOf([&] { dao::DBEngine(jet::Env::Default()).CompactDatabase(source, copy); }), 0);
        ASSERT_TRUE(fs::exists(copy));
        EXPECT_EQ(jet::testkit::ReadAll(source), before);
        EXPECT_LE(fs::file_size(copy), before.size());
        EXPECT_EQ(jet::testkit::Run("mdb-ver " + jet::testkit::Quote(copy)).text,
                  jet::testkit::Run("mdb-ver " + jet::testkit::Quote(source)).text);
        EXPECT_EQ(SortedTables(copy), SortedTables(source));
        // The copy opens through the engine like any database.
        Default().OpenDatabase(copy)->Close();
    }
}

// Jet's numbers for the failures the run can meet; none of them leaves a destination, and an
// existing destination is never replaced.
TEST(DBEngine, CompactFailuresKeepJetsNumbersAndLeaveNoDestination) {
    TempDir dir;
    std::string source = dir / "base.mdb";
    std::string copy = dir / "novo.mdb";
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, source);
    dao::DBEngine engine(jet::Env::Default());

    std::ofstream(copy, std::ios::binary) << "já existe";
    EXPECT_EQ(NumberOf([&] { engine.CompactDatabase(source, copy); }), jet::kDatabaseExists);
    EXPECT_EQ(fs::file_size(copy), std::string("já existe").size());
    fs::remove(copy);

    EXPECT_EQ(NumberOf([&] { engine.CompactDatabase(dir / "falta.mdb", copy); }),
              jet::kFileNotFound);
    EXPECT_EQ(NumberOf([&] { engine.CompactDatabase(source, dir / "pasta/novo.mdb"); }),
              jet::kNotValidPath);
    {
        // Open through the engine itself: the source is in use.
        std::shared_ptr<dao::Database> db = Default().OpenDatabase(source);
        EXPECT_EQ(NumberOf([&] { engine.CompactDatabase(source, copy); }), jet::kFileInUse);
    }
    std::string text = dir / "texto.mdb";
    std::ofstream(text, std::ios::binary) << std::string(4096, 'x');
    EXPECT_EQ(NumberOf([&] { engine.CompactDatabase(text, copy); }), jet::kUnrecognizedFormat);
    EXPECT_FALSE(fs::exists(copy));

    // A write half way through the copy finds the disk full.
    jet::FaultInjectingEnv env(jet::Env::Default());
    dao::DBEngine faulty(&env);
    faulty.CompactDatabase(source, copy);
    const uint64_t operations = env.operations();
    fs::remove(copy);
    env.Reset();
    env.FailAt(operations / 2, ENOSPC);
    EXPECT_EQ(NumberOf([&] { faulty.CompactDatabase(source, copy); }), jet::kDiskFull);
    EXPECT_TRUE(env.fired());
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_TRUE(entry.path().filename() == "base.mdb" || entry.path().filename() == "texto.mdb")
            << entry.path();
}

// ---------------------------------------------------------------------------------------------
// The lock-file user library.

// A lock file whose records name `computers`, slots 1.., none of them live.
void WriteStaleLockFile(const std::string& path, const std::vector<std::string>& computers) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& c : computers) {
        jet::Bytes record = jet::EncodeLockRecord(c, "Admin");
        out.write(reinterpret_cast<const char*>(record.data()),
                  static_cast<std::streamsize>(record.size()));
    }
}

TEST(LdbUsers, TheBufferKeepsItsLowerBoundGrowsToFitAndIsEmptiedPastTheUsers) {
    TempDir dir;
    std::string ldb = dir / "base.ldb";
    WriteStaleLockFile(ldb, {"ESTAÇÃO-1", "CAIXA", "GERÊNCIA"});

    dao::StringArray small(5, 6);
    std::string path = ldb;
    EXPECT_EQ(dao::LDBUser_GetUsers(jet::Env::Default(), small, path, dao::kLdbAllUsers), 3);
    EXPECT_EQ(small.LBound(), 5);
    EXPECT_EQ(small.UBound(), 7);
    EXPECT_EQ(small(5), "ESTAÇÃO-1") << "the names come back from the ANSI code page";
    EXPECT_EQ(small(6), "CAIXA");
    EXPECT_EQ(small(7), "GERÊNCIA");
    EXPECT_EQ(path, ldb);

    dao::StringArray large(-2, 3);
    for (int i = -2; i <= 3; ++i) large(i) = "velho";
    EXPECT_EQ(dao::LDBUser_GetUsers(jet::Env::Default(), large, path, dao::kLdbAllUsers), 3);
    EXPECT_EQ(large.LBound(), -2);
    EXPECT_EQ(large.UBound(), 3);
    EXPECT_EQ(large(0), "GERÊNCIA");
    EXPECT_EQ(large(1), "") << "the entry after the last user ends the list";
    EXPECT_EQ(large(3), "");

    // Option 2: only live users. Nobody holds these slots.
    dao::StringArray live(0, 1);
    EXPECT_EQ(dao::LDBUser_GetUsers(jet::Env::Default(), live, path, dao::kLdbLoggedOnUsers), 0);
    EXPECT_EQ(live(0), "");
    EXPECT_EQ(live(1), "");

    dao::StringArray untouched(0, 1);
    untouched(0) = "x";
    EXPECT_EQ(dao::LDBUser_GetUsers(jet::Env::Default(), untouched, path, dao::kLdbUserCount), 0)
        << "the count is of the users in the database now";
    EXPECT_EQ(untouched(0), "x");
    EXPECT_EQ(dao::LDBUser_GetUsers(jet::Env::Default(), untouched, path, 3),
              dao::kLdbInvalidOption);
}

TEST(LdbUsers, AMissingOrEmptyLockFileHasNoUsers) {
    TempDir dir;
    dao::StringArray users(0, 1);
    std::string missing = dir / "falta.ldb";
    EXPECT_EQ(dao::LDBUser_GetUsers(jet::Env::Default(), users, missing, dao::kLdbAllUsers), 0);
    std::string empty = dir / "vazio.ldb";
    std::ofstream(empty).flush();
    EXPECT_EQ(dao::LDBUser_GetUsers(jet::Env::Default(), users, empty, dao::kLdbAllUsers), 0);
    EXPECT_EQ(users.LBound(), 0);
    EXPECT_EQ(users.UBound(), 1);
}

TEST(LdbUsers, BoundsStayInsideTheSixteenBitRange) {
    EXPECT_EQ(NumberOf([] { dao::StringArray(32767, 32768); }), dao::StringArray::kOverflow);
    dao::StringArray a(32766, 32767);
    EXPECT_EQ(NumberOf([&] { a.ReDim(32766, 32768); }), dao::StringArray::kOverflow);
    EXPECT_EQ(NumberOf([&] { a(32765); }), dao::StringArray::kSubscriptOutOfRange);
    EXPECT_EQ(a.UBound(), 32767) << "a failed ReDim leaves the array as it was";
}

}  // namespace
