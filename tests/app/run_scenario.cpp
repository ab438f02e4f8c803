#include "tests/app/run_scenario.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "jet/database/database.h"
#include "jet/testing/fixtures.h"
#include "platform/text.h"
#include "tests/jet/update_test_util.h"

namespace runtest {

namespace fs = std::filesystem;

std::string DataFile(const std::string& name) {
    struct Folder {
        fs::path path = fs::temp_directory_path() / ("run_data_" + std::to_string(::getpid()));
        Folder() { fs::create_directories(path); }
        ~Folder() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    const fs::path path = folder.path / name;
    if (!fs::exists(path) && !jet::testing::PutTestFile(name, path)) return {};
    return path.string();
}

Cenario::Cenario(jet::Env* env, jet::Version clients) : h(testing_app::Style::kNative, env) {
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

bool Cenario::PutDatabase(const std::string& source) {
    if (!fs::exists(source)) return false;
    fs::copy_file(source, base, fs::copy_options::overwrite_existing);
    fs::permissions(base, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    return true;
}

void Cenario::LooksFullUntilTheWarning(testing_app::PathFaultEnv& env, jet::Version version) {
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
    return jettest::ExportColumn(tavo, "tavo", "bloqueado");
}
Lines Cenario::FlagsTavo1() const {
    return jettest::ExportColumn(tavo1, "tavo", "bloqueado");
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

Lines Concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

int JetutilCheck(const std::string& path) {
    return jettest::Run(std::string(JETUTIL_PATH) + " check " + jettest::Quote(path) +
                        " >/dev/null 2>&1")
        .status;
}

bool HaveMdbTools() {
    return jettest::HaveMdbTools();
}

std::string Dump(const std::string& path) {
    const std::string file = jettest::Quote(path);
    jettest::Output tables = jettest::Run("LC_ALL=C.UTF-8 mdb-tables -1 " + file + " 2>/dev/null");
    if (tables.status != 0) return "<unreadable: mdb-tables " + std::to_string(tables.status) + ">";
    Lines names;
    std::istringstream in(tables.text);
    for (std::string name; std::getline(in, name);)
        if (!name.empty()) names.push_back(name);
    std::sort(names.begin(), names.end());

    std::string dump;
    for (const std::string& name : names) {
        jettest::Output out = jettest::Run(
            "LC_ALL=C.UTF-8 mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' -b hex " +
            file + " " + jettest::Quote(name) + " 2>/dev/null");
        if (out.status != 0) return "<unreadable: mdb-export " + name + ">";
        Lines lines;
        std::istringstream rows(out.text);
        for (std::string line; std::getline(rows, line);) lines.push_back(line);
        std::sort(lines.begin(), lines.end());
        dump += "=== TABLE " + name + " ===\n";
        for (const std::string& line : lines) dump += line + "\n";
    }
    return dump;
}

}  // namespace runtest
