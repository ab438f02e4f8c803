// GravaLog: the one logging operation. It handles no error of its own: a failure ends the
// call where it stands and reaches the caller. The screen is updated before the file is
// written, so a line that could not be written is still on the screen.
#include "app/form1.h"

void Form1::GravaLog(std::string Texto) {
    Label1[0]->SetCaption(Texto);

    platform::DateTime dataAtual = Agora();  // the date first,
    platform::DateTime hora = Agora();       // then the time: two readings of the clock
    std::string linha = platform::FormatDdMmYyyy(dataAtual) + " - " + platform::FormatHhMmSs(hora) +
                        " - " + Label1[0]->Caption();

    TxtLog->SetText(TxtLog->Text() + linha + "\r\n");

    DoEvents();
    Refresh();

    Arquivos().AppendLine(ArquivoLog, linha);
}

void Form1::GravaDetalhe() noexcept {
    if (Err.Detail.empty()) return;
    try {
        std::string detalhe = Err.Detail;
        for (char& c : detalhe) {
            if (c == '\r' || c == '\n') c = ' ';  // one line, whatever the text holds
        }
        platform::DateTime agora = Agora();
        Arquivos().AppendLine(ArquivoLog, platform::FormatDdMmYyyy(agora) + " - " +
                                              platform::FormatHhMmSs(agora) +
                                              " - Detalhe: " + detalhe);
    } catch (...) {
        // The line is lost; the run goes on as though it had been written.
    }
}
