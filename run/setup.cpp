// The run's opening: the run stamp, the log file, the test that the chosen file exists, and
// the names of every file the run touches.
#include "app/form1.h"
#include "platform/text.h"

bool Form1::AberturaProcesso(std::string& Carimbo) {
    Passo([&] { Command1->SetVisible(false); });
    Passo([&] { PastaPrograma = AppPath(); });
    Passo([&] {
        platform::DateTime dataAtual = Agora();
        platform::DateTime hora = Agora();
        Carimbo = platform::FormatDdMmYy(dataAtual) + platform::FormatHhMmSsCompact(hora);
    });
    Passo([&] { ArquivoLog = PastaPrograma + Sep() + "Log" + Carimbo + ".txt"; });
    Passo([&] { Label4->SetCaption(ArquivoLog); });
    Passo([&] { SetMousePointer(vbHourglass); });
    Passo([&] { ArquivoPrincipal = Text1->Text(); });
    Passo([&] { GravaLog(" "); });  // creates the run's log file
    Passo([&] { GravaLog("Inicio."); });

    if (Teste([&] { return !Existe(ArquivoPrincipal); })) {
        Passo([&] { GravaLog("O Arquivo " + ArquivoPrincipal + " Não Existe. Selecione Outro."); });
        Passo([&] { MsgBox("O Arquivo " + ArquivoPrincipal + " Não Existe. Selecione Outro."); });
        SaidaFalha();
        return false;
    }

    Passo([&] { Fso = std::make_shared<platform::FileSystemObject>(Arquivos().style()); });
    Passo([&] {
        if (!Fso) Err.Raise(platform::kObjectNotSet);
        PastaArquivo = Fso->GetParentFolderName(ArquivoPrincipal);
    });
    // A name shorter than four characters fails here and NomeBase keeps its value.
    Passo(
        [&] { NomeBase = platform::Left(ArquivoPrincipal, platform::Len(ArquivoPrincipal) - 4); });
    Passo([&] { ArquivoLDB = NomeBase + ".ldb"; });
    Passo([&] { ArquivoTavo = PastaArquivo + Sep() + "tavo.mdb"; });
    Passo([&] { ArquivoTavo1 = PastaArquivo + Sep() + "tavo1.mdb"; });
    Passo([&] { ArquivoCopia = PastaPrograma + Sep() + "compac01_" + Carimbo + ".mdb"; });
    Passo([&] { ArquivoCopiaExtra = PastaPrograma + Sep() + "compac01E_" + Carimbo + ".mdb"; });
    Passo([&] { ArquivoReparado = PastaPrograma + Sep() + "compac02_" + Carimbo + ".mdb"; });
    Passo([&] { ArquivoCompactado = PastaPrograma + Sep() + "compac03_" + Carimbo + ".mdb"; });

    Passo([&] { GravaLog("Arquivos Envolvidos:"); });
    Passo([&] { GravaLog("Log:" + ArquivoLog + ";"); });
    Passo([&] { GravaLog("Principal:" + ArquivoPrincipal + ";"); });
    Passo([&] { GravaLog("LBD:" + ArquivoLDB + ";"); });
    Passo([&] { GravaLog("Tavo:" + ArquivoTavo + ";"); });
    Passo([&] { GravaLog("Tavo1:" + ArquivoTavo1 + ";"); });
    Passo([&] { GravaLog("Copia:" + ArquivoCopia + ";"); });
    Passo([&] { GravaLog("Copia Extra:" + ArquivoCopiaExtra + ";"); });
    Passo([&] { GravaLog("Reparado:" + ArquivoReparado + ";"); });
    Passo([&] { GravaLog("Compactado:" + ArquivoCompactado + ";"); });
    return true;
}
