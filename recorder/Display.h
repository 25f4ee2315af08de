#pragma once

#include <QString>
#include <cstdint>

// How the recorder shows time and level.
namespace zorvik::recorder {

// "mm:ss.t" for a number of recorded frames; tenths are cut, not rounded, so the clock never claims
// sound that has not been recorded yet. Minutes simply grow past 99.
QString FormatElapsed(std::int64_t frames, int rate);

// The meter's range: anything quieter than this shows as an empty bar.
inline constexpr double kMeterFloorDb = -60.0;

// A peak amplitude (1.0 = full scale) in dB, with silence at kMeterFloorDb.
double PeakDb(float peak);

// How much of the meter a level fills, 0..1, evenly spaced in dB.
double MeterFill(double db);

}  // namespace zorvik::recorder
