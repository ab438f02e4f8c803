#include "app/qt/fonts.h"

#include <QFontDatabase>
#include <QStringList>
#include <cmath>

QString AvailableFamily(const QString& wanted) {
    if (QFontDatabase::families().contains(wanted, Qt::CaseInsensitive)) return wanted;
    return QStringLiteral("Liberation Sans");
}

int PixelsOfPoints(double points) {
    return static_cast<int>(std::lround(points * 96.0 / 72.0));
}

QFont WindowFont(const QString& wanted_family, double points, bool bold) {
    QFont font(AvailableFamily(wanted_family));
    font.setPixelSize(PixelsOfPoints(points));
    font.setBold(bold);
    return font;
}
