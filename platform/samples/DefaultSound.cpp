#include "DefaultSound.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zorvik::platform::samples {

StereoClip MakeDefaultSound() {
    // A bell-like pair of partials under an exponential decay. The 1 ms attack and the 10 ms release
    // ramps keep both ends free of clicks.
    constexpr double kFundamental = 1318.5;  // E6
    constexpr double kAttack = kMixRate * 0.001;
    constexpr double kRelease = kMixRate * 0.010;
    constexpr double kLevel = 0.3;

    StereoClip clip;
    clip.samples.resize(kDefaultSoundFrames * kMixChannels);
    for (std::size_t f = 0; f < kDefaultSoundFrames; ++f) {
        const double t = static_cast<double>(f) / kMixRate;
        const double tone = std::sin(2 * std::numbers::pi * kFundamental * t) +
                            0.4 * std::sin(2 * std::numbers::pi * kFundamental * 2.76 * t);
        const double envelope = std::exp(-t * 25.0) * std::min(1.0, f / kAttack) *
                                std::min(1.0, static_cast<double>(kDefaultSoundFrames - f) / kRelease);
        const auto v = static_cast<float>(kLevel / 1.4 * tone * envelope);
        clip.samples[f * kMixChannels] = v;
        clip.samples[f * kMixChannels + 1] = v;
    }
    return clip;
}

}  // namespace zorvik::platform::samples
