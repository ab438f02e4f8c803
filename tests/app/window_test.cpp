// The window as it opens: every control of the layout table, fonts, colours, tab order,
// focus, the icon, and a frame whose controls never move.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <map>

#include "app/qt/fonts.h"
#include "app/qt/icon.h"
#include "tests/app/harness.h"
#include "tests/app/qt_window_util.h"

namespace {

using testing_app::Harness;
using testing_app::QtOf;

struct Expected {
    const char* name;
    QWidget* widget;
    QString text;
    int left, top, width, height;  // twips
    QString family;                // empty: the platform's default font
    double points;
    bool bold;
    Qt::Alignment alignment;  // labels only
};

QString TextOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
    if (auto* line = qobject_cast<QLineEdit*>(w)) return line->text();
    if (auto* box = dynamic_cast<ui::CaixaTexto*>(w)) return QString::fromStdString(box->Text());
    return {};
}

TEST(Window, EveryControlOfTheLayoutTable) {
    Harness h;
    ui::QtWindow& f = QtOf(*h.form);
    const QString arial = QStringLiteral("Arial");
    const QString tahoma = QStringLiteral("Tahoma");
    const Qt::Alignment centre = Qt::AlignHCenter;
    const Expected table[] = {
        {"Command1", f.command1, "Iniciar Processo", 75, 7005, 12180, 795, arial, 12, true, {}},
        {"Label1(1)", f.label1[1], "Arquivo:", 75, 555, 1365, 315, arial, 12, true, Qt::AlignLeft},
        {"Text1", f.text1, "", 1455, 525, 9405, 375, {}, 0, false, {}},
        {"Command2",
         f.command2,
         "Localizar Arquivo",
         10965,
         480,
         1230,
         390,
         arial,
         6.75,
         false,
         {}},
        {"Label1(0)", f.label1[0], "", 75, 960, 12150, 660, arial, 12, true, centre},
        {"Label2", f.label2, "Escolha o arquivo a ser reparado/compactado", 150, 90, 12225, 315,
         arial, 8.25, true, centre},
        {"TxtLog", f.txt_log, "Log.:", 75, 2055, 8790, 4935, {}, 0, false, {}},
        {"ListLDB1", f.list_ldb1, "", 9000, 2070, 3270, 4890, tahoma, 9, false, {}},
        {"Label3", f.label3, "Usuários Ativos", 9000, 1770, 3225, 270, arial, 8.25, true, centre},
        {"Label4", f.label4, "Arquivo Log", 90, 1755, 8775, 270, arial, 8.25, true, centre},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(TextOf(e.widget), e.text);
        EXPECT_EQ(e.widget->geometry(),
                  QRect(e.left / 15, e.top / 15, e.width / 15, e.height / 15));
        if (!e.family.isEmpty()) {
            QFont font = e.widget->font();
            EXPECT_EQ(font.family(), FamiliaDisponivel(e.family));
            EXPECT_EQ(font.pixelSize(), PixelsDePontos(e.points));
            EXPECT_EQ(font.bold(), e.bold);
            // The family is really installed: no silent fallback to another face.
            EXPECT_EQ(QFontInfo(font).family(), font.family());
        } else {
            EXPECT_EQ(e.widget->font().family(), QApplication::font().family());
        }
        if (auto* label = qobject_cast<QLabel*>(e.widget)) {
            EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, e.alignment);
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
        }
    }
    EXPECT_EQ(PixelsDePontos(12), 16);
    EXPECT_EQ(PixelsDePontos(8.25), 11);
    EXPECT_EQ(PixelsDePontos(6.75), 9);
    EXPECT_EQ(PixelsDePontos(9), 12);
    if (!QFontDatabase::families().contains("Arial")) {
        EXPECT_EQ(FamiliaDisponivel("Arial"), "Liberation Sans");
    }

    EXPECT_EQ(f.label3->palette().color(QPalette::Window), QColor(255, 128, 128));
    EXPECT_TRUE(f.label3->autoFillBackground());
    EXPECT_EQ(f.label4->palette().color(QPalette::Window), QColor(192, 192, 255));
    EXPECT_EQ(f.list_ldb1->count(), 0);
    EXPECT_FALSE(f.list_ldb1->isSortingEnabled());
    EXPECT_EQ(f.txt_log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(f.txt_log->isReadOnly());
    EXPECT_FALSE(f.text1->isReadOnly());
}

TEST(Window, CaptionClientAreaFrameAndIcon) {
    Harness h;
    ui::QtWindow& f = QtOf(*h.form);
    EXPECT_EQ(f.windowTitle(), "Compactador/Reparador de Banco de Dados");
    EXPECT_EQ(f.size(), QSize(12345 / 15, 7845 / 15));
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
    QImage icon = ImagemIconeDisco();
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
    const QImage drawn = ImagemIconeDisco().convertToFormat(QImage::Format_ARGB32);
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

}  // namespace
