// Putting the first backup copy back after a failure past the move of the database.
//
// The copy is checked: the database's place must then hold a file of the backup's size.
// When it does not, the operator is told plainly that the restore failed and which backup to
// restore by hand, instead of being told that the original is back.
#include "app/form1.h"

void Form1::VoltaBackup(bool RepintaDepois) {
    Passo([&] { GravaLog("Voltando Backup"); });
    Passo([&] { Refresh(); });
    Passo([&] { ArquivoAtual = ArquivoCopia; });
    Passo([&] { Arquivos().Copy(ArquivoAtual, ArquivoPrincipal); });

    bool restaurado = false;
    Passo([&] {
        jet::Env* env = Arquivos().env();
        restaurado = Existe(ArquivoPrincipal) &&
                     env->Stat(ArquivoPrincipal).size == env->Stat(ArquivoCopia).size;
    });
    if (restaurado) {
        Passo([&] { GravaLog("Arquivo Original Retornado. Falha no reparo. Tente novamente."); });
    } else {
        const std::string texto =
            "A restauração da cópia de segurança falhou. Restaure à mão o "
            "arquivo " +
            ArquivoCopia + " (ou " + ArquivoCopiaExtra + ") como " + ArquivoPrincipal + ".";
        Passo([&] { GravaLog(texto); });
        Passo([&] { MsgBox(texto); });
    }
    if (RepintaDepois) Passo([&] { Refresh(); });
}
