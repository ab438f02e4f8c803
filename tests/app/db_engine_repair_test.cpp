// The engine's RepairDatabase as the run calls it: one file name, the file repaired in place,
// failures carrying the engine's numbers and texts with the file left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dao/dbengine.h"
#include "db/engine_access.h"
#include "jet/base/error.h"
#include "jet/read/checker.h"
#include "jet/testing/damage.h"
#include "jet/testing/fault_env.h"
#include "tests/app/db_test_util.h"

namespace {

namespace fs = std::filesystem;
using jet::testkit::TempDir;

// The JetError `call` raises (number 0 when none).
template <class Call>
jet::JetError ErrorOf(Call&& call) {
    try {
        call();
    } catch (const jet::JetError& e) {
        return e;
    }
    return jet::JetError(0, "");
}

// Every user table's rows as mdb-export prints them, sorted (a rebuild may move rows).
std::vector<std::vector<std::vector<std::string>>> UserRows(const std::string& path) {
    std::vector<std::vector<std::vector<std::string>>> tables;
    std::istringstream names(jet::testkit::Run("mdb-tables -1 " + jet::testkit::Quote(path)).text);
    for (std::string table; std::getline(names, table);) {
        if (table.empty()) continue;
        tables.push_back(jet::testkit::ExportTable(path, table));
        std::sort(tables.back().begin(), tables.back().end());
    }
    return tables;
}

bool CheckerClean(const std::string& path) {
    jet::CheckOptions strict;
    strict.strict = true;
    return jet::CheckFile(jet::Env::Default(), path, strict).clean();
}

TEST(DBEngineRepair, AHealthyFileKeepsEveryRowAndStillOpens) {
    if (!jet::testkit::HaveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir dir;
    for (const char* file : {apptest::kJet3File, apptest::kJet4File}) {
        SCOPED_TRACE(file);
        const std::string path = dir / "base.mdb";
        COPY_TEST_FILE_OR_SKIP(file, path);
        const auto before = UserRows(path);
        ASSERT_FALSE(before.empty());
        dao::DBEngine engine(jet::Env::Default());
        EXPECT_EQ(ErrorOf([&] { engine.RepairDatabase(path); }).number(), 0);
        ASSERT_TRUE(engine.LastRepairReport());
        EXPECT_TRUE(engine.LastRepairReport()->lossless()) << engine.LastRepairReport()->Summary();
        EXPECT_EQ(RepairLogLines(*engine.LastRepairReport()), std::vector<std::string>{});
        EXPECT_EQ(UserRows(path), before);
        EXPECT_TRUE(CheckerClean(path));
        engine.Workspaces(0).OpenDatabase(path)->Close();
        for (const auto& entry : fs::directory_iterator(dir.path()))
            EXPECT_EQ(entry.path().filename(), "base.mdb") << "left behind";
    }
}

// The damage a machine that stopped mid-write leaves: the file is put right in place and the
// run can compact it next.
TEST(DBEngineRepair, ADamagedFileIsPutRightInPlace) {
    TempDir dir;
    const std::string path = dir / "base.mdb";
    for (jet::DamageKind kind :
         {jet::DamageKind::kZeroedPage, jet::DamageKind::kBrokenMemoChain,
          jet::DamageKind::kBrokenUsageMap, jet::DamageKind::kInconsistentState}) {
        SCOPED_TRACE(jet::DamageKindName(kind));
        COPY_TEST_FILE_OR_SKIP(apptest::kJet4File, path);
        jet::DamageOptions options;
        options.seed = 3;
        ASSERT_TRUE(jet::InjectDamage(jet::Env::Default(), path, kind, options).applied);
        dao::DBEngine engine(jet::Env::Default());
        EXPECT_EQ(ErrorOf([&] { engine.RepairDatabase(path); }).number(), 0);
        EXPECT_TRUE(CheckerClean(path));
        engine.Workspaces(0).OpenDatabase(path)->Close();
        if (jet::testkit::HaveMdbTools()) {
            EXPECT_FALSE(UserRows(path).empty());
        }
        const std::string copy = dir / "compactado.mdb";
        EXPECT_EQ(ErrorOf([&] { engine.CompactDatabase(path, copy); }).number(), 0);
        fs::remove(copy);
    }
}

// Each failure the run can meet gives the engine's number and a text naming the file, and the
// file is byte for byte what it was, with nothing left beside it.
TEST(DBEngineRepair, FailuresKeepJetsNumbersAndLeaveTheFileAlone) {
    TempDir dir;
    const std::string path = dir / "base.mdb";
    COPY_TEST_FILE_OR_SKIP(apptest::kJet3File, path);
    dao::DBEngine engine(jet::Env::Default());

    engine.RepairDatabase(path);
    ASSERT_TRUE(engine.LastRepairReport());
    const std::vector<uint8_t> original = jet::testkit::ReadAll(path);
    EXPECT_EQ(ErrorOf([&] { engine.RepairDatabase(dir / "falta.mdb"); }).number(),
              jet::kFileNotFound);
    EXPECT_FALSE(engine.LastRepairReport()) << "a failed repair leaves no report behind";
    EXPECT_EQ(ErrorOf([&] { engine.RepairDatabase(dir / "pasta/falta.mdb"); }).number(),
              jet::kNotValidPath);
    {
        // Open through the engine itself: a database in use is not repaired under its users.
        std::shared_ptr<dao::Database> db = engine.Workspaces(0).OpenDatabase(path);
        EXPECT_EQ(ErrorOf([&] { engine.RepairDatabase(path); }).number(), jet::kFileInUse);
    }
    EXPECT_EQ(jet::testkit::ReadAll(path), original);

    // Not a Jet file at all: nothing tells its version or code page.
    const std::string text = dir / "texto.mdb";
    std::ofstream(text, std::ios::binary) << std::string(4096, 'x');
    const jet::JetError unrecognised = ErrorOf([&] { engine.RepairDatabase(text); });
    EXPECT_EQ(unrecognised.number(), jet::kUnrecognizedFormat);
    EXPECT_NE(std::string(unrecognised.what()).find("texto.mdb"), std::string::npos)
        << unrecognised.what();
    EXPECT_EQ(fs::file_size(text), 4096u);
    fs::remove(text);

    // Page 0 gone: the other pages still show a Jet file, so the header is rebuilt from them
    // and the repaired file opens.
    const std::string zeroed = dir / "zerada.mdb";
    fs::copy_file(path, zeroed);
    {
        std::fstream f(zeroed, std::ios::in | std::ios::out | std::ios::binary);
        f.write(std::string(2048, '\0').data(), 2048);
    }
    EXPECT_EQ(ErrorOf([&] { engine.RepairDatabase(zeroed); }).number(), 0);
    EXPECT_TRUE(engine.LastRepairReport() && engine.LastRepairReport()->header_rebuilt);
    engine.Workspaces(0).OpenDatabase(zeroed)->Close();
    fs::remove(zeroed);

    // The disk is full half way through the repair.
    jet::FaultInjectingEnv env(jet::Env::Default());
    const std::string other = dir / "outra.mdb";
    fs::copy_file(path, other);
    dao::DBEngine faulty(&env);
    faulty.RepairDatabase(other);
    const uint64_t operations = env.operations();
    fs::remove(other);
    env.Reset();
    env.FailAt(operations / 2, ENOSPC);
    EXPECT_EQ(ErrorOf([&] { faulty.RepairDatabase(path); }).number(), jet::kDiskFull);
    EXPECT_TRUE(env.fired());
    EXPECT_EQ(jet::testkit::ReadAll(path), original);

    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename(), "base.mdb") << "left behind";
}

// What the run logs after a repair that lost something: a line per table, counts in the
// singular or the plural, nothing for what was no loss.
TEST(DBEngineRepair, TheLossesOfARepairReadAsTheRunLogsThem) {
    auto table = [](const char* name, uint64_t dropped, uint64_t cut, uint32_t pages) {
        jet::RepairedTable t;
        t.name = name;
        t.rows_dropped = dropped;
        t.values_cut = cut;
        t.pages_lost = pages;
        t.rows_unmapped = 28;  // never a loss
        return t;
    };
    jet::RepairReport report;
    report.tables = {table("MSysObjects", 0, 0, 0), table("Clientes", 12, 1, 0),
                     table("Pedidos", 1, 2, 1), table("Itens", 0, 0, 3)};
    jet::RepairedTable recovered = table("RecoveredTable_57", 0, 0, 0);
    recovered.recovered = true;
    jet::RepairedTable remade = table("MSysACEs", 0, 0, 0);
    remade.recovered = true;  // a Jet system table remade keeps its name
    remade.standard_definition = true;
    report.tables.push_back(recovered);
    report.tables.push_back(remade);
    report.lost_table_names = {"Vendas", ""};
    report.header_rebuilt = true;
    EXPECT_EQ(RepairLogLines(report),
              (std::vector<std::string>{
                  "Reparo: tabela Clientes: 12 linhas perdidas, 1 valor cortado.",
                  "Reparo: tabela Pedidos: 1 linha perdida, 2 valores cortados, 1 página ilegível.",
                  "Reparo: tabela Itens: 3 páginas ilegíveis.",
                  "Reparo: tabela RecoveredTable_57 recuperada sem o nome original.",
                  "Reparo: cabeçalho do banco (página 0) refeito; senha e data de criação "
                  "originais perdidas.",
                  "Reparo: definição da tabela MSysACEs refeita pela padrão.",
                  "Reparo: tabela Vendas perdida por inteiro.",
                  "Reparo: tabela sem nome perdida por inteiro."}));
    report.tables = {table("Clientes", 0, 0, 0)};
    report.lost_table_names.clear();
    report.header_password_given = true;
    EXPECT_EQ(RepairLogLines(report),
              std::vector<std::string>{"Reparo: cabeçalho do banco (página 0) refeito com a senha "
                                       "informada; data de criação original perdida."});
    report.header_rebuilt = false;
    EXPECT_EQ(RepairLogLines(report), std::vector<std::string>{});
    // A sort order given up for General comes first, and loses nothing.
    report.sort_order_replaced = 1054;
    report.tables = {table("Clientes", 2, 0, 0)};
    EXPECT_EQ(RepairLogLines(report),
              (std::vector<std::string>{
                  "Reparo: ordem de classificação 1054 substituída por Geral; índices de texto "
                  "refeitos.",
                  "Reparo: tabela Clientes: 2 linhas perdidas."}));
}

}  // namespace
