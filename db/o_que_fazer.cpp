// OQueFazer: classifies the main database by trying to open it, logs one line naming the
// class, and returns its code: 1 opened (or a format the engine does not recognise: repair,
// then compact), 2 the database is at its maximum size (compact only), 3 the disk is full, 4
// any other failure. The line of a failed open is followed in the log file by the engine's
// detail, when it has one. Continue on error: a failing step is skipped and its error stays
// in Err; the code depends on the open alone. A database that opened is closed again before
// the return; when the open fails, Banco keeps what it held and is not touched.
#include <string>

#include "app/form1.h"
#include "db/engine_access.h"

int32_t Form1::OQueFazer() {
    int32_t Codigo = 0;

    Passo([&] { Err.Clear(); });
    Passo([&] { Banco = DBEngine(Arquivos()).Workspaces(0).OpenDatabase(ArquivoPrincipal); });

    switch (Err.Number) {
        case 0:
            Passo([&] { GravaLog("Erro: Sem Erros."); });
            Passo([&] { Objeto(Banco).Close(); });
            Codigo = 1;
            break;
        case 3343:
            Passo([&] { GravaLog("Erro: Formato Não Reconhecido. Arquivo Corrompido."); });
            GravaDetalhe();
            Codigo = 1;
            break;
        case 3036:
            Passo([&] { GravaLog("Erro: Banco de Dados Cheio."); });
            GravaDetalhe();
            Codigo = 2;
            break;
        case 61:
            Passo([&] { GravaLog("Erro: Disco Cheio."); });
            GravaDetalhe();
            Codigo = 3;
            break;
        default:
            Passo([&] { GravaLog("Erro: " + std::to_string(Err.Number) + "-" + Err.Description); });
            GravaDetalhe();
            Codigo = 4;
            break;
    }
    return Codigo;
}
