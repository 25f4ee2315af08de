#include "Skin.h"

#include <QImageReader>
#include <QString>

// Q_INIT_RESOURCE declares a function of its own and so cannot be used inside a namespace.
static void InitSkinResources() {
    Q_INIT_RESOURCE(skin);
}

namespace zorvik::skin {

void InitResources() {
    InitSkinResources();
}

QPixmap Picture(const char* name) {
    // Told it is a PNG and not to guess, Qt reads it with its own PNG reader; guessing, it first loads
    // every image-format plug-in installed (and their libraries) to ask each whether it reads PNGs.
    QImageReader reader(QStringLiteral(":/skin/%1.png").arg(QLatin1String(name)), "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

}  // namespace zorvik::skin
