#include "OutputTiming.h"

#include <algorithm>

namespace zorvik::platform::audio {

int PeriodKeeper::Cycle(std::int64_t nowNs, int granted, bool missed) {
    if (since_ < 0) {
        since_ = nowNs;
    }
    if (missed) {
        // Grow only once the last request has been granted, and not again within a burst: the cycles
        // missed while a stalled server catches up come within milliseconds of one another, and count
        // as one. A machine that cannot keep up goes on missing after that, and grows it again.
        if (granted >= period_ && period_ < longest_ && (grown_ < 0 || nowNs - grown_ >= kBurstNs)) {
            period_ = static_cast<int>(
                std::min<std::int64_t>(longest_, std::int64_t{period_} * growPercent_ / 100));
            grown_ = nowNs;
        }
        since_ = nowNs;
    } else if (period_ > shortest_ && nowNs - since_ >= calmNs_) {
        period_ =
            static_cast<int>(std::max<std::int64_t>(shortest_, std::int64_t{period_} * 100 / growPercent_));
        since_ = nowNs;
    }
    return period_;
}

bool MissedCycle(const GraphClock& before, const GraphClock& now, std::uint32_t frames, int rate) {
    if (frames == 0 || rate <= 0 || now.denom == 0 || before.denom != now.denom || before.num != now.num ||
        now.ticks <= before.ticks) {
        return false;
    }
    const double moved = static_cast<double>(now.ticks - before.ticks) * now.num / now.denom;
    const double cycle = static_cast<double>(frames) / rate;
    const double elapsed = static_cast<double>(now.nowNs - before.nowNs) * 1e-9;
    // The monotonic clock is read a little after the graph's, at the node's own wake-up: a cycle of
    // leeway.
    if (moved > elapsed + cycle) {
        return false;
    }
    return moved > 1.5 * cycle;
}

std::uint64_t MidiOffset(std::uint64_t frame, std::uint64_t cycleStart, std::uint32_t graphRate,
                         int streamRate, double maxLeadSeconds) {
    if (graphRate == 0 || streamRate <= 0 || frame <= cycleStart) {
        return 0;
    }
    const std::uint64_t ahead = frame - cycleStart;
    if (static_cast<double>(ahead) >= maxLeadSeconds * graphRate) {
        return 0;
    }
    return ahead * static_cast<std::uint64_t>(streamRate) / graphRate;
}

}  // namespace zorvik::platform::audio
