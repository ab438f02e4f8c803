// Command1_Click ("Iniciar Processo"): the maintenance run, one fixed sequence of steps under
// the continue-on-error policy. Each statement goes through Passo() and each test through
// Teste(): a statement that fails is skipped, a test that fails counts as true, and the run
// goes on. Nothing is shown or logged for the error itself.
//
// The stages, in order: the opening (run/setup.cpp), the pre-flight (run/preflight.cpp), the
// backups, repair, compaction and replacement (run/maintenance.cpp), and the success exit
// (run/exits.cpp). A stage that left through the failure exit returns false; the program's
// immediate ends leave by Form1::End().
#include "app/form1.h"

void Form1::Command1_Click() {
    std::string Carimbo;        // the run stamp: "ddmmyy" + "hhmmss", taken once
    int32_t Classificacao = 0;  // OQueFazer's class code (db/o_que_fazer.h), kept to the end

    if (!AberturaProcesso(Carimbo)) return;
    if (!VerificacoesIniciais(Classificacao)) return;
    if (!CopiaReparaCompacta(Classificacao)) return;
    SaidaSucesso();
}
