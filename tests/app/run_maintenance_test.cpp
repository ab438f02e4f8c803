// The run's working stretch end to end on real files: the success path (the exact log file,
// the compacted database in the database's place with the original's rows, the temporaries
// left behind, the client system unlocked, the program ended) and each failure after the
// database has left its place, produced by a real fault of the file services: the repair, the
// compaction and the move into place fail, and the first backup is put back. A restore that
// itself fails says so and names the backups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "jet/format/data_page.h"
#include "jet/read/table_reader.h"
#include "jet/testing/damage.h"
#include "jet/testing/sample.h"
#include "jet/write/new_database.h"

#include "dao/dbengine.h"
#include "db/o_que_fazer.h"
#include "tests/app/run_scenario.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

const std::string kFalhaCompactar =
    "Erro No Processo. O arquivo Não Foi Compactado. Voltando o Backup";

std::string Carimbado(const std::string& prefix, const std::string& ext = ".mdb") {
    return prefix + kCarimbo + ext;
}

void ExpectFailureExitAfterARestore(Cenario& c, const std::string& original) {
    c.ExpectFailureExit(original, "the first backup is back in the database's place");
    EXPECT_EQ(ReadString(c.copia), original);
    EXPECT_EQ(ReadString(c.extra), original);
}

// ---- Success ----

class RunSuccess : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunSuccess, LeavesTheCompactedDatabaseInPlaceUnlocksAndEndsTheProgram) {
    if (!testkit::HaveMdbTools()) GTEST_SKIP() << "no mdbtools";
    const RunCase k = GetParam();
    PathFaultEnv env(jet::Env::Default());
    Cenario c(&env);
    ASSERT_TRUE(c.PutDatabase(k.file));
    const std::string original = ReadString(c.base);
    const std::string content = testkit::MdbExportDump(c.base);
    ASSERT_EQ(content.rfind("=== TABLE ", 0), 0u) << content;
    if (k.classe == kClasseSoCompactar) c.LooksFullUntilTheWarning(env, k.version);

    c.Run();
    EXPECT_EQ(c.h.LogFileBytes(), Cenario::LogBytes(c.Success(k.classe))) << "the exact log file";
    EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), "Processo Concluido."}));
    EXPECT_EQ(c.h.end.ends, 1) << "the program ended";
    EXPECT_EQ(c.form().MousePointer(), vbArrow);
    EXPECT_TRUE(c.ClientsUnlocked());

    // The compacted database is in the database's place, with the original's rows.
    EXPECT_EQ(testkit::MdbExportDump(c.base), content);
    EXPECT_EQ(JetutilCheck(c.base), 0);
    EXPECT_LE(fs::file_size(c.base), original.size());
    // The backups and the working file (repaired for class 1) stay in the program's folder.
    EXPECT_EQ(c.ProgramFiles(), (Lines{Carimbado("Log", ".txt"), Carimbado("compac01E_"),
                                       Carimbado("compac01_"), Carimbado("compac02_")}));
    EXPECT_EQ(ReadString(c.copia), original);
    EXPECT_EQ(ReadString(c.extra), original);
    if (k.classe == kClasseSoCompactar) {
        EXPECT_EQ(ReadString(c.reparado), original) << "never repaired";
    } else {
        EXPECT_EQ(testkit::MdbExportDump(c.reparado), content);
    }
    // The window shows "Restaurando Arquivo." twice; the log file has it once.
    const std::string box = c.form().TxtLog->Text();
    const std::string line = "05/12/2026 - 14:03:07 - Restaurando Arquivo.\r\n";
    EXPECT_NE(box.find(line + line), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(ClassesAndVersions, RunSuccess, ::testing::ValuesIn(kClassesAndVersions),
                         RunCaseName);

// A database whose structure is damaged where no row lives (a table's row count, its map of
// owned pages) is repaired and compacted back to every row it held.
TEST(RunSuccess, ADamagedDatabaseIsRepairedBackToEveryRow) {
    if (!testkit::HaveMdbTools()) GTEST_SKIP() << "no mdbtools";
    for (jet::DamageKind kind :
         {jet::DamageKind::kWrongRowCount, jet::DamageKind::kBrokenUsageMap}) {
        SCOPED_TRACE(jet::DamageKindName(kind));
        Cenario c;
        ASSERT_TRUE(c.PutDatabase(kJet4Data));
        const std::string content = testkit::MdbExportDump(c.base);
        jet::DamageOptions damage;
        damage.seed = 1;
        ASSERT_TRUE(jet::InjectDamage(jet::Env::Default(), c.base, kind, damage).applied);

        c.Run();
        EXPECT_EQ(c.Boxes().back(), "Processo Concluido.");
        const Lines log = c.Log();
        EXPECT_NE(std::find(log.begin(), log.end(), "Reparando Banco de Dados" + c.reparado),
                  log.end());
        EXPECT_EQ(testkit::MdbExportDump(c.base), content);
        EXPECT_EQ(JetutilCheck(c.base), 0);
        EXPECT_TRUE(c.ClientsUnlocked());
    }
}

// Makes the first `rows` rows of table `table`'s first data page undecodable: their column
// count (the row's first two bytes in Jet 4) becomes zero, so a repair must drop them.
void BreakRows(const std::string& path, const std::string& table, uint16_t rows) {
    auto db = jet::DatabaseView::Open(jet::Env::Default(), path);
    const jet::TableDef def = db->ReadTable(table);  // the scanner keeps a reference to it
    jet::TableScanner scan(db->file(), def);
    ASSERT_TRUE(scan.Next());
    const uint32_t number = scan.location().page;
    const jet::Bytes bytes = db->file().ReadPage(number);
    const jet::DataPage page(bytes, jet::Version::kJet4);
    ASSERT_GE(page.row_count(), rows);
    std::vector<uint64_t> offsets;
    for (uint16_t i = 0; i < rows; ++i)
        offsets.push_back(uint64_t{number} * 4096 + page.row_start(i));
    db.reset();
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    for (uint64_t at : offsets) {
        f.seekp(static_cast<std::streamoff>(at));
        f.write("\0\0", 2);
    }
}

// A repair that had to drop rows does not pass for a clean one: right after its line, the log
// file and the log box say what each table lost; then the run compacts and ends as always,
// with no box of its own for it.
TEST(RunSuccess, ARepairThatDropsRowsSaysWhatEachTableLost) {
    Cenario c;
    jet::NewDatabase plan;
    for (const char* name : {"Clientes", "Pedidos"}) {
        jet::NewTable t;
        t.def.name = name;
        t.def.columns = {jet::NewColumn("Codigo", jet::ColumnType::kLong),
                         jet::NewColumn("Nome", jet::ColumnType::kText, 40)};
        for (int i = 0; i < 40; ++i) t.rows.push_back({int64_t{i}, std::u16string(u"nome")});
        plan.tables.push_back(t);
    }
    jet::CreateDatabase(jet::Env::Default(), c.base, plan);
    BreakRows(c.base, "Clientes", 3);
    BreakRows(c.base, "Pedidos", 1);

    c.Run();
    const Lines perdas = {"Reparo: tabela Clientes: 3 linhas perdidas.",
                          "Reparo: tabela Pedidos: 1 linha perdida."};
    const Lines log = c.Log();
    const auto reparo = std::find(log.begin(), log.end(), "Reparando Banco de Dados" + c.reparado);
    ASSERT_NE(reparo, log.end());
    EXPECT_EQ(Lines(reparo + 1, std::min(reparo + 4, log.end())),
              Concat({perdas, {"Compactando Banco de Dados" + c.reparado}}));
    EXPECT_EQ(log.back(), "Processo Concluido");
    std::string linhas;
    for (const std::string& l : Concat({{"Reparando Banco de Dados" + c.reparado}, perdas}))
        linhas += "05/12/2026 - 14:03:07 - " + l + "\r\n";
    EXPECT_NE(c.form().TxtLog->Text().find(linhas), std::string::npos) << "the log box";
    EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), "Processo Concluido."}));
    EXPECT_TRUE(c.ClientsUnlocked());
    auto db = jet::DatabaseView::Open(jet::Env::Default(), c.base);
    EXPECT_EQ(db->ReadRows(db->ReadTable("Clientes")).size(), 37u);
    EXPECT_EQ(db->ReadRows(db->ReadTable("Pedidos")).size(), 39u);
}

// The same run on a file really at Jet 3's maximum size (1 GB, sparse): nothing stands in for
// the engine's finding. The two backups write 2 GB, so it runs only when asked:
//   COMPACTADOR_LARGE_E2E=1 build/tests/app/form_tests
//       --gtest_filter='RunLarge*'
TEST(RunLarge, ADatabaseReallyAtItsMaximumSizeIsCompactedToItsRows) {
    if (std::getenv("COMPACTADOR_LARGE_E2E") == nullptr) GTEST_SKIP() << "COMPACTADOR_LARGE_E2E";
    if (!testkit::HaveMdbTools()) GTEST_SKIP() << "no mdbtools";
    Cenario c;
    ASSERT_TRUE(c.PutDatabase(kJet3Data));
    const std::string content = testkit::MdbExportDump(c.base);
    fs::resize_file(c.base, uintmax_t{1} << 30);

    c.Run();
    const Lines log = c.Log();
    ASSERT_GE(log.size(), 20u);
    EXPECT_EQ(log[18], "Erro: Banco de Dados Cheio.");
    EXPECT_EQ(c.Boxes().back(), "Processo Concluido.");
    EXPECT_EQ(c.h.end.ends, 1);
    EXPECT_LT(fs::file_size(c.base), uintmax_t{1} << 20);
    EXPECT_EQ(testkit::MdbExportDump(c.base), content);
    EXPECT_EQ(fs::file_size(c.copia), uintmax_t{1} << 30);
    EXPECT_TRUE(c.ClientsUnlocked());
}

// ---- Failures after the database has left its place ----

TEST(RunMaintenance, ACompactionThatRunsOutOfDiskPutsTheFirstBackupBack) {
    PathFaultEnv env(jet::Env::Default());
    Cenario c(&env);
    ASSERT_TRUE(c.PutDatabase(kJet4Data));
    const std::string original = ReadString(c.base);
    c.LooksFullUntilTheWarning(env, jet::Version::kJet4);
    env.Fail("write", "compac03_", ENOSPC, -1);

    c.Run();
    EXPECT_GE(env.fired(), 1);
    EXPECT_EQ(c.Log(), Concat({c.Opening(),
                               Cenario::Lock(-1),
                               c.UpToTheMove("Erro: Banco de Dados Cheio."),
                               {"Compactando Banco de Dados" + c.reparado, kFalhaCompactar,
                                "Voltando Backup", kOriginalRetornado, kFalha}}));
    EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), kFalhaCompactar, kFalha}));
    ExpectFailureExitAfterARestore(c, original);
    // No compacted file, whole or partial, is left.
    EXPECT_EQ(c.ProgramFiles(), (Lines{Carimbado("Log", ".txt"), Carimbado("compac01E_"),
                                       Carimbado("compac01_"), Carimbado("compac02_")}));
}

TEST(RunMaintenance, AMoveIntoPlaceThatFailsPutsTheFirstBackupBack) {
    PathFaultEnv env(jet::Env::Default());
    Cenario c(&env);
    ASSERT_TRUE(c.PutDatabase(kJet3Data));
    const std::string original = ReadString(c.base);
    c.LooksFullUntilTheWarning(env, jet::Version::kJet3);
    env.Fail("rename", "/base.mdb", EIO);  // the first rename into the place: the replacement

    c.Run();
    EXPECT_EQ(env.fired(), 1);
    const std::string texto = "Erro No Processo. O arquivo " + c.compactado +
                              " Não Pode Ser Renoemado. . Voltando o Backup.";
    EXPECT_EQ(c.Log(), Concat({c.Opening(),
                               Cenario::Lock(-1),
                               c.UpToTheMove("Erro: Banco de Dados Cheio."),
                               {"Compactando Banco de Dados" + c.reparado, "Restaurando Arquivo.",
                                texto, "Voltando Backup", kOriginalRetornado, kFalha}}));
    EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), texto, kFalha}));
    ExpectFailureExitAfterARestore(c, original);
    EXPECT_EQ(c.ProgramFiles(),
              (Lines{Carimbado("Log", ".txt"), Carimbado("compac01E_"), Carimbado("compac01_"),
                     Carimbado("compac02_"), Carimbado("compac03_")}));
    if (testkit::HaveMdbTools()) {
        EXPECT_EQ(testkit::MdbExportDump(c.compactado), testkit::MdbExportDump(c.base))
            << "a good compacted file";
    }
}

TEST(RunMaintenance, ARestoreThatFailsNamesTheBackupsToRestoreByHand) {
    PathFaultEnv env(jet::Env::Default());
    Cenario c(&env);
    ASSERT_TRUE(c.PutDatabase(kJet3Data));
    const std::string original = ReadString(c.base);
    c.LooksFullUntilTheWarning(env, jet::Version::kJet3);
    env.Fail("rename", "/base.mdb", EIO, -1);  // nothing can be moved into the place

    c.Run();
    const std::string texto = "Erro No Processo. O arquivo " + c.compactado +
                              " Não Pode Ser Renoemado. . Voltando o Backup.";
    const std::string restauro =
        "A restauração da cópia de segurança falhou. Restaure à mão o arquivo " + c.copia +
        " (ou " + c.extra + ") como " + c.base + ".";
    EXPECT_EQ(c.Log(), Concat({c.Opening(),
                               Cenario::Lock(-1),
                               c.UpToTheMove("Erro: Banco de Dados Cheio."),
                               {"Compactando Banco de Dados" + c.reparado, "Restaurando Arquivo.",
                                texto, "Voltando Backup", restauro, kFalha}}));
    EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), texto, restauro, kFalha}));
    EXPECT_FALSE(fs::exists(c.base));
    EXPECT_EQ(ReadString(c.copia), original) << "the backups it names are whole";
    EXPECT_EQ(ReadString(c.extra), original);
    EXPECT_TRUE(c.ClientsLocked());
    EXPECT_EQ(c.h.end.ends, 0);
}

TEST(RunMaintenance, ARepairThatFailsPutsTheFirstBackupBackWithItsErrorShown) {
    PathFaultEnv env(jet::Env::Default());
    Cenario c(&env);
    ASSERT_TRUE(c.PutDatabase(kJet4Data));
    const std::string original = ReadString(c.base);
    env.Fail("read", "compac02_", EIO, -1);  // the working file cannot be read

    c.Run();
    EXPECT_GE(env.fired(), 1) << "the repair read the working file";
    const Lines log = c.Log();
    const Lines head = Concat({c.Opening(),
                               Cenario::Lock(-1),
                               c.UpToTheMove("Erro: Sem Erros."),
                               {"Reparando Banco de Dados" + c.reparado}});
    ASSERT_EQ(log.size(), head.size() + 4);
    EXPECT_EQ(Lines(log.begin(), log.begin() + static_cast<long>(head.size())), head);
    const std::string erro = log[head.size()];
    EXPECT_EQ(erro.rfind("Erro ao Reparar Banco de dados : ", 0), 0u) << erro;
    EXPECT_NE(erro.rfind(" . Voltando o Backup"), std::string::npos) << erro;
    EXPECT_EQ(erro.find("Erro ao Reparar Banco de dados : 0 "), std::string::npos);
    EXPECT_EQ(Lines(log.end() - 3, log.end()),
              (Lines{"Voltando Backup", kOriginalRetornado, kFalha}));
    EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), erro, kFalha}));
    ExpectFailureExitAfterARestore(c, original);
    EXPECT_EQ(c.ProgramFiles(), (Lines{Carimbado("Log", ".txt"), Carimbado("compac01E_"),
                                       Carimbado("compac01_"), Carimbado("compac02_")}));
}

// A database cut short after its header: the engine does not recognise it (class 1) and
// cannot repair it. What the operator reads is Portuguese and short: the classification's
// line, the repair's box and its log line. The engine's own English text, with where the
// damage lies, follows each of those lines in the log file only, on a "Detalhe: " line.
TEST(RunMaintenance, ARepairThatFailsShowsAShortPortugueseErrorAndLogsTheEnginesDetail) {
    Cenario c;
    jet::SampleOptions sample;
    sample.rows = 50;
    jet::CreateSample(jet::Env::Default(), c.base, sample);
    jet::DamageOptions damage;
    damage.page = 2;  // the file ends inside page 2: no catalog is left
    ASSERT_TRUE(
        jet::InjectDamage(jet::Env::Default(), c.base, jet::DamageKind::kTruncatedFile, damage)
            .applied);
    const std::string original = ReadString(c.base);

    c.Run();
    const std::string erro =
        "Erro ao Reparar Banco de dados : 3056 - Não foi possível reparar este banco de dados. . "
        "Voltando o Backup";
    const Lines head = Concat({c.Opening(), Cenario::Lock(-1)});
    const Lines log = c.Log();
    ASSERT_EQ(log.size(), head.size() + 12) << ::testing::PrintToString(log);
    EXPECT_EQ(Lines(log.begin(), log.begin() + static_cast<long>(head.size())), head);
    auto at = log.begin() + static_cast<long>(head.size());
    EXPECT_EQ(at[0], "Erro: Formato Não Reconhecido. Arquivo Corrompido.");
    EXPECT_EQ(at[1], "Detalhe: Unrecognized database format '" + c.base +
                         "'. (page 2 is past the end of the file)");
    EXPECT_EQ(Lines(at + 2, at + 7), (Lines{c.Aviso(), "Fazendo Copia de Seguranca para " + c.copia,
                                            "Fazendo Copia de Seguranca para " + c.extra,
                                            "Renoemando Arquivo para " + c.reparado,
                                            "Reparando Banco de Dados" + c.reparado}));
    EXPECT_EQ(at[7], erro);
    EXPECT_EQ(at[8],
              "Detalhe: Couldn't repair this database. No row of the catalog "
              "(MSysObjects) could be read in '" +
                  c.reparado + "'.");
    EXPECT_EQ(Lines(at + 9, log.end()), (Lines{"Voltando Backup", kOriginalRetornado, kFalha}));
    EXPECT_EQ(c.Boxes(), (Lines{c.Aviso(), erro, kFalha}));
    ExpectFailureExitAfterARestore(c, original);

    // The window shows no detail: the log box holds every line of the file but those two,
    // and the status line the last message.
    const std::string box = c.form().TxtLog->Text();
    EXPECT_EQ(box.find("Detalhe"), std::string::npos);
    EXPECT_NE(box.find(erro), std::string::npos);
    EXPECT_EQ(c.form().Label1[0]->Caption(), kFalha);
}

// The engine's state is the run's: a second run in the same window starts with no report of
// the first one's repair.
TEST(RunEngine, EachRunHasAnEngineOfItsOwn) {
    Cenario c;
    ASSERT_TRUE(c.PutDatabase(kJet4Data));
    c.Run();
    ASSERT_TRUE(c.form().DBEngine().LastRepairReport()) << "the first run repaired";
    std::vector<bool> report_at_box;
    c.h.boxes.on_show = [&] {
        report_at_box.push_back(c.form().DBEngine().LastRepairReport().has_value());
    };
    c.Run();
    ASSERT_FALSE(report_at_box.empty());
    EXPECT_FALSE(report_at_box.front());
}

}  // namespace
}  // namespace apptest
