// The real message box, file dialog and program folder, over Qt.
#include "platform/qt/qt_services.h"
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include "platform/program.h"
#include "platform/qt/file_open_dialog.h"
#include "platform/text.h"

namespace platform {

MsgBoxResult QtMessageBox::Show(const std::string& prompt, MsgBoxButtons buttons,
                                const std::string& title) {
    QMessageBox box(parent_ != nullptr ? parent_ : QApplication::activeWindow());
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(QString::fromStdString(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(prompt));
    box.setWindowModality(Qt::ApplicationModal);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if (buttons == vbOKCancel) {
        cancel = box.addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.setDefaultButton(ok);
    box.exec();
    if (cancel != nullptr && box.clickedButton() != ok) return vbCancel;
    return vbOK;
}

void QtCommonDialog::ShowOpen() {
    // The dialog opens on a folder decided here, never on one remembered: the folder of the
    // file name when it names one, otherwise the current folder (scripts/run.sh starts the
    // program in its demo folder), or the home folder when the current one is gone.
    QString name = QString::fromStdString(file_name_);
    QString folder = QDir::currentPath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::homePath();
    QString pattern = QStringLiteral("*");
    if (name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
        pattern = name;
    } else if (!name.isEmpty() && QFileInfo(name).isAbsolute()) {
        folder = QFileInfo(name).absolutePath();
        name = QFileInfo(name).fileName();
    }
    file_name_.clear();
    FileOpenDialog dialog(parent_ != nullptr ? parent_ : QApplication::activeWindow(), folder,
                          pattern, name);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted) return;
    std::string path = dialog.Chosen().toStdString();
    if (path.empty() || Len(path) > max_file_size_) return;
    file_name_ = path;
}

std::string ProgramFolder() {
    return QCoreApplication::applicationDirPath().toStdString();
}

}  // namespace platform
