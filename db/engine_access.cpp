#include "db/engine_access.h"

#include "platform/error.h"

dao::Database& Objeto(const std::shared_ptr<dao::Database>& variable) {
    if (!variable) throw platform::VbError(platform::kObjectNotSet);
    return *variable;
}

namespace {

std::string Counted(uint64_t n, const char* um, const char* varios) {
    return std::to_string(n) + " " + (n == 1 ? um : varios);
}

// A table the repair found without its catalog row gets a made-up name; the Jet system
// tables found that way keep theirs.
bool WithoutOriginalName(const jet::RepairedTable& t) {
    return t.recovered && t.name.rfind("RecoveredTable_", 0) == 0;
}

// What the repair had to make anew because the file had lost it: page 0 (and with it what
// only page 0 held) and the definitions replaced by the standard ones.
std::vector<std::string> RebuiltParts(const jet::RepairReport& report) {
    std::vector<std::string> linhas;
    if (report.header_rebuilt)
        linhas.push_back(report.header_password_given
                             ? "Reparo: cabeçalho do banco (página 0) refeito com a senha "
                               "informada; data de criação original perdida."
                             : "Reparo: cabeçalho do banco (página 0) refeito; senha e data de "
                               "criação originais perdidas.");
    for (const jet::RepairedTable& t : report.tables)
        if (t.standard_definition)
            linhas.push_back("Reparo: definição da tabela " + t.name + " refeita pela padrão.");
    return linhas;
}

}  // namespace

std::vector<std::string> RepairLogLines(const jet::RepairReport& report) {
    std::vector<std::string> linhas;
    if (report.sort_order_replaced != 0)
        linhas.push_back("Reparo: ordem de classificação " +
                         std::to_string(report.sort_order_replaced) +
                         " substituída por Geral; índices de texto refeitos.");
    for (const jet::RepairedTable& t : report.tables) {
        std::vector<std::string> perdas;
        if (t.rows_dropped > 0)
            perdas.push_back(Counted(t.rows_dropped, "linha perdida", "linhas perdidas"));
        if (t.values_cut > 0)
            perdas.push_back(Counted(t.values_cut, "valor cortado", "valores cortados"));
        if (t.pages_lost > 0)
            perdas.push_back(Counted(t.pages_lost, "página ilegível", "páginas ilegíveis"));
        const bool sem_nome = WithoutOriginalName(t);
        if (perdas.empty() && !sem_nome) continue;
        std::string linha = "Reparo: tabela " + t.name;
        if (sem_nome) linha += " recuperada sem o nome original";
        for (size_t i = 0; i < perdas.size(); ++i) linha += (i == 0 ? ": " : ", ") + perdas[i];
        linhas.push_back(linha + ".");
    }
    for (const std::string& linha : RebuiltParts(report)) linhas.push_back(linha);
    for (const std::string& nome : report.lost_table_names)
        linhas.push_back("Reparo: tabela " + (nome.empty() ? std::string("sem nome") : nome) +
                         " perdida por inteiro.");
    return linhas;
}
