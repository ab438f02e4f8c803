#include "app/qt/icon.h"

#include <QPainter>
#include <QPolygon>

namespace {

// The drive seen from above and to the left: a box whose top, front and right faces are
// shades of blue, with a drive bay, a green activity light and a platter drawn on the lid.
void DrawDrive(QPainter& p) {
    const QColor contorno(0, 26, 77);
    const QColor topo(111, 168, 255);
    const QColor frente(31, 95, 208);
    const QColor lado(12, 58, 138);
    const QColor prato(184, 212, 255);
    const QColor baia(8, 36, 96);
    const QColor luz(48, 224, 48);

    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(contorno);

    p.setBrush(topo);
    p.drawPolygon(QPolygon({QPoint(1, 13), QPoint(8, 6), QPoint(30, 6), QPoint(23, 13)}));
    p.setBrush(lado);
    p.drawPolygon(QPolygon({QPoint(23, 13), QPoint(30, 6), QPoint(30, 19), QPoint(23, 26)}));
    p.setBrush(frente);
    p.drawRect(1, 13, 22, 13);

    // The platter and its spindle, on the lid.
    p.setBrush(prato);
    p.drawEllipse(QRect(9, 7, 13, 5));
    p.setBrush(contorno);
    p.drawPoint(15, 9);

    // The drive bay, the activity light and the vents on the front.
    p.setPen(Qt::NoPen);
    p.setBrush(baia);
    p.drawRect(3, 16, 14, 3);
    p.setBrush(luz);
    p.drawRect(19, 21, 2, 2);
    p.setPen(lado);
    for (int x = 4; x <= 14; x += 2) p.drawLine(x, 22, x, 24);
}

}  // namespace

QImage DriveIconImage() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    DrawDrive(painter);
    painter.end();
    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
}

QIcon DriveIcon() {
    return QIcon(QPixmap::fromImage(DriveIconImage()));
}
