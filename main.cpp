// The composition root: the one place that picks the real platform implementations.

#include <QApplication>

#include "DrumPlayer.h"
#include "GstMediaGraph.h"
#include "MusicControl.h"
#include "Program.h"
#include "Runtime.h"
#include "Skin.h"
#include "SoundControl.h"
#include "ZorvSplash.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvik"));
    QApplication::setDesktopFileName(QStringLiteral("zorvik"));
    zorvik::runtime::InitRuntime();
    zorvik::skin::InitResources();

    zorvik::MusicControl music([] { return zorvik::platform::GstMediaGraph::Create(); });
    zorvik::SoundControl sound([] { return zorvik::platform::MakeDrumPlayer(); });
    zorvik::forms::Program program(music, sound);

    program.zorvSplash().Show();
    return QApplication::exec();
}
