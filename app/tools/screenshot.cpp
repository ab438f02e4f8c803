// Draws the window as an operator sees it after choosing a database and starting a run, and
// saves it as a PNG: compactador_screenshot OUTPUT.png WORK_FOLDER. The work folder gets a
// program folder and a database folder with an empty base.mdb; the clock is fixed so the
// picture does not change from one make to the next.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <cstdio>

#include "app/form1.h"

namespace {

class FixedClock final : public platform::Clock {
  public:
    platform::DateTime Now() override { return {2026, 12, 5, 14, 3, 7}; }
};

class AnswerOk final : public platform::MessageBox {
  public:
    platform::MsgBoxResult Show(const std::string&, platform::MsgBoxButtons,
                                const std::string&) override {
        return platform::vbOK;
    }
};

class ChooseFile final : public platform::CommonDialog {
  public:
    explicit ChooseFile(std::string path) : path_(std::move(path)) {}
    void SetMaxFileSize(int) override {}
    void SetFileName(const std::string&) override {}
    void ShowOpen() override {}
    std::string FileName() const override { return path_; }

  private:
    std::string path_;
};

class NoEnd final : public platform::ProgramEnd {
  public:
    void EndNow() override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png WORK_FOLDER\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    QDir work(QString::fromLocal8Bit(argv[2]));
    work.mkpath(QStringLiteral("programa"));
    work.mkpath(QStringLiteral("dados"));
    QString database = work.absoluteFilePath(QStringLiteral("dados/base.mdb"));
    QFile(database).open(QIODevice::WriteOnly);

    FixedClock clock;
    AnswerOk message_box;
    ChooseFile dialog(database.toStdString());
    NoEnd end;
    platform::Services services;
    services.program_folder = work.absoluteFilePath(QStringLiteral("programa")).toStdString();
    services.clock = &clock;
    services.message_box = &message_box;
    services.file_dialog = &dialog;
    services.program_end = &end;

    Form1 form(services);
    form.show();
    form.Command2->click();
    form.Command1->click();
    form.Command1->setVisible(false);  // as the run leaves it
    QApplication::processEvents();

    if (!form.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
