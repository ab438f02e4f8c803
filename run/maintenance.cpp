// The run's main work: two backup copies, the move of the database to its working name, the
// repair (kClasseReparar only), the compaction, and the move of the compacted file into the
// database's place. Each step is judged by a test of its effect; a failure after the database
// has left its place puts the first backup copy back.
#include <string>
#include <vector>

#include "app/form1.h"
#include "db/engine_access.h"
#include "db/o_que_fazer.h"

namespace {

constexpr const char* kFalhaCopia =
    "O Arquivo de Segurança Não Pode Ser Criado. O Arquivo Principal pode estar em uso.";
constexpr const char* kFalhaCopiaExtra =
    "O Arquivo de Segurança Extra Não Pode Ser Criado. O Arquivo Principal pode estar em uso.";
constexpr const char* kFalhaRenomear =
    "Erro No Processo. O arquivo Não Pode Ser Renomeado.(1) O Arquivo Principal pode estar "
    "sendo udado em algum processo.";
constexpr const char* kFalhaCompactar =
    "Erro No Processo. O arquivo Não Foi Compactado. Voltando o Backup";

}  // namespace

bool Form1::CopiaReparaCompacta(int32_t Classificacao) {
    // 1. First backup.
    Passo([&] { ArquivoAtual = ArquivoCopia; });
    Passo([&] { GravaLog("Fazendo Copia de Seguranca para " + ArquivoAtual); });
    Passo([&] { Refresh(); });
    Passo([&] { Arquivos().Copy(ArquivoPrincipal, ArquivoAtual); });
    Passo([&] { ArquivoAtual = ArquivoCopia; });
    if (Teste([&] { return !Existe(ArquivoAtual); })) {
        Passo([&] { MsgBox(kFalhaCopia); });
        Passo([&] { GravaLog(kFalhaCopia + ArquivoAtual); });
        SaidaFalha();
        return false;
    }

    // 2. Extra backup.
    Passo([&] { ArquivoAtual = ArquivoCopiaExtra; });
    Passo([&] { GravaLog("Fazendo Copia de Seguranca para " + ArquivoAtual); });
    Passo([&] { Refresh(); });
    Passo([&] { Arquivos().Copy(ArquivoPrincipal, ArquivoAtual); });
    Passo([&] { ArquivoAtual = ArquivoCopiaExtra; });
    if (Teste([&] { return !Existe(ArquivoAtual); })) {
        Passo([&] { MsgBox(kFalhaCopiaExtra); });
        Passo([&] { GravaLog(kFalhaCopiaExtra); });
        SaidaFalha();
        return false;
    }

    // 3. The database to its working name. Nothing to restore: it has not left its place.
    Passo([&] { ArquivoAtual = ArquivoReparado; });
    Passo([&] { GravaLog("Renoemando Arquivo para " + ArquivoAtual); });
    Passo([&] { Refresh(); });
    Passo([&] { Arquivos().Rename(ArquivoPrincipal, ArquivoAtual); });
    if (Teste([&] { return !Existe(ArquivoAtual); })) {
        Passo([&] { MsgBox(kFalhaRenomear); });
        Passo([&] { GravaLog(kFalhaRenomear); });
        SaidaFalha();
        return false;
    }

    // 4. Repair, for kClasseReparar only; judged by the error number.
    if (Teste([&] { return Classificacao == kClasseReparar; })) {
        Passo([&] { ArquivoAtual = ArquivoReparado; });
        Passo([&] { GravaLog("Reparando Banco de Dados" + ArquivoAtual); });
        Passo([&] { Refresh(); });
        Passo([&] { Err.Clear(); });
        Passo([&] { DBEngine().RepairDatabase(ArquivoAtual); });
        if (Teste([&] { return Err.Number != 0; })) {
            // The text is built again after the box closes, from the error as it then stands.
            auto texto = [&] {
                return "Erro ao Reparar Banco de dados : " + std::to_string(Err.Number) + " - " +
                       Err.Description + " . Voltando o Backup";
            };
            Passo([&] { MsgBox(texto()); });
            Passo([&] { GravaLog(texto()); });
            GravaDetalhe();
            VoltaBackup(false);
            SaidaFalha();
            return false;
        }
        // A repair that had to drop rows, cut values or lose tables does not pass for a clean
        // one: what it lost follows its line, a line per table (nothing when nothing was lost).
        std::vector<std::string> perdas;
        Passo([&] {
            if (const auto& relatorio = DBEngine().LastRepairReport())
                perdas = RepairLogLines(*relatorio);
        });
        for (const std::string& linha : perdas) Passo([&] { GravaLog(linha); });
    }

    // 5. Compaction, judged by its output file alone.
    Passo([&] { ArquivoAtual = ArquivoReparado; });
    Passo([&] { GravaLog("Compactando Banco de Dados" + ArquivoAtual); });
    Passo([&] { Refresh(); });
    Passo([&] { DBEngine().CompactDatabase(ArquivoAtual, ArquivoCompactado); });
    Passo([&] { ArquivoAtual = ArquivoCompactado; });
    if (Teste([&] { return !Existe(ArquivoAtual); })) {
        Passo([&] { MsgBox(kFalhaCompactar); });
        Passo([&] { GravaLog(kFalhaCompactar); });
        VoltaBackup(false);
        SaidaFalha();
        return false;
    }

    // 6. The compacted file into the database's place. "Restaurando Arquivo." appears twice
    // on screen and once in the log file.
    Passo([&] { ArquivoAtual = ArquivoCompactado; });
    Passo([&] { GravaLog("Restaurando Arquivo."); });
    Passo([&] {
        platform::DateTime dataAtual = Agora();
        platform::DateTime hora = Agora();
        TxtLog->SetText(TxtLog->Text() + platform::FormatDdMmYyyy(dataAtual) + " - " +
                        platform::FormatHhMmSs(hora) + " - " + Label1[0]->Caption() + "\r\n");
    });
    Passo([&] { Refresh(); });
    Passo([&] { Arquivos().Rename(ArquivoAtual, ArquivoPrincipal); });
    if (Teste([&] { return !Existe(ArquivoPrincipal); })) {
        auto texto = [&] {
            return "Erro No Processo. O arquivo " + ArquivoAtual +
                   " Não Pode Ser Renoemado. . Voltando o Backup.";
        };
        Passo([&] { MsgBox(texto()); });
        Passo([&] { GravaLog(texto()); });
        VoltaBackup(true);
        SaidaFalha();
        return false;
    }
    return true;
}
