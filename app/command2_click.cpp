// Command2_Click ("Localizar Arquivo"): the operator names the database through the file-open
// dialog. Nothing is tested here; the run tests existence. No error handling of its own.
#include "app/form1.h"

void Form1::Command2_Click() {
    CaixaAbrirArquivo.SetMaxFileSize(500);
    CaixaAbrirArquivo.SetFileName("*.mdb");
    CaixaAbrirArquivo.ShowOpen();
    if (CaixaAbrirArquivo.FileName().empty()) {
        Text1->SetText("<<Nenhum Arquivo Selecionado>>");
        Command1->SetVisible(false);
    } else {
        Text1->SetText(CaixaAbrirArquivo.FileName());
        Command1->SetVisible(true);
    }
}
