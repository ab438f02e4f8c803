// The real message box and file dialog over Qt, driven headless while they are open.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/qt/file_open_dialog.h"
#include "platform/qt/qt_services.h"
#include "tests/app/harness.h"

namespace {

namespace fs = std::filesystem;

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

// Every file under the user's configuration and data folders, with the time it was last
// written: the dialog must leave both as they were.
std::map<std::string, fs::file_time_type> SettingsFiles() {
    std::vector<fs::path> roots;
    const char* home = std::getenv("HOME");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && *config != '\0') roots.emplace_back(config);
    if (home != nullptr && *home != '\0') {
        roots.push_back(fs::path(home) / ".config");
        roots.push_back(fs::path(home) / ".local");
    }
    std::map<std::string, fs::file_time_type> files;
    for (const fs::path& root : roots) {
        std::error_code ec;
        auto it = fs::recursive_directory_iterator(
            root, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code ignored;
            if (it->is_regular_file(ignored))
                files[it->path().string()] = fs::last_write_time(it->path(), ignored);
        }
    }
    return files;
}

// The current folder for one test, put back after it.
class CurrentFolder {
  public:
    explicit CurrentFolder(const fs::path& folder) : old_(QDir::currentPath()) {
        QDir::setCurrent(QString::fromStdString(folder.string()));
    }
    ~CurrentFolder() { QDir::setCurrent(old_); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

  private:
    QString old_;
};

platform::FileOpenDialog* OpenDialog(QWidget* w) {
    return dynamic_cast<platform::FileOpenDialog*>(w);
}

// The four operations over the real dialog: each use opens on the current folder (never on
// one an earlier use left), lists by the pattern given as the name, and hands back the full
// path chosen, or nothing on Cancel or when the path is longer than allowed. No use writes
// anything into the user's settings.
TEST(QtCommonDialog, HandsBackTheChosenPathOrNothing) {
    apptest::TempDir dir;
    const std::string base = dir.MakeFile("base.mdb");
    dir.MakeFile("sub/other.mdb");
    const QString here = QDir::cleanPath(QString::fromStdString(dir.str()));
    const auto settings_before = SettingsFiles();
    CurrentFolder current(dir.path());
    platform::QtCommonDialog dialog;

    QString folder, pattern, name;
    WhenModalOpens([&](QWidget* w) {
        platform::FileOpenDialog* d = OpenDialog(w);
        ASSERT_NE(d, nullptr);
        folder = d->Folder();
        pattern = d->Pattern();
        name = d->Name();
        d->SetName(QStringLiteral("base.mdb"));  // relative to the folder listed
        d->Open();
    });
    dialog.SetMaxFileSize(500);
    dialog.SetFileName("*.mdb");
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName(), base);
    EXPECT_EQ(folder, here);
    EXPECT_EQ(pattern, QStringLiteral("*.mdb"));
    EXPECT_EQ(name, QStringLiteral("*.mdb"));

    // A folder typed is entered and a pattern typed lists by it, the dialog staying open; a
    // name that does not exist is chosen all the same (the run tests existence).
    QString entered, typed_pattern;
    bool stayed_open = false;
    WhenModalOpens([&](QWidget* w) {
        platform::FileOpenDialog* d = OpenDialog(w);
        ASSERT_NE(d, nullptr);
        d->SetName(QStringLiteral("sub"));
        d->Open();
        entered = d->Folder();
        d->SetName(QStringLiteral("*.txt"));
        d->Open();
        typed_pattern = d->Pattern();
        stayed_open = d->isVisible() && d->Chosen().isEmpty();
        d->SetName(QStringLiteral("nova.mdb"));
        d->Open();
    });
    dialog.SetFileName("*.mdb");
    dialog.ShowOpen();
    EXPECT_EQ(entered, here + QStringLiteral("/sub"));
    EXPECT_EQ(typed_pattern, QStringLiteral("*.txt"));
    EXPECT_TRUE(stayed_open);
    EXPECT_EQ(dialog.FileName(), (dir.path() / "sub" / "nova.mdb").string());

    // Cancel hands back no name; the dialog opened on the current folder again, not on the
    // one the last use ended in.
    folder.clear();
    WhenModalOpens([&](QWidget* w) {
        folder = OpenDialog(w)->Folder();
        OpenDialog(w)->reject();
    });
    dialog.SetFileName("*.mdb");
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName(), "") << "Cancel hands back no name";
    EXPECT_EQ(folder, here);

    // A path longer than the longest name allowed is no choice, never a cut path.
    WhenModalOpens([&](QWidget* w) {
        OpenDialog(w)->SetName(QString::fromStdString(base));
        OpenDialog(w)->Open();
    });
    dialog.SetMaxFileSize(5);
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName(), "");

    EXPECT_EQ(SettingsFiles(), settings_before) << "the dialog wrote into the user's settings";
}

}  // namespace
