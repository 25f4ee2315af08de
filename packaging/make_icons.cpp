// Writes the desktop icons, hicolor/<n>x<n>/apps/zorvik.png, from the program's own window icon, so
// the launcher and the running window look the same.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <array>
#include <cstdio>

#include "Skin.h"

namespace {
constexpr std::array<int, 6> kSizes{16, 32, 48, 64, 128, 256};
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zorvik_make_icons [-platform offscreen] OUTPUT_DIR\n");
        return 2;
    }
    zorvik::skin::InitResources();
    const QImage icon = zorvik::skin::Picture("AppIcon").toImage().convertToFormat(QImage::Format_ARGB32);
    if (icon.isNull()) {
        std::fprintf(stderr, "zorvik_make_icons: the skin has no AppIcon\n");
        return 1;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (const int size : kSizes) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QImage image = icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!root.mkpath(folder) ||
            !image.save(root.filePath(folder + QStringLiteral("/zorvik.png")), "PNG")) {
            std::fprintf(stderr, "zorvik_make_icons: cannot write %s\n", qPrintable(root.filePath(folder)));
            return 1;
        }
    }
    return 0;
}
