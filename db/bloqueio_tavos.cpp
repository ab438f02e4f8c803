// BloqueioTavos: writes the lock flag of the client system, `bloqueado` in table `tavo`, into
// every row of tavo.mdb and then of tavo1.mdb, each when present: -1 locks the system, 0
// releases it. Every step is logged.
//
// One handler covers the whole body: a failing step (the existence test, the open, the
// statement, the close, a log call) is logged as "Erro Tavo <number>-<text>" (the engine's
// detail on the log file's next line), the error is cleared, and the procedure goes on with the
// step after the failing one. So a database that does not open still gets its statement and its
// close, each failing on the database variable in turn, and never runs against another database.
// When the handler's own log call fails, that error ends the procedure and reaches the caller.
#include <string>

#include "app/form1.h"
#include "db/engine_access.h"

void Form1::BloqueioTavos(int32_t Tipo) {
    // Runs one step under the handler (not the window's Passo: this one logs and clears).
    auto Etapa = [this](auto&& step) {
        if (!Err.Capture(step)) return;
        GravaLog("Erro Tavo " + std::to_string(Err.Number) + "-" + Err.Description);
        GravaDetalhe();
        Err.Clear();
    };
    const std::string valor = std::to_string(Tipo);

    auto AlteraSistema = [&](const std::string& Arquivo, const std::string& Nome) {
        // A failing existence test resumes inside the test's branch: the database counts as
        // present.
        bool presente = true;
        Etapa([&] { presente = Existe(Arquivo); });
        if (!presente) return;

        Etapa([&] { GravaLog("Alterando o Sistema " + Nome + " (" + valor + ")."); });
        Etapa([&] { Banco = DBEngine().Workspaces(0).OpenDatabase(Arquivo); });
        Etapa([&] { Objeto(Banco).Execute("update tavo set bloqueado = " + valor); });
        Etapa([&] { Objeto(Banco).Close(); });
        if (Tipo == -1) {
            Etapa([&] { GravaLog("Sistema Bloqueado."); });
        } else {
            Etapa([&] { GravaLog("Sistema Desbloqueado."); });
        }
        Etapa([&] { GravaLog("Alterado o Sistema " + Nome + " (" + valor + ")."); });
    };

    AlteraSistema(ArquivoTavo, "Tavo.mdb");
    AlteraSistema(ArquivoTavo1, "Tavo1.mdb");
}
