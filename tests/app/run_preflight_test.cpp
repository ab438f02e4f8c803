// The run's pre-flight end to end, on real files: the classes that end the program (a
// database held exclusively by another process, a full disk when its lock file is made), a
// lock file held by a live process (the list of its users, OK to retry, Cancel), lock files
// left behind by a process that died, and a temporary of this run's name that will not go.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/app/run_scenario.h"
#include "tests/support/process.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

const std::string kClasse4 =
    "Erro Não Reconhecido.Comunique ao supervisor. Envie o arquivo de Log ao Responsável.";
const std::string kClasse3 =
    "O Disco está cheio. Apague arquivos desnecessários e tente operar novamente. Comunique ao "
    "supervisor. Envie o arquivo de Log ao Responsável.";
const std::string kLdbEmUso =
    "O Arquivo ainda está em uso. Verifique os usuários e clique para tentar novamente.";

// A holder that leaves the database properly (its close deletes the lock file when it was the
// last user).
void Release(testkit::Child& holder) {
    holder.Signal(SIGTERM);
    EXPECT_EQ(holder.Wait(), 0);
}

// What every way out that ends the program before the backups leaves: the program ended, the
// client system locked, the database untouched, no temporary made.
void ExpectEndedBeforeAnyBackup(Cenario& c, const std::string& original_bytes) {
    EXPECT_EQ(c.h.end.ends, 1) << "the program ended";
    EXPECT_TRUE(c.ClientsLocked());
    EXPECT_EQ(ReadString(c.base), original_bytes);
    EXPECT_EQ(c.ProgramFiles(), Lines{"Log" + std::string(kCarimbo) + ".txt"});
}

TEST(RunPreFlight, ADatabaseHeldExclusivelyIsClassFourAndEndsTheProgram) {
    Cenario c;
    ASSERT_TRUE(c.PutDatabase(kJet4Data));
    const std::string original = ReadString(c.base);
    auto holder = testkit::HoldWithJetutil(c.base, /*exclusive=*/true);

    c.Run();
    Lines log = c.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().rfind("Erro: 3045-", 0), 0u) << log.back();
    log.pop_back();
    EXPECT_EQ(log, Concat({c.Opening(), Cenario::Lock(-1)}));
    EXPECT_EQ(c.Boxes(), Lines{kClasse4}) << "the class's text is shown, not logged";
    ExpectEndedBeforeAnyBackup(c, original);
    holder->CloseStdin();
    EXPECT_EQ(holder->Wait(), 0);
}

TEST(RunPreFlight, AFullDiskWhenTheLockFileIsMadeIsClassThreeAndEndsTheProgram) {
    PathFaultEnv env(jet::Env::Default());
    Cenario c(&env);
    ASSERT_TRUE(c.PutDatabase(kJet3Data));
    const std::string original = ReadString(c.base);
    env.Fail("open", "/base.ldb", ENOSPC);

    c.Run();
    EXPECT_EQ(env.fired(), 1);
    EXPECT_EQ(c.Log(), Concat({c.Opening(), Cenario::Lock(-1), {"Erro: Disco Cheio."}}));
    EXPECT_EQ(c.Boxes(), Lines{kClasse3});
    ExpectEndedBeforeAnyBackup(c, original);
    EXPECT_FALSE(fs::exists(c.ldb));
}

TEST(RunPreFlight, ALockFileHeldByAnotherProcessShowsItsUserUntilCancel) {
    Cenario c;
    ASSERT_TRUE(c.PutDatabase(kJet4Data));
    const std::string original = ReadString(c.base);
    auto holder = testkit::HoldWithJetutil(c.base);
    c.h.boxes.answers = {platform::vbOK, platform::vbCancel};
    std::vector<Lines> list_at_box;
    c.h.boxes.on_show = [&] { list_at_box.push_back(ListItems(c.form())); };

    c.Run();
    EXPECT_EQ(c.Log(),
              Concat({c.Opening(),
                      Cenario::Lock(-1),
                      {"Erro: Sem Erros.", "Tentativa Apagar LDB :Arquivo " + c.ldb + ".",
                       "Arquivo LDB em uso.", "Arquivo LDB em uso.", "Encerrado Pelo Usuário."}}));
    EXPECT_EQ(c.Boxes(), Lines(2, kLdbEmUso)) << "OK retried once, then Cancel";
    for (const auto& box : c.h.boxes.shown) EXPECT_EQ(box.buttons, platform::vbOKCancel);
    const Lines user{jet::Env::Default()->HostName()};
    EXPECT_EQ(list_at_box, (std::vector<Lines>{user, user}))
        << "the list is filled before each box";
    EXPECT_TRUE(fs::exists(c.ldb)) << "the holder is still in the database";
    // The holder's own lock file is left beside the untouched database.
    Release(*holder);
    ExpectEndedBeforeAnyBackup(c, original);
}

TEST(RunPreFlight, OkRetriesUntilTheLastUserHasLeft) {
    Cenario c;
    ASSERT_TRUE(c.PutDatabase(kJet4Data));
    const std::string before = testkit::MdbExportDump(c.base);
    auto holder = testkit::HoldWithJetutil(c.base);
    // The operator asks the user to leave; the user leaves while the second box is open.
    int ldb_boxes = 0;
    c.h.boxes.on_show = [&] {
        if (c.h.boxes.shown.back().prompt == kLdbEmUso && ++ldb_boxes == 2) Release(*holder);
    };

    c.Run();
    const Lines log = c.Log();
    const Lines expected = Concat(
        {c.Opening(),
         Cenario::Lock(-1),
         {"Erro: Sem Erros.", "Tentativa Apagar LDB :Arquivo " + c.ldb + ".", "Arquivo LDB em uso.",
          "Arquivo LDB em uso.", "Arquivo LDB Eliminado.", c.Aviso()}});
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(Lines(log.begin(), log.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(ldb_boxes, 2);
    EXPECT_FALSE(fs::exists(c.ldb));
    // Whatever the later steps did, the database's place holds the same rows.
    EXPECT_EQ(testkit::MdbExportDump(c.base), before);
}

// A process that died in the database leaves a lock file whose slot no one holds.
void LeaveStaleLockFile(const std::string& database) {
    auto holder = testkit::HoldWithJetutil(database);
    holder->Signal(SIGKILL);
    holder->Wait();
}

TEST(RunPreFlight, AStaleLockFileIsDeleted) {
    // Beside a healthy database the engine's own close (the classification's) removes it: the
    // last user out takes a lock file nobody holds with it.
    {
        Cenario c;
        ASSERT_TRUE(c.PutDatabase(kJet3Data));
        LeaveStaleLockFile(c.base);
        ASSERT_TRUE(fs::exists(c.ldb));
        c.h.boxes.answers = {platform::vbOK};
        c.Run();
        const Lines log = c.Log();
        const Lines expected =
            Concat({c.Opening(), Cenario::Lock(-1), {"Erro: Sem Erros.", c.Aviso()}});
        ASSERT_GE(log.size(), expected.size());
        EXPECT_EQ(Lines(log.begin(), log.begin() + static_cast<long>(expected.size())), expected);
        EXPECT_FALSE(fs::exists(c.ldb));
    }
    // Beside a file the engine does not recognise nothing opened it: the run deletes it.
    {
        Cenario c;
        ASSERT_TRUE(c.PutDatabase(kJet3Data));
        LeaveStaleLockFile(c.base);
        std::ofstream(c.base, std::ios::binary | std::ios::trunc) << std::string(4096, 'Z');
        c.Run();
        const Lines log = c.Log();
        const Lines expected = Concat({c.Opening(),
                                       Cenario::Lock(-1),
                                       {"Erro: Formato Não Reconhecido. Arquivo Corrompido.",
                                        "Tentativa Apagar LDB :Arquivo " + c.ldb + ".",
                                        "Arquivo LDB Eliminado.", c.Aviso()}});
        ASSERT_GE(log.size(), expected.size());
        EXPECT_EQ(Lines(log.begin(), log.begin() + static_cast<long>(expected.size())), expected);
        EXPECT_FALSE(fs::exists(c.ldb));
        EXPECT_EQ(c.Boxes().front(), c.Aviso()) << "no lock-file box";
    }
}

TEST(RunPreFlight, ATemporaryOfThisRunsNameThatWillNotGoEndsTheRun) {
    struct Case {
        std::string Cenario::*name;
        std::string fragment;
        std::string box, log;
    };
    const std::string resto =
        " Não pode ser apagado para inicio do processo. Pode estar em uso por outro processo.";
    const std::vector<Case> cases = {
        {&Cenario::copia, "compac01_", "O Arquivo Temporario 1" + resto,
         "O Arquivo Temporario 1" + resto},
        {&Cenario::extra, "compac01E_", "O Arquivo Temporario 1 extra" + resto,
         "O Arquivo Temporario 1 Extra" + resto},
        {&Cenario::reparado, "compac02_", "O Arquivo Temporario 2" + resto,
         "O Arquivo Temporario 2" + resto},
        {&Cenario::compactado, "compac03_", "O Arquivo Temporario 3" + resto,
         "O Arquivo Temporario 3" + resto},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.fragment);
        PathFaultEnv env(jet::Env::Default());
        Cenario c(&env);
        ASSERT_TRUE(c.PutDatabase(kJet3Data));
        const std::string original = ReadString(c.base);
        // A run started in the same second left all four; the one that matters is refused.
        for (const std::string* t : {&c.copia, &c.extra, &c.reparado, &c.compactado})
            std::ofstream(*t) << "de outra execucao";
        env.Fail("remove", k.fragment, EACCES, -1);

        c.Run();
        EXPECT_EQ(c.Log(),
                  Concat({c.Opening(), Cenario::Lock(-1), {"Erro: Sem Erros.", k.log, kFalha}}));
        EXPECT_EQ(c.Boxes(), (Lines{k.box, kFalha}));
        EXPECT_EQ(c.h.end.ends, 0) << "the window stays open";
        EXPECT_FALSE(c.form().Command1->Visible());
        EXPECT_EQ(c.form().MousePointer(), vbArrow);
        EXPECT_TRUE(c.ClientsLocked());
        EXPECT_EQ(ReadString(c.base), original);
        // The temporaries before it in the order were deleted; it and those after it stay.
        bool reached = false;
        for (const std::string* t : {&c.copia, &c.extra, &c.reparado, &c.compactado}) {
            reached = reached || t == &(c.*k.name);
            EXPECT_EQ(fs::exists(*t), reached) << *t;
        }
    }
}

}  // namespace
}  // namespace apptest
