#include "Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace zorvik::platform::samples {
namespace {

// Zero crossings of the sinc on each side: the transition band is about rate / kZeroCrossings wide.
constexpr int kZeroCrossings = 16;
// Table steps between zero crossings; linear interpolation between steps keeps the error near -90 dB.
constexpr int kStepsPerCrossing = 512;
// The pass band ends a little below the lower Nyquist frequency, so the band edge does not alias.
constexpr double kBandwidth = 0.95;

// The kernel from 0 to kZeroCrossings, Blackman-windowed.
std::vector<double> KernelTable() {
    std::vector<double> table(kZeroCrossings * kStepsPerCrossing + 2, 0.0);
    for (std::size_t i = 0; i + 1 < table.size(); ++i) {
        const double x = static_cast<double>(i) / kStepsPerCrossing;
        const double sinc = i == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
        const double u = x / kZeroCrossings;
        const double window =
            0.42 + 0.5 * std::cos(std::numbers::pi * u) + 0.08 * std::cos(2 * std::numbers::pi * u);
        table[i] = sinc * window;
    }
    return table;
}

}  // namespace

std::vector<float> Resample(const float* in, std::size_t frames, int channels, int inRate, int outRate) {
    const auto ch = static_cast<std::size_t>(channels);
    if (inRate == outRate || frames == 0) {
        return std::vector<float>(in, in + frames * ch);
    }
    const auto outFrames =
        static_cast<std::size_t>((static_cast<std::uint64_t>(frames) * static_cast<std::uint64_t>(outRate) +
                                  static_cast<std::uint64_t>(inRate) - 1) /
                                 static_cast<std::uint64_t>(inRate));
    static const std::vector<double> kTable = KernelTable();

    // In input samples: the cut-off as a fraction of the input's Nyquist, and the kernel's half width.
    const double cutoff = kBandwidth * std::min(1.0, static_cast<double>(outRate) / inRate);
    const double halfWidth = kZeroCrossings / cutoff;
    const double step = static_cast<double>(inRate) / outRate;
    std::vector<float> out(outFrames * ch, 0.0f);
    std::vector<double> sum(ch);
    for (std::size_t j = 0; j < outFrames; ++j) {
        const double t = static_cast<double>(j) * step;
        const auto first = static_cast<long long>(std::max(0.0, std::ceil(t - halfWidth)));
        const auto last =
            std::min(static_cast<long long>(frames) - 1, static_cast<long long>(std::floor(t + halfWidth)));
        std::fill(sum.begin(), sum.end(), 0.0);
        for (long long i = first; i <= last; ++i) {
            const double pos = std::abs(t - static_cast<double>(i)) * cutoff * kStepsPerCrossing;
            const auto index = static_cast<std::size_t>(pos);
            if (index + 1 >= kTable.size()) {
                continue;
            }
            const double frac = pos - static_cast<double>(index);
            const double weight = cutoff * (kTable[index] + (kTable[index + 1] - kTable[index]) * frac);
            const float* frame = in + static_cast<std::size_t>(i) * ch;
            for (std::size_t c = 0; c < ch; ++c) {
                sum[c] += weight * frame[c];
            }
        }
        for (std::size_t c = 0; c < ch; ++c) {
            out[j * ch + c] = static_cast<float>(std::clamp(sum[c], -1.0, 1.0));
        }
    }
    return out;
}

}  // namespace zorvik::platform::samples
