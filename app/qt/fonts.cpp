#include "app/qt/fonts.h"

#include <QFontDatabase>
#include <QStringList>
#include <cmath>

QString FamiliaDisponivel(const QString& wanted) {
    if (QFontDatabase::families().contains(wanted, Qt::CaseInsensitive)) return wanted;
    return QStringLiteral("Liberation Sans");
}

int PixelsDePontos(double points) {
    return static_cast<int>(std::lround(points * 96.0 / 72.0));
}

QFont Fonte(const QString& wanted_family, double points, bool bold) {
    QFont font(FamiliaDisponivel(wanted_family));
    font.setPixelSize(PixelsDePontos(points));
    font.setBold(bold);
    return font;
}
