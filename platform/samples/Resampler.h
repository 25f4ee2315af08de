#pragma once
// Sample-rate conversion for whole clips, done once when a sound is loaded, with libsoxr at its very
// high quality: band-limited to the lower of the two rates so a 96 kHz file does not alias at 48 kHz.

#include <cstddef>
#include <vector>

namespace zorvik::platform::samples {

// Converts `frames` interleaved frames of `channels` channels from `inRate` to `outRate`; the result
// holds ceil(frames * outRate / inRate) frames (the filter's delay is taken out). Equal rates copy the
// input unchanged; empty when the conversion fails.
std::vector<float> Resample(const float* in, std::size_t frames, int channels, int inRate, int outRate);

}  // namespace zorvik::platform::samples
