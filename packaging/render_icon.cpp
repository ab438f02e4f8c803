// Renders the window's icon (app/qt/icon.cpp) as PNG files for the desktop's icon theme:
//   compactador_icon OUTPUT_DIR SIZE...
// writes OUTPUT_DIR/<SIZE>x<SIZE>/compactador.png for each size. The icon is 32 x 32 pixel
// art: whole multiples of 32 are scaled pixel for pixel so it stays crisp; other sizes are
// scaled up pixel for pixel past the target first and then smoothly down, which keeps the
// edges even instead of doubling every other pixel.
#include <QDir>
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/qt/icon.h"

namespace {

QImage Scaled(const QImage& icon, int size) {
    const int base = icon.width();
    if (size % base == 0) {
        return icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    const int factor = size / base + 1;
    QImage big =
        icon.scaled(base * factor, base * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return big.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR SIZE...\n", argv[0]);
        return 2;
    }
    const QImage icon = ImagemIconeDisco().convertToFormat(QImage::Format_ARGB32);
    QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "bad size %s\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1").arg(size);
        if (!out.mkpath(folder)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(out.filePath(folder)));
            return 1;
        }
        const QString file = out.filePath(folder + QStringLiteral("/compactador.png"));
        if (!Scaled(icon, size).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
