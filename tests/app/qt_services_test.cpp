// The real message box and file dialog over Qt, driven headless while they are open.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "platform/common_dialog.h"
#include "platform/message_box.h"
#include "tests/app/harness.h"

namespace {

// Runs `act` on the modal widget as soon as one is open.
void WhenModalOpens(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start(10);
}

TEST(QtMessageBox, HasNoIconTheTitleAndTheButtonsAsked) {
    platform::QtMessageBox box;
    QString title, text;
    int buttons = 0;
    bool icon_none = false;
    WhenModalOpens([&](QWidget* w) {
        auto* m = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(m, nullptr);
        title = m->windowTitle();
        text = m->text();
        icon_none = m->icon() == QMessageBox::NoIcon;
        buttons = static_cast<int>(m->buttons().size());
        m->buttons().front()->click();
    });
    EXPECT_EQ(box.Show("Processo Concluido.", platform::vbOKOnly, "Compactador"), platform::vbOK);
    EXPECT_EQ(title, "Compactador");
    EXPECT_EQ(text, "Processo Concluido.");
    EXPECT_TRUE(icon_none);
    EXPECT_EQ(buttons, 1);

    WhenModalOpens([&](QWidget* w) {
        auto* m = qobject_cast<QMessageBox*>(w);
        buttons = static_cast<int>(m->buttons().size());
        m->escapeButton()->click();
    });
    EXPECT_EQ(box.Show("O Arquivo ainda está em uso.", platform::vbOKCancel, "Compactador"),
              platform::vbCancel);
    EXPECT_EQ(buttons, 2);

    WhenModalOpens([&](QWidget* w) { qobject_cast<QMessageBox*>(w)->defaultButton()->click(); });
    EXPECT_EQ(box.Show("x", platform::vbOKCancel, "Compactador"), platform::vbOK);
}

TEST(QtCommonDialog, HandsBackTheChosenPathOrNothing) {
    testing_app::TempDir dir;
    std::string base = dir.MakeFile("base.mdb");
    platform::QtCommonDialog dialog;
    QString filter;
    WhenModalOpens([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        filter = d->nameFilters().join(";");
        d->selectFile(QString::fromStdString(base));
        static_cast<QDialog*>(d)->accept();
    });
    dialog.SetMaxFileSize(500);
    dialog.SetFileName("*.mdb");
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName(), base);
    EXPECT_TRUE(filter.contains("*.mdb"));

    WhenModalOpens([&](QWidget* w) { qobject_cast<QFileDialog*>(w)->reject(); });
    dialog.SetFileName("*.mdb");
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName(), "") << "Cancel hands back no name";

    // A path longer than the longest name allowed is no choice, never a cut path.
    WhenModalOpens([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        d->selectFile(QString::fromStdString(base));
        static_cast<QDialog*>(d)->accept();
    });
    dialog.SetMaxFileSize(5);
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName(), "");
}

}  // namespace
