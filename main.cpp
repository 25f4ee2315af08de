// The composition root: the one place that picks the real platform implementations (Studio.h).

#include <QApplication>

#include "Identity.h"
#include "Studio.h"
#include "ZorvSplash.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(zorvik::platform::kAppName));
    QApplication::setDesktopFileName(QString::fromLatin1(zorvik::platform::kAppId));
    zorvik::Studio studio;
    // "zorvik SONG", as a file manager's "Open with" starts it: the song waits in the main window.
    if (const QStringList args = QApplication::arguments(); args.size() > 1) {
        studio.program.SetSongToOpen(args.at(1));
    }
    studio.program.SplashForm().Show();
    return QApplication::exec();
}
