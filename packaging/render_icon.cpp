// Renders the window's icon (app/qt/icon.cpp) as PNG files for the desktop's icon theme:
//   compactador_icon OUTPUT_DIR SIZE...
// writes OUTPUT_DIR/<SIZE>x<SIZE>/compactador.png for each size; and as the Windows icon
// resource of the Windows program, 32 x 32 in 256 colours as drawn:
//   compactador_icon --ico app/win32/compactador.ico
// (the file is kept in the repository, since a Windows build has no Qt to draw it; a test of
// the window checks that it still holds the icon drawn here). The icon is 32 x 32 pixel
// art: whole multiples of 32 are scaled pixel for pixel so it stays crisp; other sizes are
// scaled up pixel for pixel past the target first and then smoothly down, which keeps the
// edges even instead of doubling every other pixel.
#include <QDir>
#include <QImage>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

// One 8-bit image in an .ico file: the header, the bitmap header (twice the height: the
// colours, then the transparency mask), 256 palette entries, the colour indexes and the mask,
// rows bottom-up.
std::string Ico(const QImage& icon) {
    const int w = icon.width(), h = icon.height();
    const int mask_row = ((w + 31) / 32) * 4;
    const uint32_t image_size = static_cast<uint32_t>(40 + 256 * 4 + w * h + mask_row * h);
    std::string out;
    Put16(out, 0);
    Put16(out, 1);  // an icon
    Put16(out, 1);  // one image
    out += static_cast<char>(w);
    out += static_cast<char>(h);
    out += '\0';  // 256 colours
    out += '\0';
    Put16(out, 1);
    Put16(out, 8);
    Put32(out, image_size);
    Put32(out, 22);
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(w));
    Put32(out, static_cast<uint32_t>(h * 2));
    Put16(out, 1);
    Put16(out, 8);
    for (int i = 0; i < 6; ++i)
        Put32(out, i == 1 ? static_cast<uint32_t>(image_size - 40 - 1024) : 0);
    const QList<QRgb> colours = icon.colorTable();
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < colours.size() ? colours[i] : 0;
        out += static_cast<char>(qBlue(c));
        out += static_cast<char>(qGreen(c));
        out += static_cast<char>(qRed(c));
        out += '\0';
    }
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const int index = icon.pixelIndex(x, y);
            out += static_cast<char>(qAlpha(colours[index]) < 128 ? 0 : index);
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        std::string row(static_cast<size_t>(mask_row), '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(colours[icon.pixelIndex(x, y)]) < 128)
                row[static_cast<size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
        }
        out += row;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--ico") {
        std::ofstream(argv[2], std::ios::binary) << Ico(DriveIconImage());
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR SIZE... | --ico FILE\n", argv[0]);
        return 2;
    }
    const QImage icon = DriveIconImage().convertToFormat(QImage::Format_ARGB32);
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
