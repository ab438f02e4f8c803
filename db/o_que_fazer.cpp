// OQueFazer: classifies the main database by trying to open it, logs one line naming the
// class, and returns its code (db/o_que_fazer.h): kClasseReparar opened (or a format the
// engine does not recognise: repair, then compact), kClasseSoCompactar the database is at its
// maximum size (compact only), kClasseDiscoCheio the disk is full, kClasseOutroErro any other
// failure. The line of a failed open is followed in the log file by the engine's
// detail, when it has one. Continue on error: a failing step is skipped and its error stays
// in Err; the code depends on the open alone. A database that opened is closed again before
// the return; when the open fails, Banco keeps what it held and is not touched.
#include <string>

#include "app/form1.h"
#include "db/engine_access.h"
#include "db/o_que_fazer.h"
#include "jet/base/error.h"

int32_t Form1::OQueFazer() {
    int32_t Codigo = 0;

    Passo([&] { Err.Clear(); });
    Passo([&] { Banco = DBEngine().Workspaces(0).OpenDatabase(ArquivoPrincipal); });

    switch (Err.Number) {
        case 0:
            Passo([&] { GravaLog("Erro: Sem Erros."); });
            Passo([&] { Objeto(Banco).Close(); });
            Codigo = kClasseReparar;
            break;
        case jet::kUnrecognizedFormat:
            Passo([&] { GravaLog("Erro: Formato Não Reconhecido. Arquivo Corrompido."); });
            GravaDetalhe();
            Codigo = kClasseReparar;
            break;
        case jet::kDatabaseFull:
            Passo([&] { GravaLog("Erro: Banco de Dados Cheio."); });
            GravaDetalhe();
            Codigo = kClasseSoCompactar;
            break;
        case jet::kDiskFull:
            Passo([&] { GravaLog("Erro: Disco Cheio."); });
            GravaDetalhe();
            Codigo = kClasseDiscoCheio;
            break;
        default:
            Passo([&] { GravaLog("Erro: " + std::to_string(Err.Number) + "-" + Err.Description); });
            GravaDetalhe();
            Codigo = kClasseOutroErro;
            break;
    }
    return Codigo;
}
