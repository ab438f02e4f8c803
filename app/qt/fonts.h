// The window's fonts. Arial and Tahoma are used when installed; otherwise a metric-compatible
// substitute (Liberation Sans, Debian's fonts-liberation) keeps texts the width they were
// laid out for.
#pragma once

#include <QFont>
#include <QString>

// `wanted` when the font database has it, otherwise its substitute.
QString AvailableFamily(const QString& wanted);

// A font of `points` at 96 dots per inch, sized in pixels so that it keeps its proportion to
// the window's pixel layout whatever the screen's resolution.
QFont WindowFont(const QString& wanted_family, double points, bool bold);

// The pixel size of `points` at 96 dots per inch.
int PixelsOfPoints(double points);
