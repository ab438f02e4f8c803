// The run's opening: stamp, log file, the existence test with its failure exit, and the file
// set, for POSIX and Windows paths; the guard against a second run.
#include <gtest/gtest.h>

#include <filesystem>

#include "jet/testing/fault_env.h"
#include "tests/app/harness.h"
#include "tests/app/memory_window.h"

namespace {

namespace fs = std::filesystem;
using apptest::Harness;
using apptest::ListFiles;
using apptest::MemoryOf;
using apptest::Style;

const std::string kFalha =
    "O Arquivo Não pode ser Reparado/Compactado. Tente de Novo ou Comunique ao responsável.";

TEST(RunSetUp, PosixPathsGiveTheNineFileSetLines) {
    Harness h;
    std::string base = h.dir.MakeFile("dados/base.mdb");
    std::string dados = (h.dir.path() / "dados").string();
    std::string prog = h.program_folder;
    // When the first box opens (the warning before the backups) the set-up has created
    // nothing but the log file.
    std::vector<std::string> files_at_first_box;
    h.boxes.on_show = [&] {
        if (files_at_first_box.empty()) files_at_first_box = ListFiles(h.dir.path());
    };
    h.ChooseAndRun(base);

    std::string log = prog + "/Log051226140307.txt";
    EXPECT_EQ(h.form->ArquivoLog, log);
    EXPECT_EQ(h.form->Label4->Caption(), log);
    std::vector<std::string> lines = h.LogMessages();
    lines.resize(std::min<size_t>(lines.size(), 12));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         " ", "Inicio.", "Arquivos Envolvidos:", "Log:" + log + ";",
                         "Principal:" + base + ";", "LBD:" + dados + "/base.ldb;",
                         "Tavo:" + dados + "/tavo.mdb;", "Tavo1:" + dados + "/tavo1.mdb;",
                         "Copia:" + prog + "/compac01_051226140307.mdb;",
                         "Copia Extra:" + prog + "/compac01E_051226140307.mdb;",
                         "Reparado:" + prog + "/compac02_051226140307.mdb;",
                         "Compactado:" + prog + "/compac03_051226140307.mdb;"}));
    EXPECT_EQ(h.form->PastaArquivo, dados);
    EXPECT_EQ(h.form->NomeBase, dados + "/base");
    EXPECT_EQ(h.form->ArquivoCompactado, prog + "/compac03_051226140307.mdb");
    EXPECT_FALSE(h.form->Command1->Visible()) << "the run hid it";
    EXPECT_NE(h.form->Fso, nullptr);
    // The box shows the same lines, right after "Log.:".
    EXPECT_EQ(h.form->TxtLog->Text().rfind("Log.:05/12/2026 - 14:03:07 -  \r\n", 0), 0u);
    EXPECT_EQ(files_at_first_box,
              (std::vector<std::string>{"dados/base.mdb", "programa/Log051226140307.txt"}));
}

TEST(RunSetUp, WindowsPathsGiveTheNineFileSetLines) {
    Harness h(Style::kWindows);
    h.dir.MakeFile("C/Dados/base.mdb");
    h.ChooseAndRun("C:\\Dados\\base.mdb");
    std::vector<std::string> lines = h.LogMessages();
    lines.resize(std::min<size_t>(lines.size(), 12));
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  " ", "Inicio.", "Arquivos Envolvidos:", "Log:C:\\Programa\\Log051226140307.txt;",
                  "Principal:C:\\Dados\\base.mdb;", "LBD:C:\\Dados\\base.ldb;",
                  "Tavo:C:\\Dados\\tavo.mdb;", "Tavo1:C:\\Dados\\tavo1.mdb;",
                  "Copia:C:\\Programa\\compac01_051226140307.mdb;",
                  "Copia Extra:C:\\Programa\\compac01E_051226140307.mdb;",
                  "Reparado:C:\\Programa\\compac02_051226140307.mdb;",
                  "Compactado:C:\\Programa\\compac03_051226140307.mdb;"}));
    EXPECT_TRUE(fs::exists(h.dir.path() / "C/Programa/Log051226140307.txt"));
}

TEST(RunSetUp, ADatabaseAtTheRootOfADrive) {
    Harness h(Style::kWindows);
    h.dir.MakeFile("D/base.mdb");
    h.ChooseAndRun("D:\\base.mdb");
    EXPECT_EQ(h.form->PastaArquivo, "D:\\");
    EXPECT_EQ(h.form->ArquivoTavo, "D:\\\\tavo.mdb");  // the separator is added all the same
    EXPECT_EQ(h.form->ArquivoLDB, "D:\\base.ldb");
}

TEST(RunSetUp, AMissingFileLogsBoxesAndLeavesThroughTheFailureExit) {
    Harness h;
    std::string missing = (h.dir.path() / "dados/falta.mdb").string();
    fs::create_directories(h.dir.path() / "dados");
    h.form->ArquivoTavo = "antes";
    std::string status_before_exit;
    h.boxes.on_show = [&] {
        if (h.boxes.shown.size() == 2) status_before_exit = h.form->Label1[0]->Caption();
    };
    h.ChooseAndRun(missing);

    std::string texto = "O Arquivo " + missing + " Não Existe. Selecione Outro.";
    EXPECT_EQ(h.LogMessages(), (std::vector<std::string>{" ", "Inicio.", texto, kFalha}));
    EXPECT_EQ(h.BoxTexts(), (std::vector<std::string>{texto, kFalha}));
    for (const auto& box : h.boxes.shown) {
        EXPECT_EQ(box.buttons, platform::vbOKOnly);
        EXPECT_EQ(box.title, "Compactador");
    }
    EXPECT_EQ(h.form->Label1[0]->Caption(), kFalha);
    EXPECT_EQ(status_before_exit, kFalha);
    EXPECT_EQ(h.form->MousePointer(), vbArrow);
    EXPECT_EQ(MemoryOf(*h.form).mouse_pointer, vbArrow);
    EXPECT_FALSE(h.form->Command1->Visible());
    EXPECT_TRUE(MemoryOf(*h.form).Visible()) << "the window stays open";
    EXPECT_EQ(h.end.ends, 0);
    EXPECT_EQ(h.form->ArquivoTavo, "antes") << "no step after the test ran";
    EXPECT_EQ(h.form->Fso, nullptr);
    EXPECT_EQ(ListFiles(h.dir.path()), (std::vector<std::string>{"programa/Log051226140307.txt"}));
}

TEST(RunSetUp, ALogThatCannotBeCreatedStillShowsEveryMessageAndBox) {
    jet::FaultInjectingEnv faulty(jet::Env::Default());
    Harness g(Style::kNative, &faulty);
    faulty.FailFrom(1, EACCES);
    std::vector<std::string> status_at_box;
    g.boxes.on_show = [&] { status_at_box.push_back(g.form->Label1[0]->Caption()); };
    g.ChooseAndRun(g.program_folder + "/falta.mdb");
    ASSERT_EQ(g.BoxTexts().size(), 2u);
    EXPECT_EQ(status_at_box[1], kFalha) << "the screen is updated before the file";
    EXPECT_EQ(g.form->Err.Number, 70);
    EXPECT_TRUE(ListFiles(g.dir.path()).empty());
}

TEST(RunSetUp, ARunWhoseLogCannotBeWrittenGoesOnWithEveryStep) {
    Harness h;
    std::string base = h.dir.MakeFile("dados/base.mdb");
    fs::remove_all(h.program_folder);
    h.ChooseAndRun(base);
    EXPECT_EQ(h.form->Err.Number, 76);
    EXPECT_EQ(h.form->ArquivoCompactado, h.program_folder + "/compac03_051226140307.mdb");
    const std::string box = h.form->TxtLog->Text();
    EXPECT_NE(box.find("Arquivos Envolvidos:"), std::string::npos);
    EXPECT_NE(box.find("Compactado:" + h.form->ArquivoCompactado + ";"), std::string::npos);
    // No backup can be made in a folder that is gone: the run ends through the failure exit.
    EXPECT_EQ(h.form->Label1[0]->Caption(), kFalha);
}

TEST(RunSetUp, AHiddenFileOrAFolderIsNotFound) {
    Harness h;
    std::string hidden = h.dir.MakeFile("dados/.base.mdb");
    h.ChooseAndRun(hidden);
    EXPECT_EQ(h.BoxTexts().front(), "O Arquivo " + hidden + " Não Existe. Selecione Outro.");
    EXPECT_EQ(h.LogMessages().back(), kFalha);

    Harness g;
    fs::create_directories(g.dir.path() / "dados/pasta.mdb");
    g.ChooseAndRun((g.dir.path() / "dados/pasta.mdb").string());
    EXPECT_EQ(g.BoxTexts().size(), 2u);
}

TEST(RunSetUp, ANameShorterThanFourCharactersKeepsTheEarlierBaseName) {
    Harness h(Style::kWindows);
    h.dir.MakeFile("abc");  // a bare name lies in the current folder
    h.ChooseAndRun("abc");
    EXPECT_EQ(h.form->NomeBase, "") << "empty before the first run";
    EXPECT_EQ(h.form->ArquivoLDB, ".ldb");
    EXPECT_EQ(h.form->PastaArquivo, "");
    EXPECT_EQ(h.form->ArquivoTavo, "\\tavo.mdb");
    std::vector<std::string> lines = h.LogMessages();
    ASSERT_GE(lines.size(), 12u);
    EXPECT_EQ(lines[5], "LBD:.ldb;");

    h.dir.MakeFile("C/Dados/base.mdb");
    h.clock.Set({2026, 12, 5, 14, 4, 0});
    h.ChooseAndRun("C:\\Dados\\base.mdb");
    h.clock.Set({2026, 12, 5, 14, 5, 0});
    h.ChooseAndRun("abc");
    EXPECT_EQ(h.form->ArquivoLDB, "C:\\Dados\\base.ldb") << "the earlier run's base name";
    EXPECT_EQ(h.LogMessages()[5], "LBD:C:\\Dados\\base.ldb;");
}

TEST(RunSetUp, AnExtensionOfAnotherLengthIsCutByFourCharactersAllTheSame) {
    Harness h(Style::kWindows);
    h.dir.MakeFile("C/Dados/base.accdb");
    h.ChooseAndRun("C:\\Dados\\base.accdb");
    EXPECT_EQ(h.form->NomeBase, "C:\\Dados\\base.a");
    EXPECT_EQ(h.form->ArquivoLDB, "C:\\Dados\\base.a.ldb");
    h.dir.MakeFile("C/Dados/ação.db");
    h.ChooseAndRun("C:\\Dados\\ação.db");
    EXPECT_EQ(h.form->NomeBase, "C:\\Dados\\açã") << "characters, not bytes";
}

TEST(RunSetUp, TwoRunsInOneSecondShareTheStampAndTheLogFile) {
    Harness h;
    std::string base = h.dir.MakeFile("dados/base.mdb");
    h.ChooseAndRun(base);
    std::string after_first = h.LogFileBytes();
    h.ChooseAndRun(base);
    EXPECT_EQ(h.LogFileBytes().rfind(after_first, 0), 0u) << "the second run appends";
    std::vector<std::string> lines = h.LogMessages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Inicio."), 2) << "both runs in one file";
    // The log box keeps both runs, one below the other.
    std::string box = h.form->TxtLog->Text();
    EXPECT_NE(box.find("Inicio."), box.rfind("Inicio."));

    h.clock.Set({2026, 12, 5, 14, 3, 8});
    h.ChooseAndRun(base);
    EXPECT_EQ(h.form->ArquivoLog, h.program_folder + "/Log051226140308.txt");
}

TEST(RunSetUp, TheStampIsTheDateReadingThenTheTimeReading) {
    Harness h;
    std::string base = h.dir.MakeFile("dados/base.mdb");
    h.clock.Sequence({{2026, 12, 31, 23, 59, 59}, {2027, 1, 1, 0, 0, 0}});
    h.dialog.choices.push_back(base);
    h.form->Command2->Click();
    h.form->Command1->Click();
    EXPECT_EQ(h.form->ArquivoLog, h.program_folder + "/Log311226000000.txt");
}

TEST(RunSetUp, TheEditedPathIsWhatTheRunUses) {
    Harness h;
    std::string chosen = h.dir.MakeFile("dados/base.mdb");
    std::string edited = h.dir.MakeFile("dados/outra.mdb");
    h.dialog.choices.push_back(chosen);
    h.form->Command2->Click();
    h.form->Text1->SetText(edited);
    h.form->Command1->Click();
    EXPECT_EQ(h.form->ArquivoPrincipal, edited);
}

TEST(SecondRun, NeverStartsWhileOneIsUnderWay) {
    Harness h;
    std::string missing = h.program_folder + "/falta.mdb";
    std::string other = h.dir.MakeFile("dados/base.mdb");
    // While the run's first box is open the operator chooses a file, which shows
    // "Iniciar Processo" again, and clicks it.
    bool clicked = false;
    h.boxes.on_show = [&] {
        if (clicked) return;
        clicked = true;
        EXPECT_TRUE(h.form->ProcessoEmAndamento());
        h.dialog.choices.push_back(other);
        h.form->Command2->Click();
        EXPECT_TRUE(h.form->Command1->Visible());
        EXPECT_FALSE(h.form->Command1->Enabled());
        h.form->Command1->Click();
        MemoryOf(*h.form).events().Command1Clicked();  // delivered all the same
    };
    h.ChooseAndRun(missing);
    std::vector<std::string> lines = h.LogMessages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Inicio."), 1) << "one run only";
    EXPECT_EQ(h.form->ArquivoPrincipal, missing);
    EXPECT_FALSE(h.form->ProcessoEmAndamento());

    // Once the run has returned, the button shown meanwhile starts the next run.
    EXPECT_TRUE(h.form->Command1->Visible());
    EXPECT_TRUE(h.form->Command1->Enabled());
    h.form->Command1->Click();
    EXPECT_EQ(h.form->ArquivoPrincipal, other);
}

TEST(SecondRun, ClosingTheWindowDuringARunClosesItWhenTheRunReturns) {
    Harness h;
    bool closed_while_running = true;
    h.boxes.on_show = [&] {
        h.form->window().Close();
        closed_while_running = !MemoryOf(*h.form).Visible();
    };
    h.ChooseAndRun(h.program_folder + "/falta.mdb");
    EXPECT_FALSE(closed_while_running);
    EXPECT_EQ(h.BoxTexts().size(), 2u) << "the run went on to its end";
    EXPECT_FALSE(MemoryOf(*h.form).Visible());
}

}  // namespace
