// QuemUsa on real lock files: users held in the database by other processes (jetutil hold),
// an empty lock file, slots left stale by a holder killed with SIGKILL; the list box, the
// VerLDB path, and the screen-wide pointer it leaves behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "db/ver_ldb.h"
#include "jet/base/error.h"
#include "jet/database/lock_file.h"
#include "tests/app/db_test_util.h"
#include "tests/app/memory_window.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

using apptest::ListItems;
using apptest::MemoryOf;

TEST(QuemUsa, ListsEveryProcessInTheDatabaseAndLeavesTheArrow) {
    apptest::Window w;
    Form1& f = w.form();
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, f.ArquivoPrincipal);
    const std::string host = jet::Env::Default()->HostName();

    // Three holders: more users than the two entries the buffer starts with.
    std::vector<std::unique_ptr<jet::testkit::Child>> holders;
    for (int i = 0; i < 3; ++i)
        holders.push_back(jet::testkit::HoldWithJetutil(f.ArquivoPrincipal));
    f.ListLDB1->AddItem("de antes");

    f.QuemUsa();
    EXPECT_EQ(ListItems(f), Lines(3, host));
    EXPECT_EQ(VerLDB::CaminhoLDB, f.ArquivoLDB);
    EXPECT_EQ(f.Screen.MousePointer(), vbArrow);
    EXPECT_EQ(MemoryOf(f).screen_pointer, vbArrow)
        << "the arrow stays in force over the window's own pointer";

    // The middle holder leaves: its slot goes, the others stay in slot order.
    holders[1]->Signal(SIGTERM);  // the holder closes the database and ends
    EXPECT_EQ(holders[1]->Wait(), 0);
    f.QuemUsa();
    EXPECT_EQ(ListItems(f), Lines(2, host)) << "a second call shows only its own entries";

    // Each holder inherited the others' pipes, so their input never ends: a signal it is.
    for (auto& h : holders) h->Signal(SIGTERM);
    for (auto& h : holders) h->Wait();
    EXPECT_FALSE(fs::exists(f.ArquivoLDB)) << "the last holder out deleted the lock file";
    f.QuemUsa();
    EXPECT_EQ(ListItems(f), Lines{});
    EXPECT_EQ(MemoryOf(f).screen_pointer, vbArrow);
}

TEST(QuemUsa, AnEmptyLockFileHasNobody) {
    apptest::Window w;
    Form1& f = w.form();
    std::ofstream(f.ArquivoLDB).flush();
    f.ListLDB1->AddItem("de antes");
    f.QuemUsa();
    EXPECT_EQ(ListItems(f), Lines{});
    EXPECT_EQ(f.Screen.MousePointer(), vbArrow);
}

TEST(QuemUsa, SlotsOfAKilledHolderAreNotShown) {
    apptest::Window w;
    Form1& f = w.form();
    COPY_TEST_FILE_OR_SKIP(apptest::kJet3File, f.ArquivoPrincipal);
    auto killed = jet::testkit::HoldWithJetutil(f.ArquivoPrincipal);
    auto alive = jet::testkit::HoldWithJetutil(f.ArquivoPrincipal);
    killed->Signal(SIGKILL);
    EXPECT_EQ(killed->Wait(), -SIGKILL);

    ASSERT_TRUE(fs::exists(f.ArquivoLDB));
    ASSERT_EQ(jet::ReadLockFileUsers(jet::Env::Default(), f.ArquivoLDB).size(), 2u)
        << "the killed holder's record stays in the file";
    f.QuemUsa();
    EXPECT_EQ(ListItems(f), Lines{jet::Env::Default()->HostName()});

    alive->Signal(SIGKILL);
    alive->Wait();
    f.QuemUsa();
    EXPECT_EQ(ListItems(f), Lines{}) << "only stale slots left";
}

TEST(QuemUsa, WindowsPathsReachTheLockFileThroughTheWindowsFileServices) {
    apptest::Harness h(apptest::Style::kWindows);
    Form1& f = *h.form;
    f.ArquivoPrincipal = "C:\\Dados\\Gestão\\base.mdb";
    f.ArquivoLDB = "C:\\Dados\\Gestão\\base.ldb";
    std::string local = h.Local(f.ArquivoPrincipal);
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, local);
    auto holder = jet::testkit::HoldWithJetutil(local);

    f.QuemUsa();
    EXPECT_EQ(ListItems(f), Lines{jet::Env::Default()->HostName()})
        << "the path went to the code page and back without loss";
    EXPECT_EQ(VerLDB::CaminhoLDB, f.ArquivoLDB);
    holder->Signal(SIGTERM);
    EXPECT_EQ(holder->Wait(), 0);
}

// The run deletes the lock file in a loop that calls QuemUsa while the delete fails: the
// file services refuse to delete a lock file whose slots are live (70), as Windows does.
TEST(LockFileDelete, ALockFileInUseIsRefusedAndAStaleOneGoes) {
    apptest::Window w;
    Form1& f = w.form();
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, f.ArquivoPrincipal);
    auto holder = jet::testkit::HoldWithJetutil(f.ArquivoPrincipal);
    try {
        f.Arquivos().Delete(f.ArquivoLDB);
        ADD_FAILURE() << "deleted a lock file in use";
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), 70);
        EXPECT_STREQ(e.what(), "Permissão negada");
    }
    EXPECT_TRUE(fs::exists(f.ArquivoLDB));

    holder->Signal(SIGKILL);  // its slot goes stale, its record stays
    holder->Wait();
    ASSERT_TRUE(fs::exists(f.ArquivoLDB));
    f.Arquivos().Delete(f.ArquivoLDB);
    EXPECT_FALSE(fs::exists(f.ArquivoLDB));
}

}  // namespace
