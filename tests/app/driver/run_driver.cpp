// run_driver: one maintenance run with nobody at the window, for the crash sweep
// (tests/crash_sweep.sh). Built with the tests only.
//
//   run_driver PROGRAM_FOLDER DATABASE
//
// Builds the window headless (QT_QPA_PLATFORM=offscreen) over the real file services and the
// real clock, with PROGRAM_FOLDER as the program's folder; chooses DATABASE through the file
// dialog, clicks "Iniciar Processo" and answers OK to every box (each box's text goes to
// standard output, one line each). Exit status: 0 when the run reached its success exit, 3
// when it ended the program elsewhere (class 3 or 4, Cancel), 1 when it returned through the
// failure exit.
#include <QApplication>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "app/form1.h"

namespace {

class AnswerOk final : public platform::MessageBox {
  public:
    platform::MsgBoxResult Show(const std::string& prompt, platform::MsgBoxButtons,
                                const std::string&) override {
        last = prompt;
        std::cout << prompt << std::endl;
        return platform::vbOK;
    }
    std::string last;
};

class ChooseOnce final : public platform::CommonDialog {
  public:
    explicit ChooseOnce(std::string path) : path_(std::move(path)) {}
    void SetMaxFileSize(int) override {}
    void SetFileName(const std::string&) override {}
    void ShowOpen() override {}
    std::string FileName() const override { return path_; }

  private:
    std::string path_;
};

// Ends the process at once, as the program does, telling the success exit from the others by
// the last box shown.
class EndProcess final : public platform::ProgramEnd {
  public:
    explicit EndProcess(const AnswerOk& boxes) : boxes_(boxes) {}
    void EndNow() override {
        std::fflush(nullptr);
        std::_Exit(boxes_.last == "Processo Concluido." ? 0 : 3);
    }

  private:
    const AnswerOk& boxes_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: run_driver PROGRAM_FOLDER DATABASE\n";
        return 2;
    }
    QApplication application(argc, argv);

    platform::SystemClock clock;
    AnswerOk boxes;
    ChooseOnce dialog(argv[2]);
    EndProcess program_end(boxes);

    platform::Services services;
    services.program_folder = argv[1];
    services.clock = &clock;
    services.message_box = &boxes;
    services.file_dialog = &dialog;
    services.program_end = &program_end;
    services.path_style = platform::PathStyle::Posix();

    Form1 form(services);
    form.show();
    form.Command2->click();
    form.Command1->click();
    return 1;  // the run came back: the failure exit
}
