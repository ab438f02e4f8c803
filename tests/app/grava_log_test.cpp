// GravaLog: the status line, the log box, pending events and the log file, in that order; a
// log file that cannot be written leaves the line on the screen and the error to the caller.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "jet/testing/fault_env.h"
#include "tests/app/harness.h"
#include "tests/app/memory_window.h"

namespace {

namespace fs = std::filesystem;
using apptest::Harness;
using apptest::ReadString;

TEST(GravaLog, TheLineIsDateThenTimeThenTheMessageAndTheFirstFollowsLogColon) {
    Harness h;
    Form1& f = *h.form;
    f.ArquivoLog = h.program_folder + "/Log.txt";
    // The date is read before the time: across midnight the two readings differ.
    h.clock.Sequence({{2026, 12, 5, 23, 59, 59}, {2026, 12, 6, 0, 0, 0}, {2026, 12, 6, 0, 0, 1}});
    f.GravaLog("Processo Concluido");
    EXPECT_EQ(h.clock.readings, 2);
    EXPECT_EQ(f.Label1[0]->Caption(), "Processo Concluido");
    EXPECT_EQ(f.TxtLog->Text(), "Log.:05/12/2026 - 00:00:00 - Processo Concluido\r\n");

    f.GravaLog("");
    f.GravaLog(" ");
    EXPECT_EQ(f.TxtLog->Text(),
              "Log.:05/12/2026 - 00:00:00 - Processo Concluido\r\n"
              "06/12/2026 - 00:00:01 - \r\n"
              "06/12/2026 - 00:00:01 -  \r\n");
    EXPECT_EQ(f.Label1[0]->Caption(), " ");
}

TEST(GravaLog, TheFileIsWindows1252WithCrLfCreatedOnTheFirstCallThenAppended) {
    Harness h;
    Form1& f = *h.form;
    f.ArquivoLog = h.program_folder + "/Log051226140307.txt";
    ASSERT_FALSE(fs::exists(f.ArquivoLog));
    f.GravaLog(" ");
    EXPECT_EQ(ReadString(f.ArquivoLog), "05/12/2026 - 14:03:07 -  \r\n");
    f.GravaLog("O Arquivo /d/ação.mdb Não Existe. Selecione Outro.");
    f.GravaLog("ATENÇÂO!! €");
    EXPECT_EQ(ReadString(f.ArquivoLog),
              "05/12/2026 - 14:03:07 -  \r\n"
              "05/12/2026 - 14:03:07 - O Arquivo /d/a\xe7\xe3o.mdb N\xe3o Existe. Selecione "
              "Outro.\r\n"
              "05/12/2026 - 14:03:07 - ATEN\xc7\xc2O!! \x80\r\n");
}

TEST(GravaLog, TheScreenIsUpdatedAndEventsRunBeforeTheFileIsWritten) {
    Harness h;
    Form1& f = *h.form;
    f.ArquivoLog = h.program_folder + "/Log.txt";
    bool ran = false;
    std::string status_seen;
    bool file_seen = true;
    apptest::MemoryOf(f).Post([&] {
        ran = true;
        status_seen = f.Label1[0]->Caption();
        file_seen = fs::exists(f.ArquivoLog);
    });
    f.GravaLog("Inicio.");
    EXPECT_TRUE(ran) << "pending events are processed inside the call";
    EXPECT_EQ(status_seen, "Inicio.");
    EXPECT_FALSE(file_seen);
    EXPECT_TRUE(fs::exists(f.ArquivoLog));
}

TEST(GravaLog, ALogFileThatCannotBeWrittenLeavesTheLineOnScreenAndTheErrorToTheCaller) {
    Harness h;
    Form1& f = *h.form;
    f.ArquivoLog = h.program_folder + "/falta/Log.txt";
    try {
        f.GravaLog("Inicio.");
        FAIL() << "the failure reaches the caller";
    } catch (const platform::VbError& e) {
        EXPECT_EQ(e.number(), 76);
        EXPECT_STREQ(e.what(), "Caminho não encontrado");
    }
    EXPECT_EQ(f.Label1[0]->Caption(), "Inicio.");
    EXPECT_EQ(f.TxtLog->Text(), "Log.:05/12/2026 - 14:03:07 - Inicio.\r\n");
    EXPECT_FALSE(fs::exists(h.program_folder + "/falta"));

    // A full disk at the write.
    jet::FaultInjectingEnv full(jet::Env::Default());
    Harness g(apptest::Style::kNative, &full);
    g.form->ArquivoLog = g.program_folder + "/Log.txt";
    full.FailFrom(1, ENOSPC);
    g.form->Passo([&] { g.form->GravaLog("Inicio."); });
    EXPECT_EQ(g.form->Err.Number, 61);
    EXPECT_EQ(g.form->Err.Description, "Disco cheio");
    EXPECT_EQ(g.form->Label1[0]->Caption(), "Inicio.");
}

TEST(GravaLog, TextTypedIntoTheLogBoxStaysAndLaterLinesFollowIt) {
    Harness h;
    Form1& f = *h.form;
    f.ArquivoLog = h.program_folder + "/Log.txt";
    f.TxtLog->SetText("Log.:anotação do operador\r\nsegunda linha");
    f.GravaLog("Inicio.");
    EXPECT_EQ(f.TxtLog->Text(),
              "Log.:anotação do operador\r\nsegunda linha05/12/2026 - 14:03:07 - Inicio.\r\n");
    EXPECT_EQ(ReadString(f.ArquivoLog), "05/12/2026 - 14:03:07 - Inicio.\r\n");
}

TEST(GravaLog, MessagesThatLookLikeMarkupAreShownAsTheyAre) {
    Harness h;
    Form1& f = *h.form;
    f.ArquivoLog = h.program_folder + "/Log.txt";
    f.GravaLog("<b>x</b> & <<Nenhum Arquivo Selecionado>>");
    EXPECT_EQ(f.Label1[0]->Caption(), "<b>x</b> & <<Nenhum Arquivo Selecionado>>");
}

}  // namespace
