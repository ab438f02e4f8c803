// The window as it opens: every control of the layout table, fonts, colours, tab order,
// focus, the icon, and a frame whose controls never move.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <map>

#include "app/fonts.h"
#include "app/icon.h"
#include "tests/app/harness.h"

namespace {

using testing_app::Harness;

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
    if (auto* box = dynamic_cast<CaixaTexto*>(w)) return QString::fromStdString(box->Text());
    return {};
}

TEST(Window, EveryControlOfTheLayoutTable) {
    Harness h;
    Form1& f = *h.form;
    const QString arial = QStringLiteral("Arial");
    const QString tahoma = QStringLiteral("Tahoma");
    const Qt::Alignment centre = Qt::AlignHCenter;
    const Expected table[] = {
        {"Command1", f.Command1, "Iniciar Processo", 75, 7005, 12180, 795, arial, 12, true, {}},
        {"Label1(1)", f.Label1[1], "Arquivo:", 75, 555, 1365, 315, arial, 12, true, Qt::AlignLeft},
        {"Text1", f.Text1, "", 1455, 525, 9405, 375, {}, 0, false, {}},
        {"Command2",
         f.Command2,
         "Localizar Arquivo",
         10965,
         480,
         1230,
         390,
         arial,
         6.75,
         false,
         {}},
        {"Label1(0)", f.Label1[0], "", 75, 960, 12150, 660, arial, 12, true, centre},
        {"Label2", f.Label2, "Escolha o arquivo a ser reparado/compactado", 150, 90, 12225, 315,
         arial, 8.25, true, centre},
        {"TxtLog", f.TxtLog, "Log.:", 75, 2055, 8790, 4935, {}, 0, false, {}},
        {"ListLDB1", f.ListLDB1, "", 9000, 2070, 3270, 4890, tahoma, 9, false, {}},
        {"Label3", f.Label3, "Usuários Ativos", 9000, 1770, 3225, 270, arial, 8.25, true, centre},
        {"Label4", f.Label4, "Arquivo Log", 90, 1755, 8775, 270, arial, 8.25, true, centre},
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

    EXPECT_EQ(f.Label3->palette().color(QPalette::Window), QColor(255, 128, 128));
    EXPECT_TRUE(f.Label3->autoFillBackground());
    EXPECT_EQ(f.Label4->palette().color(QPalette::Window), QColor(192, 192, 255));
    EXPECT_EQ(f.ListLDB1->count(), 0);
    EXPECT_FALSE(f.ListLDB1->isSortingEnabled());
    EXPECT_EQ(f.TxtLog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(f.TxtLog->isReadOnly());
    EXPECT_FALSE(f.Text1->isReadOnly());
}

TEST(Window, CaptionClientAreaFrameAndIcon) {
    Harness h;
    Form1& f = *h.form;
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

TEST(Window, StartsWithoutTheStartButtonAndWithFocusOnThePath) {
    Harness h;
    Form1& f = *h.form;
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    EXPECT_FALSE(f.Command1->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), f.Text1);

    // Tab goes Text1, Command2, TxtLog, ListLDB1 and round again; the hidden button is skipped.
    std::vector<QWidget*> order;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(order,
              (std::vector<QWidget*>{f.Command2, f.TxtLog, f.ListLDB1, f.Text1, f.Command2}));

    // Once shown, Command1 comes first in the order.
    f.Command1->setVisible(true);
    f.ListLDB1->setFocus();
    QTest::keyClick(f.ListLDB1, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), f.Command1);
    QTest::keyClick(f.Command1, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), f.Text1);
}

TEST(Window, TypingAPathShowsNoStartButton) {
    Harness h;
    h.form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.form.get()));
    QTest::keyClicks(h.form->Text1, "/srv/dados/base.mdb");
    EXPECT_EQ(h.form->Text1->text(), "/srv/dados/base.mdb");
    EXPECT_FALSE(h.form->Command1->isVisible());
}

}  // namespace
