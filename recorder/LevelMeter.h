#pragma once

#include <QWidget>

namespace zorvik::recorder {

// A horizontal peak meter on a dB scale. The bar jumps up to a new peak and sinks back slowly, the way
// a meter needle would, so that short hits stay readable at a 20 Hz update.
class LevelMeter : public QWidget {
    Q_OBJECT

  public:
    explicit LevelMeter(QWidget* parent = nullptr);

    // The peak of the sound since the last call, `seconds` ago.
    void ShowPeak(float peak, double seconds);
    // Back to an empty bar, for when nothing is being recorded.
    void Reset();

    double ShownDb() const { return shownDb_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double shownDb_;
};

}  // namespace zorvik::recorder
