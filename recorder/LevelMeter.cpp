#include "LevelMeter.h"

#include <QPainter>
#include <algorithm>

#include "Display.h"

namespace zorvik::recorder {

namespace {
constexpr double kFallDbPerSecond = 24.0;
// Above these the bar turns amber, then red: loud enough to watch, then close to clipping.
constexpr double kWarnDb = -12.0;
constexpr double kHotDb = -3.0;
constexpr int kTextWidth = 64;
}  // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent), shownDb_(kMeterFloorDb) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LevelMeter::ShowPeak(float peak, double seconds) {
    shownDb_ = std::max(PeakDb(peak), std::max(kMeterFloorDb, shownDb_ - kFallDbPerSecond * seconds));
    update();
}

void LevelMeter::Reset() {
    shownDb_ = kMeterFloorDb;
    update();
}

QSize LevelMeter::sizeHint() const {
    return {280, 22};
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect bar(0, 0, width() - kTextWidth, height());
    p.fillRect(bar, QColor(24, 28, 34));

    // The colours belong to the scale, not to the current level, so they stay put as the bar moves.
    const auto x = [&](double db) { return bar.left() + MeterFill(db) * bar.width(); };
    QLinearGradient colours(bar.left(), 0, bar.right(), 0);
    colours.setColorAt(0.0, QColor(40, 170, 90));
    colours.setColorAt(MeterFill(kWarnDb) - 0.01, QColor(120, 200, 70));
    colours.setColorAt(MeterFill(kWarnDb), QColor(230, 180, 40));
    colours.setColorAt(MeterFill(kHotDb), QColor(230, 180, 40));
    colours.setColorAt(std::min(1.0, MeterFill(kHotDb) + 0.01), QColor(220, 50, 40));
    colours.setColorAt(1.0, QColor(220, 50, 40));
    p.fillRect(QRectF(bar.left(), bar.top() + 2, x(shownDb_) - bar.left(), bar.height() - 4), colours);

    p.setPen(QColor(90, 100, 115));
    for (double db = kMeterFloorDb; db <= 0.0; db += 10.0) {
        p.drawLine(QPointF(x(db), bar.bottom() - 3), QPointF(x(db), bar.bottom()));
    }

    p.setPen(palette().color(QPalette::WindowText));
    const QString text = shownDb_ <= kMeterFloorDb ? QStringLiteral("silent")
                                                   : QStringLiteral("%1 dB").arg(shownDb_, 0, 'f', 1);
    p.drawText(QRect(bar.right() + 1, 0, kTextWidth - 1, height()), Qt::AlignRight | Qt::AlignVCenter, text);
}

}  // namespace zorvik::recorder
