// zorvik-recorder: records what the computer plays, started from Zorvik's "Open Recorder".

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "CommandLine.h"
#include "Identity.h"
#include "PulseMonitor.h"
#include "RecorderWindow.h"
#include "Skin.h"
#include "Takes.h"

namespace {

using namespace std::chrono_literals;

std::unique_ptr<zorvik::recorder::AudioSource> OpenDefaultMonitor(const std::atomic<bool>& stop,
                                                                  std::string& error) {
    return zorvik::recorder::OpenPulseMonitor(5s, stop, error);
}

// Recording to a file needs no display, so it must be known before choosing the kind of application.
bool WantsFileRecording(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--record-seconds", std::strlen("--record-seconds")) == 0) {
            return true;
        }
    }
    return false;
}

struct Options {
    QCommandLineOption minimized{QStringLiteral("minimized"),
                                 QStringLiteral("Start with the window minimised.")};
    QCommandLineOption seconds{QStringLiteral("record-seconds"),
                               QStringLiteral("Record this many seconds into --output, without a window."),
                               QStringLiteral("seconds")};
    QCommandLineOption output{QStringLiteral("output"),
                              QStringLiteral("The WAV file --record-seconds writes."),
                              QStringLiteral("file")};
};

void Parse(QCommandLineParser& parser, const Options& options, const QCoreApplication& app) {
    parser.setApplicationDescription(QStringLiteral("Records everything the computer plays to a WAV file."));
    parser.addHelpOption();
    parser.addOptions({options.minimized, options.seconds, options.output});
    parser.process(app);
}

int RecordWithoutWindow(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const Options options;
    Parse(parser, options, app);
    bool ok = false;
    const double seconds = parser.value(options.seconds).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || !parser.isSet(options.output)) {
        std::fprintf(stderr,
                     "zorvik-recorder: --record-seconds needs a positive number and --output a file\n");
        return 2;
    }
    return zorvik::recorder::RecordToFile(seconds, parser.value(options.output), OpenDefaultMonitor);
}

}  // namespace

int main(int argc, char** argv) {
    if (WantsFileRecording(argc, argv)) {
        return RecordWithoutWindow(argc, argv);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvik Recorder"));
    // Grouped with Zorvik by desktops, as the part of it that it is.
    QApplication::setDesktopFileName(QString::fromLatin1(zorvik::platform::kAppId));
    QCommandLineParser parser;
    const Options options;
    Parse(parser, options, app);

    zorvik::skin::InitResources();
    QApplication::setWindowIcon(QIcon(zorvik::skin::Picture("AppIcon")));

    zorvik::recorder::RecorderWindow window(OpenDefaultMonitor, zorvik::recorder::DefaultFolder());
    // Sized now: left until it is first shown, the sizing would also undo the minimised state.
    window.adjustSize();
    if (parser.isSet(options.minimized)) {
        window.showMinimized();
    } else {
        window.show();
    }
    return QApplication::exec();
}
