#include "Display.h"

#include <algorithm>
#include <cmath>

namespace zorvik::recorder {

QString FormatElapsed(std::int64_t frames, int rate) {
    const std::int64_t tenths = frames * 10 / rate;
    return QStringLiteral("%1:%2.%3")
        .arg(tenths / 600, 2, 10, QLatin1Char('0'))
        .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

double PeakDb(float peak) {
    if (!(peak > 0.0f)) {
        return kMeterFloorDb;
    }
    return std::max(kMeterFloorDb, 20.0 * std::log10(static_cast<double>(peak)));
}

double MeterFill(double db) {
    return std::clamp((db - kMeterFloorDb) / -kMeterFloorDb, 0.0, 1.0);
}

}  // namespace zorvik::recorder
