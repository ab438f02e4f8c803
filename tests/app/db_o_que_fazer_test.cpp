// OQueFazer on real conditions: each class code produced by the condition it stands for (a
// healthy file, a file that is not Jet, a file at its version's maximum size, a full disk when
// the lock file is created, any other failure), the line it logs, and what it does with Banco.
// It lets no error out: a failing log or close is skipped and the code stays.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "dao/dbengine.h"
#include "db/o_que_fazer.h"
#include "jet/base/error.h"
#include "jet/testing/fault_env.h"
#include "tests/app/db_test_util.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

TEST(OQueFazer, AHealthyDatabaseIsOpenedClosedAndGivesOne) {
    for (const char* file : {apptest::kJet3File, apptest::kJet4File}) {
        apptest::Window w;
        Form1& f = w.form();
        COPY_TEST_FILE_OR_SKIP(file, f.ArquivoPrincipal);
        std::string antes = apptest::ReadString(f.ArquivoPrincipal);
        f.Err.Number = 5;  // left over from an earlier step: cleared first

        EXPECT_EQ(f.OQueFazer(), kClasseReparar) << file;
        EXPECT_EQ(w.Log(), Lines{"Erro: Sem Erros."});
        EXPECT_EQ(f.Err.Number, 0);
        ASSERT_NE(f.Banco, nullptr);
        EXPECT_EQ(f.Banco->Name(), f.ArquivoPrincipal);
        EXPECT_FALSE(f.Banco->IsOpen()) << "closed again before the return";
        EXPECT_FALSE(fs::exists(f.ArquivoLDB));
        EXPECT_EQ(apptest::ReadString(f.ArquivoPrincipal), antes);
    }
}

// A database left open in Banco, to see that a failed open neither replaces nor closes it.
std::shared_ptr<dao::Database> HeldInBanco(apptest::Window& w) {
    std::string other = w.folder + "/outro.mdb";
    if (!apptest::CopyTestFile(apptest::kJet4File, other)) return nullptr;
    w.form().Banco = w.form().DBEngine().Workspaces(0).OpenDatabase(other);
    return w.form().Banco;
}

TEST(OQueFazer, AFileThatIsNotJetGivesOneForRepair) {
    apptest::Window w;
    Form1& f = w.form();
    std::shared_ptr<dao::Database> held = HeldInBanco(w);
    if (!held) GTEST_SKIP() << "no corpus";
    std::ofstream(f.ArquivoPrincipal, std::ios::binary) << std::string(2048, 'Z');

    EXPECT_EQ(f.OQueFazer(), kClasseReparar);
    EXPECT_EQ(w.Log(), Lines{"Erro: Formato Não Reconhecido. Arquivo Corrompido."});
    EXPECT_EQ(f.Err.Number, 3343) << "the open's error stays in the error state";
    EXPECT_EQ(f.Banco, held);
    EXPECT_TRUE(held->IsOpen()) << "Banco is neither used nor closed";
    EXPECT_FALSE(fs::exists(f.ArquivoLDB));
}

TEST(OQueFazer, ADatabaseAtItsMaximumSizeGivesTwo) {
    struct Case {
        const char* file;
        uintmax_t limit;
    };
    for (Case c : {Case{apptest::kJet3File, uintmax_t{1} << 30},
                   Case{apptest::kJet4File, uintmax_t{1} << 31}}) {
        apptest::Window w;
        Form1& f = w.form();
        COPY_TEST_FILE_OR_SKIP(c.file, f.ArquivoPrincipal);
        fs::resize_file(f.ArquivoPrincipal, c.limit);  // sparse

        EXPECT_EQ(f.OQueFazer(), kClasseSoCompactar) << c.file;
        EXPECT_EQ(w.Log(), Lines{"Erro: Banco de Dados Cheio."});
        EXPECT_EQ(f.Banco, nullptr);
    }
}

TEST(OQueFazer, AFullDiskWhenTheLockFileIsCreatedGivesThree) {
    apptest::OpenRecorder recorder(jet::Env::Default());
    jet::FaultInjectingEnv env(&recorder);
    recorder.CountWith(&env);
    apptest::Window w(&env);
    Form1& f = w.form();
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, f.ArquivoPrincipal);

    // A first call finds which operation creates the lock file.
    ASSERT_EQ(f.OQueFazer(), kClasseReparar);
    uint64_t creation = recorder.FirstOpenOf(".ldb");
    ASSERT_GT(creation, 0u);
    fs::remove(f.ArquivoLog);

    env.Reset();
    env.FailAt(creation, ENOSPC);
    f.Banco.reset();
    EXPECT_EQ(f.OQueFazer(), kClasseDiscoCheio);
    EXPECT_TRUE(env.fired());
    EXPECT_EQ(w.Log(), Lines{"Erro: Disco Cheio."});
    EXPECT_EQ(f.Banco, nullptr);
    EXPECT_FALSE(fs::exists(f.ArquivoLDB));
}

TEST(OQueFazer, AnyOtherFailureIsLoggedWithItsNumberAndTextAndGivesFour) {
    jet::FaultInjectingEnv env(jet::Env::Default());
    apptest::Window w(&env);
    Form1& f = w.form();
    COPY_TEST_FILE_OR_SKIP(apptest::kJet3File, f.ArquivoPrincipal);

    // Permission denied on the database file itself: the first operation of the open.
    env.FailAt(1, EACCES);
    EXPECT_EQ(f.OQueFazer(), kClasseOutroErro);
    const std::string denied =
        "Não é possível abrir o arquivo '" + f.ArquivoPrincipal +
        "'. Ele está aberto exclusivamente por outro usuário, ou é necessária permissão para "
        "ler seus dados.";
    EXPECT_EQ(w.Log(), Lines{"Erro: 3051-" + denied});
    EXPECT_EQ(f.Err.Number, 3051);
    EXPECT_EQ(f.Err.Description, denied);
    EXPECT_EQ(f.Err.Detail, "") << "the engine said nothing more";

    // A missing file.
    env.Reset();
    fs::remove(f.ArquivoPrincipal);
    EXPECT_EQ(f.OQueFazer(), kClasseOutroErro);
    EXPECT_EQ(w.Log().back(),
              "Erro: 3024-Não foi possível encontrar o arquivo '" + f.ArquivoPrincipal + "'.");

    // Held exclusively by another process.
    COPY_TEST_FILE_OR_SKIP(apptest::kJet3File, f.ArquivoPrincipal);
    jet::testkit::Child holder(
        {jet::testkit::JetutilPath(), "hold", "--exclusive", f.ArquivoPrincipal});
    ASSERT_EQ(holder.ReadLine(), "open exclusive");
    EXPECT_EQ(f.OQueFazer(), kClasseOutroErro);
    EXPECT_EQ(w.Log().back().rfind("Erro: 3045-", 0), 0u) << w.Log().back();
    holder.CloseStdin();
    EXPECT_EQ(holder.Wait(), 0);
}

TEST(OQueFazer, ALogThatCannotBeWrittenChangesNothingOfTheResult) {
    apptest::Window w;
    Form1& f = w.form();
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, f.ArquivoPrincipal);
    f.ArquivoLog = w.h.program_folder + "/sem-pasta/Log.txt";

    EXPECT_EQ(f.OQueFazer(), kClasseReparar);
    EXPECT_EQ(f.Err.Number, 76) << "the failing log call's error is skipped and kept";
    ASSERT_NE(f.Banco, nullptr);
    EXPECT_FALSE(f.Banco->IsOpen()) << "the close after the failing log still ran";
    EXPECT_FALSE(fs::exists(f.ArquivoLDB));
}

// Every file operation of a call fails in turn: whatever fails, the call returns a code and
// lets no error out, and the database file is never changed.
TEST(OQueFazer, NoFailingFileOperationEscapes) {
    jet::FaultInjectingEnv env(jet::Env::Default());
    apptest::Window w(&env);
    Form1& f = w.form();
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, f.ArquivoPrincipal);
    std::string antes = apptest::ReadString(f.ArquivoPrincipal);
    ASSERT_EQ(f.OQueFazer(), kClasseReparar);
    const uint64_t operations = env.operations();

    for (int code : {EIO, ENOSPC, EACCES}) {
        for (uint64_t n = 1; n <= operations; ++n) {
            env.Reset();
            env.FailAt(n, code);
            int32_t codigo = 0;
            EXPECT_NO_THROW(codigo = f.OQueFazer()) << "operation " << n;
            EXPECT_GE(codigo, kClasseReparar);
            EXPECT_LE(codigo, kClasseOutroErro);
            if (code == ENOSPC && codigo != kClasseReparar) {
                EXPECT_EQ(codigo, kClasseDiscoCheio) << "operation " << n;
            }
            env.Reset();
            fs::remove(f.ArquivoLDB);  // a close that could not delete it leaves it
        }
    }
    EXPECT_EQ(apptest::ReadString(f.ArquivoPrincipal), antes);
}

}  // namespace
