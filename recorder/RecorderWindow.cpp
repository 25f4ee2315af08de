#include "RecorderWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "Display.h"
#include "LevelMeter.h"
#include "Takes.h"

namespace zorvik::recorder {

namespace {
const QString kTitle = QStringLiteral("Zorvik Recorder");
constexpr int kPollMs = 50;

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}
}  // namespace

RecorderWindow::RecorderWindow(SourceFactory source, QString folder, QWidget* parent)
    : QWidget(parent), capture_(std::move(source)), folder_(std::move(folder)) {
    setWindowTitle(kTitle);

    elapsed_ = new QLabel(FormatElapsed(0, kRate));
    elapsed_->setObjectName(QStringLiteral("elapsed"));
    QFont clock = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    clock.setPointSizeF(clock.pointSizeF() * 2.2);
    elapsed_->setFont(clock);
    elapsed_->setAlignment(Qt::AlignCenter);

    meter_ = new LevelMeter;

    record_ = new QPushButton(QStringLiteral("&Record"));
    stop_ = new QPushButton(QStringLiteral("&Stop"));
    saveAs_ = new QPushButton(QStringLiteral("Save &As…"));
    connect(record_, &QPushButton::clicked, this, &RecorderWindow::Record);
    connect(stop_, &QPushButton::clicked, this, &RecorderWindow::Stop);
    connect(saveAs_, &QPushButton::clicked, this, &RecorderWindow::SaveAs);

    status_ = new QLabel(
        QStringLiteral("Records everything the computer plays. Recordings go to %1.").arg(Native(folder_)));
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(record_);
    buttons->addWidget(stop_);
    buttons->addWidget(saveAs_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(elapsed_);
    layout->addWidget(meter_);
    layout->addLayout(buttons);
    layout->addWidget(status_);

    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &RecorderWindow::Poll);
    UpdateControls();
}

RecorderWindow::~RecorderWindow() {
    // Quitting with a recording running (the session ending, say) keeps it, like Stop would.
    const QString problem = Finish(true);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "zorvik-recorder: %s\n", qPrintable(problem));
    }
}

void RecorderWindow::Record() {
    if (Recording()) {
        return;
    }
    wantedPath_ = QDir(folder_).filePath(DatedName(QDateTime::currentDateTime()));
    QString problem;
    const PartFile created = CreatePartFile(wantedPath_, problem);
    const QString& part = created.path;
    if (part.isEmpty()) {
        ShowMessage(problem);
        return;
    }
    std::string error;
    if (!capture_.Start(created.fd, QFile::encodeName(part).toStdString(), 0, error)) {
        QFile::remove(part);
        ShowMessage(QString::fromStdString(error));
        return;
    }
    partPath_ = part;
    elapsed_->setText(FormatElapsed(0, kRate));
    status_->setText(QStringLiteral("Connecting to the sound server…"));
    sincePoll_.start();
    poll_.start();
    UpdateControls();
}

void RecorderWindow::Stop() {
    const QString problem = Finish(true);
    if (!problem.isEmpty()) {
        ShowMessage(problem);
    }
}

void RecorderWindow::SaveAs() {
    if (Recording() || lastRecording_.isEmpty()) {
        return;
    }
    auto* dialog = new QFileDialog(this, QStringLiteral("Save Recording As"),
                                   QFileInfo(lastRecording_).path(), QStringLiteral("WAV audio (*.wav)"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("wav"));
    dialog->selectFile(QFileInfo(lastRecording_).fileName());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& target) {
        QString problem;
        if (!MoveReplacing(lastRecording_, target, problem)) {
            ShowMessage(problem);
            return;
        }
        lastRecording_ = target;
        status_->setText(QStringLiteral("Saved as %1.").arg(Native(target)));
    });
    dialog->open();
}

void RecorderWindow::closeEvent(QCloseEvent* event) {
    // Still connecting, or nothing played yet: there is nothing to ask about. Kept rather than discarded
    // in case sound arrived just now; with none, nothing is kept.
    if (Recording() && capture_.Frames() == 0) {
        const QString problem = Finish(true);
        if (!problem.isEmpty()) {
            event->ignore();
            ShowMessage(problem);
            return;
        }
    }
    if (!Recording()) {
        event->accept();
        return;
    }
    event->ignore();
    AskBeforeClosing();
}

void RecorderWindow::Poll() {
    const double seconds = static_cast<double>(sincePoll_.restart()) / 1000.0;
    switch (capture_.CurrentState()) {
        case Capture::State::Connecting:
            break;
        case Capture::State::Recording:
            elapsed_->setText(FormatElapsed(capture_.Frames(), kRate));
            meter_->ShowPeak(capture_.TakePeak(), seconds);
            status_->setText(
                QStringLiteral("Recording to %1").arg(Native(QFileInfo(wantedPath_).fileName())));
            break;
        case Capture::State::Failed: {
            const QString error = QString::fromStdString(capture_.Error());
            const bool gotSound = capture_.Frames() > 0;
            const QString problem = Finish(true);
            QString text = error;
            if (gotSound && problem.isEmpty()) {
                text += QStringLiteral("\n\nWhat was recorded up to then is kept as %1.")
                            .arg(Native(lastRecording_));
            } else if (!problem.isEmpty()) {
                text += QStringLiteral("\n\n") + problem;
            }
            ShowMessage(text);
            break;
        }
        case Capture::State::Idle:
        case Capture::State::Complete:
            break;
    }
}

QString RecorderWindow::Finish(bool keep) {
    if (!Recording()) {
        return {};
    }
    poll_.stop();
    meter_->Reset();
    std::string error;
    const bool finished = capture_.Stop(error);
    const std::int64_t frames = capture_.Frames();
    const QString part = std::exchange(partPath_, QString());
    elapsed_->setText(FormatElapsed(frames, kRate));

    if (!keep || frames == 0) {
        QFile::remove(part);
        UpdateControls();
        status_->setText(keep ? QStringLiteral("Nothing was recorded.")
                              : QStringLiteral("Recording discarded."));
        return {};
    }
    QString problem;
    const QString kept = KeepUnderFreeName(part, wantedPath_, problem);
    lastRecording_ = kept.isEmpty() ? part : kept;
    UpdateControls();
    status_->setText(QStringLiteral("Saved as %1.").arg(Native(lastRecording_)));
    if (!finished) {
        problem = QString::fromStdString(error) + (problem.isEmpty() ? QString() : "\n" + problem);
    }
    return problem;
}

void RecorderWindow::AskBeforeClosing() {
    if (closeQuestion_ != nullptr) {
        closeQuestion_->raise();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Question, kTitle,
                                QStringLiteral("A recording is still running. Save it before closing?"),
                                QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box->setInformativeText(QStringLiteral("It will be kept as %1 in %2.")
                                .arg(QFileInfo(wantedPath_).fileName(), Native(folder_)));
    box->setDefaultButton(QMessageBox::Save);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box] {
        const QMessageBox::StandardButton answer = box->standardButton(box->clickedButton());
        if (answer != QMessageBox::Save && answer != QMessageBox::Discard) {
            return;
        }
        const QString problem = Finish(answer == QMessageBox::Save);
        if (!problem.isEmpty()) {
            // Stay open: the message says where the recording is, and closing would hide it.
            ShowMessage(problem);
            return;
        }
        close();
    });
    closeQuestion_ = box;
    box->open();
}

void RecorderWindow::ShowMessage(const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, kTitle, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void RecorderWindow::UpdateControls() {
    record_->setEnabled(!Recording());
    stop_->setEnabled(Recording());
    saveAs_->setEnabled(!Recording() && !lastRecording_.isEmpty());
}

}  // namespace zorvik::recorder
