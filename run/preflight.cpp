// The run's pre-flight: lock the client system, classify the database, clear its lock file
// (with the operator deciding while someone still holds it), clear stale temporaries of this
// run's stamp, and warn the operator which backups to restore should the machine stop.
#include <array>

#include "app/form1.h"
#include "db/o_que_fazer.h"

namespace {

constexpr const char* kTextoOutroErro =
    "Erro Não Reconhecido.Comunique ao supervisor. Envie o arquivo de Log ao Responsável.";
constexpr const char* kTextoDiscoCheio =
    "O Disco está cheio. Apague arquivos desnecessários e tente operar novamente. Comunique ao "
    "supervisor. Envie o arquivo de Log ao Responsável.";
constexpr const char* kTextoLdbEmUso =
    "O Arquivo ainda está em uso. Verifique os usuários e clique para tentar novamente.";

}  // namespace

bool Form1::VerificacoesIniciais(int32_t& Classificacao) {
    // System lock: from here on only the success exit unlocks the client system.
    Passo([&] { BloqueioTavos(-1); });

    // Classification. Any other failure is tested before a full disk; ending the program skips
    // every later step.
    Passo([&] { Classificacao = OQueFazer(); });
    if (Teste([&] { return Classificacao == kClasseOutroErro; })) {
        Passo([&] { MsgBox(kTextoOutroErro); });
        End();
    }
    if (Teste([&] { return Classificacao == kClasseDiscoCheio; })) {
        Passo([&] { MsgBox(kTextoDiscoCheio); });
        End();
    }

    // The lock file. A successful delete leaves the loop at once, without looking again.
    if (Teste([&] { return Existe(ArquivoLDB); })) {
        Passo([&] { GravaLog("Tentativa Apagar LDB :Arquivo " + ArquivoLDB + "."); });
        while (Teste([&] { return Existe(ArquivoLDB); })) {
            Passo([&] { Err.Clear(); });
            Passo([&] { Arquivos().Delete(ArquivoLDB); });
            if (Teste([&] { return Err.Number == 0; })) break;
            Passo([&] { GravaLog("Arquivo LDB em uso."); });
            Passo([&] { QuemUsa(); });
            if (Teste([&] {
                    return MsgBox(kTextoLdbEmUso, platform::vbOKCancel) == platform::vbCancel;
                })) {
                Passo([&] { GravaLog("Encerrado Pelo Usuário."); });
                End();
            }
        }
        Passo([&] { GravaLog("Arquivo LDB Eliminado."); });
    }

    // Stale temporaries with this run's names. The extra copy's log text has a capital "E"
    // where its box text has a small one.
    struct Temporario {
        const std::string* nome;
        const char* caixa;
        const char* log;
    };
    const std::array<Temporario, 4> temporarios = {{
        {&ArquivoCopia,
         "O Arquivo Temporario 1 Não pode ser apagado para inicio do processo. Pode estar em uso "
         "por outro processo.",
         nullptr},
        {&ArquivoCopiaExtra,
         "O Arquivo Temporario 1 extra Não pode ser apagado para inicio do processo. Pode estar em "
         "uso por outro processo.",
         "O Arquivo Temporario 1 Extra Não pode ser apagado para inicio do processo. Pode estar em "
         "uso por outro processo."},
        {&ArquivoReparado,
         "O Arquivo Temporario 2 Não pode ser apagado para inicio do processo. Pode estar em uso "
         "por outro processo.",
         nullptr},
        {&ArquivoCompactado,
         "O Arquivo Temporario 3 Não pode ser apagado para inicio do processo. Pode estar em uso "
         "por outro processo.",
         nullptr},
    }};
    for (const Temporario& t : temporarios) {
        Passo([&] { ArquivoAtual = *t.nome; });
        if (Teste([&] { return Existe(ArquivoAtual); })) {
            Passo([&] { Arquivos().Delete(ArquivoAtual); });
        }
        if (Teste([&] { return Existe(ArquivoAtual); })) {
            Passo([&] { MsgBox(t.caixa); });
            Passo([&] { GravaLog(t.log ? t.log : t.caixa); });
            SaidaFalha();
            return false;
        }
    }

    // The warning that names the backups: logged first, then shown.
    std::string Aviso;
    Passo([&] {
        Aviso =
            "ATENÇÂO!! OS PROCESSOS A SEGUIR PODEM DEMORAR ALGUNS MINUTOS. POR FAVOR AGUARDE. NÃO "
            "DESLIGUE O COMPUTADOR OU ENCERRE O SISTEMA. CASO O SISTEMA FECHE, RESTAURE O "
            "ARQUIVO " +
            ArquivoCopia + " OU " + ArquivoCopiaExtra + " COMO " + ArquivoPrincipal;
    });
    Passo([&] { GravaLog(Aviso); });
    Passo([&] { MsgBox(Aviso); });
    return true;
}
