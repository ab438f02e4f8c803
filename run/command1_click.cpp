// Command1_Click ("Iniciar Processo"): the maintenance run, one fixed sequence of steps under
// the continue-on-error policy. Each statement goes through Passo() and each test through
// Teste(): a statement that fails is skipped, a test that fails counts as true, and the run
// goes on. Nothing is shown or logged for the error itself.
#include "app/form1.h"

void Form1::Command1_Click() {
    std::string Carimbo;  // the run stamp: "ddmmyy" + "hhmmss", taken once

    if (!AberturaProcesso(Carimbo)) return;

    // ---- The run goes on here ----
    // Next come the pre-flight checks (system lock, classification, lock file, stale
    // temporaries, warning), then the backups, repair, compaction and replacement, and the
    // success exit; each is a stage called from here in that order.
    //
    // Until those stages exist, the run stops after its set-up and gives the pointer back.
    Passo([&] { SetMousePointer(vbArrow); });
}
