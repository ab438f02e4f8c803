// The Qt window as it opens: what it made of every control of the layout table (kind, text,
// place, font, colour), tab order, focus, the icon, and a frame whose controls never move; and
// what only Qt does for the form (its pending events, its pointers, its close).
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <map>

#include "app/layout.h"
#include "app/qt/fonts.h"
#include "app/qt/icon.h"
#include "tests/app/harness.h"
#include "tests/app/qt/qt_window_util.h"

namespace {

using apptest::Harness;
using apptest::QtOf;

QString TextOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
    if (auto* line = qobject_cast<QLineEdit*>(w)) return line->text();
    if (auto* box = dynamic_cast<ui::QtMultiLineEdit*>(w))
        return QString::fromStdString(box->Text());
    return {};
}

// The Qt widget each kind of control of the layout becomes.
bool IsOfKind(QWidget* w, ui::ControlKind kind) {
    switch (kind) {
        case ui::ControlKind::kButton:
            return qobject_cast<QPushButton*>(w) != nullptr;
        case ui::ControlKind::kLabel:
            return qobject_cast<QLabel*>(w) != nullptr;
        case ui::ControlKind::kTextBox:
            return qobject_cast<QLineEdit*>(w) != nullptr;
        case ui::ControlKind::kMultiLineTextBox:
            return dynamic_cast<ui::QtMultiLineEdit*>(w) != nullptr;
        case ui::ControlKind::kListBox:
            return qobject_cast<QListWidget*>(w) != nullptr;
    }
    return false;
}

TEST(Window, EveryControlOfTheLayoutTable) {
    Harness h;
    ui::QtWindow& f = QtOf(*h.form);
    for (int id = 0; id < ui::kControlCount; ++id) {
        const ui::ControlLayout& e = ui::kForm1.controls[id];
        QWidget* w = f.widgets[id];
        SCOPED_TRACE(e.name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(IsOfKind(w, e.kind));
        EXPECT_EQ(TextOf(w), QString::fromUtf8(e.caption));
        EXPECT_EQ(w->geometry(), QRect(e.left / 15, e.top / 15, e.width / 15, e.height / 15));
        EXPECT_EQ(!w->isHidden(), e.visible);
        if (e.font != nullptr) {
            QFont font = w->font();
            EXPECT_EQ(font.family(), AvailableFamily(e.font));
            EXPECT_EQ(font.pixelSize(), PixelsOfPoints(e.points));
            EXPECT_EQ(font.bold(), e.bold);
            // The family is really installed: no silent fallback to another face.
            EXPECT_EQ(QFontInfo(font).family(), font.family());
        } else {
            EXPECT_EQ(w->font().family(), QApplication::font().family());
        }
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask,
                      e.alignment == ui::Alignment::kCentre ? Qt::AlignHCenter : Qt::AlignLeft);
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
            EXPECT_EQ(label->autoFillBackground(), e.has_background);
            if (e.has_background) {
                EXPECT_EQ(label->palette().color(QPalette::Window),
                          QColor(e.background.red, e.background.green, e.background.blue));
            }
        }
    }
    // The controls of the form are these widgets.
    EXPECT_EQ(f.widgets[ui::kCommand1], f.command1);
    EXPECT_EQ(f.widgets[ui::kLabel1_0], f.label1[0]);
    EXPECT_EQ(f.widgets[ui::kTxtLog], f.txt_log);
    EXPECT_EQ(PixelsOfPoints(12), 16);
    EXPECT_EQ(PixelsOfPoints(8.25), 11);
    EXPECT_EQ(PixelsOfPoints(6.75), 9);
    EXPECT_EQ(PixelsOfPoints(9), 12);
    if (!QFontDatabase::families().contains("Arial")) {
        EXPECT_EQ(AvailableFamily("Arial"), "Liberation Sans");
    }

    EXPECT_EQ(f.list_ldb1->count(), 0);
    EXPECT_FALSE(f.list_ldb1->isSortingEnabled());
    EXPECT_EQ(f.txt_log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(f.txt_log->isReadOnly());
    EXPECT_FALSE(f.text1->isReadOnly());
}

TEST(Window, CaptionClientAreaFrameAndIcon) {
    Harness h;
    ui::QtWindow& f = QtOf(*h.form);
    EXPECT_EQ(f.windowTitle(), QString::fromUtf8(ui::kForm1.caption));
    EXPECT_EQ(f.size(), QSize(ui::kForm1.width / 15, ui::kForm1.height / 15));
    Qt::WindowFlags flags = f.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(f.windowIcon().isNull());

    // Resizing moves nothing.
    std::map<QWidget*, QRect> before;
    for (QWidget* w : f.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        before[w] = w->geometry();
    f.resize(400, 300);
    QApplication::processEvents();
    f.resize(1200, 900);
    QApplication::processEvents();
    for (auto& [w, rect] : before) EXPECT_EQ(w->geometry(), rect) << w->metaObject()->className();
}

TEST(Window, TheIconIsA32PixelBlueDriveIn256Colours) {
    QImage icon = DriveIconImage();
    EXPECT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(icon.format(), QImage::Format_Indexed8);
    EXPECT_LE(icon.colorCount(), 256);
    std::map<QRgb, int> counts;
    int opaque = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            QRgb p = icon.pixel(x, y);
            if (qAlpha(p) < 255) continue;
            ++opaque;
            ++counts[p];
        }
    }
    EXPECT_GT(opaque, 300) << "the drive fills a good part of the icon";
    EXPECT_LT(opaque, 32 * 32) << "around it the icon is transparent";
    int blue = 0;
    for (auto& [rgb, n] : counts) {
        if (qBlue(rgb) > qRed(rgb) + 40 && qBlue(rgb) > qGreen(rgb)) blue += n;
    }
    EXPECT_GT(blue, opaque * 2 / 3) << "mostly blue";
}

// The Windows program's icon resource is a saved copy of this drawing (packaging/render_icon.cpp
// --ico): it must still show the same pixels.
TEST(Window, TheWindowsIconResourceHoldsTheIconAsDrawn) {
    const QImage drawn = DriveIconImage().convertToFormat(QImage::Format_ARGB32);
    const QImage saved(QStringLiteral(COMPACTADOR_SOURCE_DIR "/app/win32/compactador.ico"));
    ASSERT_EQ(saved.size(), QSize(32, 32)) << "app/win32/compactador.ico unreadable";
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const QRgb a = drawn.pixel(x, y), b = saved.pixel(x, y);
            ASSERT_EQ(qAlpha(a) >= 128, qAlpha(b) >= 128) << x << "," << y;
            if (qAlpha(a) < 128) continue;
            ASSERT_EQ(qRgb(qRed(a), qGreen(a), qBlue(a)), qRgb(qRed(b), qGreen(b), qBlue(b)))
                << x << "," << y;
        }
    }
}

TEST(Window, StartsWithoutTheStartButtonAndWithFocusOnThePath) {
    Harness h;
    ui::QtWindow& f = QtOf(*h.form);
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    EXPECT_FALSE(f.command1->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), f.text1);

    // Tab goes Text1, Command2, TxtLog, ListLDB1 and round again; the hidden button is skipped.
    std::vector<QWidget*> order;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(order,
              (std::vector<QWidget*>{f.command2, f.txt_log, f.list_ldb1, f.text1, f.command2}));

    // Once shown, Command1 comes first in the order.
    f.command1->setVisible(true);
    f.list_ldb1->setFocus();
    QTest::keyClick(f.list_ldb1, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), f.command1);
    QTest::keyClick(f.command1, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), f.text1);
}

TEST(Window, TypingAPathShowsNoStartButton) {
    Harness h;
    ui::QtWindow& w = QtOf(*h.form);
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClicks(w.text1, "/srv/dados/base.mdb");
    EXPECT_EQ(h.form->Text1->Text(), "/srv/dados/base.mdb");
    EXPECT_FALSE(h.form->Command1->Visible());
}

// ---- What only Qt does for the form ----

TEST(QtForm, GravaLogLetsQtsPendingEventsRunBeforeTheFileIsWritten) {
    Harness h;
    Form1& f = *h.form;
    f.ArquivoLog = h.program_folder + "/Log.txt";
    std::string status_seen;
    bool file_seen = true;
    QTimer::singleShot(0, [&] {
        status_seen = f.Label1[0]->Caption();
        file_seen = std::filesystem::exists(f.ArquivoLog);
    });
    f.GravaLog("Inicio.");
    EXPECT_EQ(status_seen, "Inicio.") << "processed inside the call, after the status line";
    EXPECT_FALSE(file_seen);
}

TEST(QtForm, TheScreensPointerIsTheApplicationsOverrideCursorOneDeep) {
    Harness h;
    Form1& f = *h.form;
    f.Screen.SetMousePointer(vbHourglass);
    f.Screen.SetMousePointer(vbArrow);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    f.Screen.SetMousePointer(vbDefault);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "one deep: one restore clears it";

    // The window's own pointer.
    f.SetMousePointer(vbHourglass);
    EXPECT_EQ(QtOf(f).cursor().shape(), Qt::WaitCursor);
    f.SetMousePointer(vbArrow);
    EXPECT_EQ(QtOf(f).cursor().shape(), Qt::ArrowCursor);
}

TEST(QtForm, ASecondClickSignalDuringARunAndACloseWaitForTheRun) {
    Harness h;
    ui::QtWindow& w = QtOf(*h.form);
    bool closed_while_running = true;
    h.boxes.on_show = [&] {
        // Qt delivers the signal even though the button is disabled.
        QMetaObject::invokeMethod(w.command1, "clicked", Q_ARG(bool, false));
        w.close();
        closed_while_running = !w.isVisible();
    };
    h.ChooseAndRun(h.program_folder + "/falta.mdb");
    EXPECT_EQ(h.BoxTexts().size(), 2u) << "one run, to its end";
    EXPECT_FALSE(closed_while_running);
    EXPECT_FALSE(w.isVisible()) << "closed once it returned";
}

}  // namespace
