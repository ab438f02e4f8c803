// Start-up: create and show the window, then wait for the operator. No code of the system's
// own runs here, and nothing is read from the command line, the environment or settings.
#include <QApplication>

#include "app/form1.h"
#include "app/qt/window.h"
#include "platform/qt/qt_services.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);

    platform::SystemClock clock;
    platform::QtMessageBox message_box;
    platform::QtCommonDialog file_dialog;
    platform::ProcessEnd program_end;

    const platform::Services services = platform::MakeServices(
        platform::ProgramFolder(), clock, message_box, file_dialog, program_end);

    auto window = std::make_unique<ui::QtWindow>();
    message_box.SetParent(window.get());
    file_dialog.SetParent(window.get());
    Form1 form(services, std::move(window));
    form.Show();
    return QApplication::exec();
}
