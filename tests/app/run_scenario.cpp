#include "tests/app/run_scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "jet/database/database.h"
#include "jet/testing/fixtures.h"
#include "platform/text.h"
#include "tests/support/corpus.h"
#include "tests/support/oracles.h"
#include "tests/support/process.h"
#include "tests/support/samples.h"

namespace apptest {

namespace fs = std::filesystem;

std::string RunCaseName(const ::testing::TestParamInfo<RunCase>& info) {
    return "Class" + std::to_string(info.param.classe) + testkit::VersionName(info.param.version) +
           (info.param.restores ? "Restores" : "");
}

Cenario::Cenario(jet::Env* env, jet::Version clients) : h(apptest::Style::kNative, env) {
    dados = (h.dir.path() / "dados").string();
    fs::create_directories(dados);
    base = dados + kSep + "base.mdb";
    ldb = dados + kSep + "base.ldb";
    tavo = dados + kSep + "tavo.mdb";
    tavo1 = dados + kSep + "tavo1.mdb";
    jet::CreateTavoFixture(jet::Env::Default(), tavo, clients, jet::TavoFlag::kBoolean);
    jet::CreateTavoFixture(jet::Env::Default(), tavo1, clients, jet::TavoFlag::kInteger);
    // Clear to begin with, so a lock shows in every row.
    for (const std::string& client : {tavo, tavo1}) {
        jet::Database::Open(jet::Env::Default(), client, {})
            ->Execute("update tavo set bloqueado = 0");
    }
    const std::string prog = h.program_folder + kSep;
    log = prog + "Log" + kCarimbo + ".txt";
    copia = prog + "compac01_" + kCarimbo + ".mdb";
    extra = prog + "compac01E_" + kCarimbo + ".mdb";
    reparado = prog + "compac02_" + kCarimbo + ".mdb";
    compactado = prog + "compac03_" + kCarimbo + ".mdb";
}

bool Cenario::PutDatabase(const std::string& name) {
    return testkit::PutTestFile(name, base);
}

void Cenario::LooksFullUntilTheWarning(apptest::PathFaultEnv& env, jet::Version version) {
    env.ReportSize(kSep + "base.mdb", jet::MaxFileSize(version));
    std::function<void()> before = h.boxes.on_show;
    h.boxes.on_show = [&env, before] {
        env.ClearSizes();
        if (before) before();
    };
}

Lines Cenario::ProgramFiles() const {
    Lines names;
    for (const auto& entry : fs::directory_iterator(h.program_folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Lines Cenario::FlagsTavo() const {
    return testkit::ExportColumn(tavo, "tavo", "bloqueado");
}
Lines Cenario::FlagsTavo1() const {
    return testkit::ExportColumn(tavo1, "tavo", "bloqueado");
}
bool Cenario::ClientsLocked() const {
    return FlagsTavo() == Lines(jet::kTavoRows, "1") && FlagsTavo1() == Lines(jet::kTavoRows, "-1");
}
bool Cenario::ClientsUnlocked() const {
    return FlagsTavo() == Lines(jet::kTavoRows, "0") && FlagsTavo1() == Lines(jet::kTavoRows, "0");
}

Lines Cenario::Opening() const {
    return {" ",
            "Inicio.",
            "Arquivos Envolvidos:",
            "Log:" + log + ";",
            "Principal:" + base + ";",
            "LBD:" + ldb + ";",
            "Tavo:" + tavo + ";",
            "Tavo1:" + tavo1 + ";",
            "Copia:" + copia + ";",
            "Copia Extra:" + extra + ";",
            "Reparado:" + reparado + ";",
            "Compactado:" + compactado + ";"};
}

Lines Cenario::Lock(int tipo) {
    const std::string v = std::to_string(tipo);
    const std::string sistema = tipo == -1 ? "Sistema Bloqueado." : "Sistema Desbloqueado.";
    return {"Alterando o Sistema Tavo.mdb (" + v + ").",
            sistema,
            "Alterado o Sistema Tavo.mdb (" + v + ").",
            "Alterando o Sistema Tavo1.mdb (" + v + ").",
            sistema,
            "Alterado o Sistema Tavo1.mdb (" + v + ")."};
}

Lines Cenario::UpToTheMove(const std::string& finding) const {
    return {finding, Aviso(), "Fazendo Copia de Seguranca para " + copia,
            "Fazendo Copia de Seguranca para " + extra, "Renoemando Arquivo para " + reparado};
}

Lines Cenario::Success(ClasseBanco classe) const {
    const bool reparar = classe == kClasseReparar;
    return Concat({Opening(),
                   Lock(-1),
                   UpToTheMove(reparar ? "Erro: Sem Erros." : "Erro: Banco de Dados Cheio."),
                   reparar ? Lines{"Reparando Banco de Dados" + reparado} : Lines{},
                   {"Compactando Banco de Dados" + reparado, "Restaurando Arquivo."},
                   Lock(0),
                   {"Processo Concluido"}});
}

std::string Cenario::Aviso() const {
    return "ATENÇÂO!! OS PROCESSOS A SEGUIR PODEM DEMORAR ALGUNS MINUTOS. POR FAVOR AGUARDE. NÃO "
           "DESLIGUE O COMPUTADOR OU ENCERRE O SISTEMA. CASO O SISTEMA FECHE, RESTAURE O ARQUIVO " +
           copia + " OU " + extra + " COMO " + base;
}

std::string Cenario::LogBytes(const Lines& messages) {
    std::string bytes;
    for (const std::string& m : messages) {
        bytes += "05/12/2026 - 14:03:07 - " + platform::ToCp1252(m) + "\r\n";
    }
    return bytes;
}

void Cenario::ExpectFailureExit(const std::string& database, const std::string& why) const {
    EXPECT_EQ(Log().back(), kFalha);
    EXPECT_EQ(Boxes().back(), kFalha);
    EXPECT_EQ(h.end.ends, 0) << "the window stays open";
    EXPECT_FALSE(h.form->Command1->Visible());
    EXPECT_EQ(h.form->MousePointer(), vbArrow);
    EXPECT_TRUE(ClientsLocked());
    EXPECT_EQ(ReadString(base), database) << why;
}

Lines Concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

int JetutilCheck(const std::string& path) {
    return testkit::Run(testkit::JetutilCommand() + " check " + testkit::Quote(path) +
                        " >/dev/null 2>&1")
        .status;
}

}  // namespace apptest
