// Draws the window as an operator sees it in the middle of a run, and saves it as a PNG:
//   compactador_screenshot OUTPUT.png WORK_FOLDER
// The work folder gets a program folder and a database folder holding a real database and
// the two client databases, written by the engine; the clock is fixed so the picture does not
// change from one make to the next.
//
// The picture is taken when the run shows its warning naming the backups (every check done,
// the log box full, the copies about to start). A run that never gets there is drawn once it
// has returned; the tool says on standard error which of the two moments it drew.
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <string>

#include "app/form1.h"
#include "app/qt/window.h"
#include "app/tools/tool_services.h"

namespace {

// Answers OK to every box but the lock-file question, which it cancels (the demo holds no
// lock file, so it should never be asked). The warning before the backups triggers the
// picture.
class Photographer final : public platform::MessageBox {
  public:
    explicit Photographer(QString output) : output_(std::move(output)) {}
    void SetWindow(QWidget* form) { form_ = form; }

    platform::MsgBoxResult Show(const std::string& prompt, platform::MsgBoxButtons buttons,
                                const std::string&) override {
        if (!taken_ && form_ != nullptr && prompt.rfind("ATEN", 0) == 0) {
            Take("at the warning before the backups");
        }
        return buttons == platform::vbOKOnly ? platform::vbOK : platform::vbCancel;
    }

    void Take(const char* moment) {
        QApplication::processEvents();
        ok_ = form_->grab().save(output_, "PNG");
        taken_ = true;
        std::fprintf(stderr, "window drawn %s\n", moment);
    }
    bool taken() const { return taken_; }
    bool ok() const { return ok_; }

  private:
    QString output_;
    QWidget* form_ = nullptr;
    bool taken_ = false;
    bool ok_ = false;
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
    const std::string dados = work.absoluteFilePath(QStringLiteral("dados")).toStdString();
    const std::string database = tools::WriteDemo(dados, '/');

    tools::FixedClock clock;
    Photographer message_box(QString::fromLocal8Bit(argv[1]));
    tools::ChooseFile dialog(database);
    tools::NoEnd end;
    const platform::Services services =
        platform::MakeServices(work.absoluteFilePath(QStringLiteral("programa")).toStdString(),
                               clock, message_box, dialog, end);

    auto window = std::make_unique<ui::QtWindow>();
    message_box.SetWindow(window.get());
    Form1 form(services, std::move(window));
    form.Show();
    form.Command2->Click();
    form.Command1->Click();
    if (!message_box.taken()) {
        form.Command1->SetVisible(false);  // as it is throughout a run
        message_box.Take("after the run returned (it showed no warning)");
    }
    if (!message_box.ok()) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
