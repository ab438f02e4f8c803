// BloqueioTavos on real client databases: the lines it logs and their order, the flag as an
// outside reader (mdbtools) sees it in every row, and its one handler: log "Erro Tavo ...",
// clear the error, go on with the next step; only a failing log inside the handler escapes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dao/dbengine.h"
#include "jet/base/error.h"
#include "jet/testing/damage.h"
#include "tests/app/db_test_util.h"
#include "tests/support/samples.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const std::string kObjetoNaoDefinido =
    "Erro Tavo 91-A variável de objeto ou a variável do bloco With não foi definida";
const std::string kObjetoInvalido = "Erro Tavo 3420-Objeto inválido ou não mais definido.";
const std::string kSemTabelaTavo =
    "Erro Tavo 3078-Não foi possível encontrar a tabela ou consulta de entrada 'tavo'.";

Lines LockedLines(const std::string& nome) {
    return {"Alterando o Sistema " + nome + " (-1).", "Sistema Bloqueado.",
            "Alterado o Sistema " + nome + " (-1)."};
}

Lines Concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class BloqueioTavosVersions : public ::testing::TestWithParam<jet::Version> {};

TEST_P(BloqueioTavosVersions, LocksAndUnlocksEveryRowOfBothClientDatabases) {
    apptest::Window w;
    Form1& f = w.form();
    apptest::MakeClientFixture(f.ArquivoTavo, true, GetParam());
    apptest::MakeClientFixture(f.ArquivoTavo1, false, GetParam());
    ASSERT_EQ(apptest::Flags(f.ArquivoTavo), (Lines{"0", "1", "0", "1", "0"}));
    ASSERT_EQ(apptest::Flags(f.ArquivoTavo1), (Lines{"0", "-1", "0", "-1", "0"}));

    f.BloqueioTavos(-1);
    EXPECT_EQ(w.Log(), Concat(LockedLines("Tavo.mdb"), LockedLines("Tavo1.mdb")));
    EXPECT_EQ(f.Err.Number, 0);
    EXPECT_EQ(apptest::Flags(f.ArquivoTavo), Lines(apptest::kTavoRows, "1"));
    EXPECT_EQ(apptest::Flags(f.ArquivoTavo1), Lines(apptest::kTavoRows, "-1"));
    ASSERT_NE(f.Banco, nullptr);
    EXPECT_EQ(f.Banco->Name(), f.ArquivoTavo1) << "Banco: the last database opened, closed";
    EXPECT_FALSE(f.Banco->IsOpen());
    EXPECT_FALSE(fs::exists(w.folder + "/tavo.ldb"));
    EXPECT_FALSE(fs::exists(w.folder + "/tavo1.ldb"));

    f.BloqueioTavos(0);
    EXPECT_EQ(w.Log(),
              Concat(Concat(LockedLines("Tavo.mdb"), LockedLines("Tavo1.mdb")),
                     {"Alterando o Sistema Tavo.mdb (0).", "Sistema Desbloqueado.",
                      "Alterado o Sistema Tavo.mdb (0).", "Alterando o Sistema Tavo1.mdb (0).",
                      "Sistema Desbloqueado.", "Alterado o Sistema Tavo1.mdb (0)."}));
    EXPECT_EQ(apptest::Flags(f.ArquivoTavo), Lines(apptest::kTavoRows, "0"));
    EXPECT_EQ(apptest::Flags(f.ArquivoTavo1), Lines(apptest::kTavoRows, "0"));
}

INSTANTIATE_TEST_SUITE_P(BloqueioTavos, BloqueioTavosVersions,
                         ::testing::Values(jet::Version::kJet3, jet::Version::kJet4),
                         [](const auto& param_info) {
                             return jet::testkit::VersionName(param_info.param);
                         });

TEST(BloqueioTavos, WritesWhileAClientProgramHoldsTheDatabase) {
    apptest::Window w;
    Form1& f = w.form();
    apptest::MakeClientFixture(f.ArquivoTavo1, false);
    jet::testkit::Child holder({jet::testkit::JetutilPath(), "hold", f.ArquivoTavo1});
    ASSERT_EQ(holder.ReadLine(), "open shared slot 1");

    f.BloqueioTavos(-1);
    EXPECT_EQ(w.Log(), LockedLines("Tavo1.mdb"));
    EXPECT_EQ(apptest::Flags(f.ArquivoTavo1), Lines(apptest::kTavoRows, "-1"));
    EXPECT_TRUE(fs::exists(w.folder + "/tavo1.ldb")) << "the client is still in";
    holder.CloseStdin();
    EXPECT_EQ(holder.Wait(), 0);
}

TEST(BloqueioTavos, OnlyTheDatabasesPresentAreTouched) {
    apptest::Window w;
    Form1& f = w.form();
    // Neither: nothing logged, nothing opened.
    f.BloqueioTavos(-1);
    EXPECT_FALSE(fs::exists(f.ArquivoLog));
    EXPECT_EQ(f.Banco, nullptr);

    // A folder named tavo.mdb, and a hidden file, are not found by the existence test.
    fs::create_directories(f.ArquivoTavo);
    std::string oculto = w.folder + "/.tavo1.mdb";
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, oculto);
    f.ArquivoTavo1 = oculto;
    f.BloqueioTavos(-1);
    EXPECT_FALSE(fs::exists(f.ArquivoLog));
    EXPECT_EQ(f.Banco, nullptr);

    // Only tavo1.mdb.
    f.ArquivoTavo1 = w.folder + "/tavo1.mdb";
    apptest::MakeClientFixture(f.ArquivoTavo1, false);
    f.BloqueioTavos(-1);
    EXPECT_EQ(w.Log(), LockedLines("Tavo1.mdb"));
    EXPECT_EQ(apptest::Flags(f.ArquivoTavo1), Lines(apptest::kTavoRows, "-1"));
}

TEST(BloqueioTavos, ADatabaseWithoutTableTavoLogsTheStatementsErrorAndIsClosed) {
    apptest::Window w;
    Form1& f = w.form();
    COPY_TEST_FILE_OR_SKIP(apptest::kJet3File, f.ArquivoTavo);
    std::string antes = apptest::ReadString(f.ArquivoTavo);

    f.BloqueioTavos(-1);
    EXPECT_EQ(w.Log(), (Lines{"Alterando o Sistema Tavo.mdb (-1).", kSemTabelaTavo,
                              "Sistema Bloqueado.", "Alterado o Sistema Tavo.mdb (-1)."}));
    EXPECT_EQ(f.Err.Number, 0) << "the handler clears the error";
    ASSERT_NE(f.Banco, nullptr);
    EXPECT_FALSE(f.Banco->IsOpen());
    EXPECT_FALSE(fs::exists(w.folder + "/tavo.ldb"));
    EXPECT_EQ(apptest::ReadString(f.ArquivoTavo), antes);
}

TEST(BloqueioTavos, AFileThatIsNoDatabaseGivesThreeErrorLinesAndTheNextIsStillHandled) {
    apptest::Window w;
    Form1& f = w.form();
    std::ofstream(f.ArquivoTavo, std::ios::binary) << "tavo: não é um banco de dados\r\n";
    COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, f.ArquivoTavo1);  // opens, no table tavo

    f.BloqueioTavos(-1);
    const Lines tavo = {
        "Alterando o Sistema Tavo.mdb (-1).",
        "Erro Tavo 3343-Formato de banco de dados não reconhecido '" + f.ArquivoTavo + "'.",
        kObjetoNaoDefinido,  // the statement: Banco holds no database
        kObjetoNaoDefinido,  // the close
        "Sistema Bloqueado.",
        "Alterado o Sistema Tavo.mdb (-1)."};
    const Lines tavo1 = {"Alterando o Sistema Tavo1.mdb (-1).", kSemTabelaTavo,
                         "Sistema Bloqueado.", "Alterado o Sistema Tavo1.mdb (-1)."};
    EXPECT_EQ(w.Log(), Concat(tavo, tavo1));

    // Again, now that Banco holds tavo1.mdb, closed: the statement and the close fail on that
    // object and never reach tavo1.mdb.
    std::shared_ptr<dao::Database> anterior = f.Banco;
    f.ArquivoTavo1 = w.folder + "/ausente.mdb";
    f.BloqueioTavos(0);
    Lines log = w.Log();
    Lines second(log.begin() + static_cast<long>(tavo.size() + tavo1.size()), log.end());
    EXPECT_EQ(second, (Lines{"Alterando o Sistema Tavo.mdb (0).",
                             "Erro Tavo 3343-Formato de banco de dados não reconhecido '" +
                                 f.ArquivoTavo + "'.",
                             kObjetoInvalido, kObjetoInvalido, "Sistema Desbloqueado.",
                             "Alterado o Sistema Tavo.mdb (0)."}));
    EXPECT_EQ(f.Banco, anterior) << "a failed open leaves Banco as it was";
}

// A client database cut short: the open's error line is followed, in the log file only, by
// the engine's own text saying where the file ends.
TEST(BloqueioTavos, AnErrorLineIsFollowedInTheLogFileByTheEnginesDetail) {
    apptest::Window w;
    Form1& f = w.form();
    apptest::MakeClientFixture(f.ArquivoTavo, true);
    jet::DamageOptions damage;
    damage.page = 2;
    ASSERT_TRUE(jet::InjectDamage(jet::Env::Default(), f.ArquivoTavo,
                                  jet::DamageKind::kTruncatedFile, damage)
                    .applied);

    f.BloqueioTavos(-1);
    const std::string erro =
        "Erro Tavo 3343-Formato de banco de dados não reconhecido '" + f.ArquivoTavo + "'.";
    EXPECT_EQ(w.Log(), (Lines{"Alterando o Sistema Tavo.mdb (-1).", erro,
                              "Detalhe: Unrecognized database format '" + f.ArquivoTavo +
                                  "'. (page 2 is past the end of the file)",
                              kObjetoNaoDefinido, kObjetoNaoDefinido, "Sistema Bloqueado.",
                              "Alterado o Sistema Tavo.mdb (-1)."}));
    EXPECT_EQ(f.TxtLog->Text().find("Detalhe"), std::string::npos) << "not on screen";
    EXPECT_EQ(f.Err.Number, 0);
    EXPECT_TRUE(f.Err.Detail.empty()) << "cleared with the error";
}

TEST(BloqueioTavos, AFailingExistenceTestCountsAsPresent) {
    apptest::Window w;
    Form1& f = w.form();
    f.ArquivoTavo = w.folder + "/" + std::string(300, 'x') + ".mdb";  // ENAMETOOLONG
    f.BloqueioTavos(-1);
    Lines log = w.Log();
    ASSERT_EQ(log.size(), 7u) << ::testing::PrintToString(log);
    EXPECT_EQ(log[0].rfind("Erro Tavo 75-", 0), 0u) << log[0];
    EXPECT_EQ(log[1], "Alterando o Sistema Tavo.mdb (-1).");
    EXPECT_EQ(log[2].rfind("Erro Tavo 3044-", 0), 0u) << log[2];
    EXPECT_EQ(log[3], kObjetoNaoDefinido);
    EXPECT_EQ(log[4], kObjetoNaoDefinido);
    EXPECT_EQ(log[5], "Sistema Bloqueado.");
    EXPECT_EQ(log[6], "Alterado o Sistema Tavo.mdb (-1).");
}

TEST(BloqueioTavos, WhenNoLineCanBeWrittenTheFirstFailureEndsTheCall) {
    apptest::Window w;
    Form1& f = w.form();
    apptest::MakeClientFixture(f.ArquivoTavo, true);
    apptest::MakeClientFixture(f.ArquivoTavo1, false);
    std::string tavo = apptest::ReadString(f.ArquivoTavo);
    std::string tavo1 = apptest::ReadString(f.ArquivoTavo1);
    f.ArquivoLog = w.h.program_folder + "/sem-pasta/Log.txt";

    try {
        f.BloqueioTavos(-1);
        ADD_FAILURE() << "the handler's failing log call must reach the caller";
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), 76) << e.what();
    }
    // The first line reached the screen before its file write failed; the handler's line
    // replaced it there, and nothing else was done.
    EXPECT_EQ(f.Label1[0]->Caption(), "Erro Tavo 76-Caminho não encontrado");
    EXPECT_EQ(f.Banco, nullptr) << "no database was opened";
    EXPECT_EQ(apptest::ReadString(f.ArquivoTavo), tavo);
    EXPECT_EQ(apptest::ReadString(f.ArquivoTavo1), tavo1);
}

}  // namespace
