// Start-up: create and show the window, then wait for the operator. No code of the system's
// own runs here, and nothing is read from the command line, the environment or settings.
#include <QApplication>

#include "app/form1.h"
#include "app/qt/window.h"
#include "platform/heap.h"
#include "platform/qt/qt_services.h"

int main(int argc, char** argv) {
    platform::ShareHeapArenas();
    QApplication application(argc, argv);

    platform::ProgramServices<platform::QtMessageBox, platform::QtCommonDialog> program;
    auto window = std::make_unique<ui::QtWindow>();
    program.message_box.SetParent(window.get());
    program.file_dialog.SetParent(window.get());
    Form1 form(program.services(), std::move(window));
    form.Show();
    return QApplication::exec();
}
