#include "Skin.h"

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
    return QPixmap(QStringLiteral(":/skin/%1.png").arg(QLatin1String(name)));
}

}  // namespace zorvik::skin
