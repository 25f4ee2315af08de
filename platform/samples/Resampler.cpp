#include "Resampler.h"

#include <soxr.h>

#include <cmath>

namespace zorvik::platform::samples {

std::vector<float> Resample(const float* in, std::size_t frames, int channels, int inRate, int outRate) {
    if (inRate == outRate || frames == 0) {
        return std::vector<float>(in, in + frames * static_cast<std::size_t>(channels));
    }
    const auto outFrames = static_cast<std::size_t>(
        std::ceil(static_cast<double>(frames) * outRate / static_cast<double>(inRate)));
    std::vector<float> out(outFrames * static_cast<std::size_t>(channels), 0.0f);
    // Very high quality: a pass band to 91 % of the lower Nyquist rate and a stop band below -170 dB,
    // so nothing folds back over the audible range; a clip is converted once, so the cost is paid once.
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    std::size_t done = 0;
    const soxr_error_t error = soxr_oneshot(inRate, outRate, static_cast<unsigned>(channels), in, frames,
                                            nullptr, out.data(), outFrames, &done, &io, &quality, nullptr);
    if (error) {
        return {};
    }
    return out;
}

}  // namespace zorvik::platform::samples
