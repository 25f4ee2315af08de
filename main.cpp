// The composition root: the one place that picks the real platform implementations (Studio.h).

#include <QApplication>

#include "Studio.h"
#include "ZorvSplash.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvik"));
    QApplication::setDesktopFileName(QStringLiteral("zorvik"));
    zorvik::Studio studio;
    studio.program.zorvSplash().Show();
    return QApplication::exec();
}
