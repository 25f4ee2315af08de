#include "CommandLine.h"

#include <QFile>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "Capture.h"
#include "Takes.h"

namespace zorvik::recorder {

namespace {

using namespace std::chrono_literals;

// Sound arrives in real time; this much beyond the requested length means the server has stalled.
constexpr auto kSlack = 10s;
constexpr auto kPollInterval = 20ms;

int Report(const QString& problem) {
    std::fprintf(stderr, "zorvik-recorder: %s\n", qPrintable(problem));
    return 1;
}

}  // namespace

int RecordToFile(double seconds, const QString& output, const SourceFactory& source) {
    const std::int64_t frames = std::llround(seconds * kRate);
    if (frames > Capture::kLongestFrames) {
        return Report(QStringLiteral("A recording can be at most six hours long (%1 seconds).")
                          .arg(Capture::kLongestFrames / kRate));
    }
    QString problem;
    const PartFile created = CreatePartFile(output, problem);
    const QString& part = created.path;
    if (part.isEmpty()) {
        return Report(problem);
    }

    Capture capture(source);
    std::string error;
    if (!capture.Start(created.fd, QFile::encodeName(part).toStdString(), frames, error)) {
        QFile::remove(part);
        return Report(QString::fromStdString(error));
    }
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds) + kSlack);
    bool stalled = false;
    for (Capture::State state = capture.CurrentState();
         state == Capture::State::Connecting || state == Capture::State::Recording;
         state = capture.CurrentState()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            stalled = true;
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }

    if (capture.CurrentState() == Capture::State::Failed) {
        problem = QString::fromStdString(capture.Error());
    }
    if (stalled) {
        problem = QStringLiteral("The sound server stopped sending sound.");
    }
    if (!capture.Stop(error) && problem.isEmpty()) {
        problem = QString::fromStdString(error);
    }
    const std::int64_t recorded = capture.Frames();
    if (problem.isEmpty()) {
        return MoveReplacing(part, output, problem) ? 0 : Report(problem);
    }
    // What was recorded before the failure is the user's: it goes where they asked for it, its header
    // right up to its last frame, and only a recording with nothing in it is let go.
    if (recorded == 0) {
        QFile::remove(part);
        return Report(problem);
    }
    QString moved;
    const QString kept = MoveReplacing(part, output, moved) ? output : part;
    return Report(QStringLiteral("%1 The %2 s recorded before it are in %3.")
                      .arg(problem)
                      .arg(static_cast<double>(recorded) / kRate, 0, 'f', 1)
                      .arg(kept));
}

}  // namespace zorvik::recorder
