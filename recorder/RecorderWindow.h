#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "Capture.h"

class QLabel;
class QMessageBox;
class QPushButton;

namespace zorvik::recorder {

class LevelMeter;

// The recorder's window: Record, Stop, Save As, the time recorded and a level meter. Each recording is
// kept under a dated name in `folder` as soon as it stops; Save As only moves it somewhere else, so
// no recording depends on the user remembering to save it.
class RecorderWindow : public QWidget {
    Q_OBJECT

  public:
    RecorderWindow(SourceFactory source, QString folder, QWidget* parent = nullptr);
    ~RecorderWindow() override;

    // The last recording kept; empty before the first one ends.
    const QString& LastRecording() const { return lastRecording_; }
    bool Recording() const { return !partPath_.isEmpty(); }

    void Record();
    void Stop();
    void SaveAs();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Poll();
    // Ends the recording that is running, keeping it unless `keep` is false; a recording that got no
    // sound at all is not kept. Returns what went wrong, for the caller to show; empty if nothing did.
    QString Finish(bool keep);
    void AskBeforeClosing();
    void ShowMessage(const QString& text);
    void UpdateControls();

    Capture capture_;
    QString folder_;
    QString partPath_;
    QString wantedPath_;
    QString lastRecording_;
    QTimer poll_;
    QElapsedTimer sincePoll_;
    QPointer<QMessageBox> closeQuestion_;

    QLabel* elapsed_;
    LevelMeter* meter_;
    QLabel* status_;
    QPushButton* record_;
    QPushButton* stop_;
    QPushButton* saveAs_;
};

}  // namespace zorvik::recorder
