// The ways a run ends. The failure exit leaves the window open with Command1 hidden.
#include "app/form1.h"

namespace {
constexpr const char* kTextoFalha =
    "O Arquivo Não pode ser Reparado/Compactado. Tente de Novo ou Comunique ao responsável.";
}

void Form1::SaidaFalha() {
    Passo([&] { Label1[0]->SetCaption(""); });
    Passo([&] { GravaLog(kTextoFalha); });
    Passo([&] { MsgBox(kTextoFalha); });
    Passo([&] { SetMousePointer(vbArrow); });
}

// The success exit: unlock the client system, report, end the program.
void Form1::SaidaSucesso() {
    Passo([&] { BloqueioTavos(0); });
    Passo([&] { GravaLog("Processo Concluido"); });
    Passo([&] { Refresh(); });
    Passo([&] { MsgBox("Processo Concluido."); });
    Passo([&] { SetMousePointer(vbArrow); });
    End();
}
