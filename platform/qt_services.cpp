// The real message box, file dialog, program end and program folder, over Qt.
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

#include "platform/common_dialog.h"
#include "platform/message_box.h"
#include "platform/program.h"
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
    QFileDialog dialog(parent_ != nullptr ? parent_ : QApplication::activeWindow());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setWindowModality(Qt::ApplicationModal);
    QString name = QString::fromStdString(file_name_);
    if (name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
        dialog.setNameFilter(name);
    } else if (!name.isEmpty()) {
        dialog.selectFile(name);
    }
    file_name_.clear();
    if (dialog.exec() != QDialog::Accepted) return;
    QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return;
    std::string path = chosen.front().toStdString();
    if (Len(path) > max_file_size_) return;
    file_name_ = path;
}

void ProcessEnd::EndNow() {
    std::fflush(nullptr);
    std::_Exit(0);
}

std::string ProgramFolder() {
    return QCoreApplication::applicationDirPath().toStdString();
}

}  // namespace platform
