// libFuzzer target: arbitrary bytes through the drum pads' WAV decoder. Every input must come back either
// refused or as audio that keeps the decoder's promises; anything else (a crash, a sanitizer report, a
// broken promise) stops the fuzzer with the input that caused it.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "WavDecoder.h"

using namespace zorvik::platform::samples;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const WavResult result = DecodeWav(std::as_bytes(std::span(data, size)));
    if (!result.Ok()) {
        if (!result.wav.samples.empty()) {
            __builtin_trap();
        }
        return 0;
    }
    const DecodedWav& wav = result.wav;
    if (wav.channels != 1 && wav.channels != 2) {
        __builtin_trap();
    }
    if (wav.sampleRate < kMinWavRate || wav.sampleRate > kMaxWavRate) {
        __builtin_trap();
    }
    if (wav.samples.empty() || wav.samples.size() % static_cast<std::size_t>(wav.channels) != 0) {
        __builtin_trap();
    }
    if (wav.Frames() > static_cast<std::size_t>(wav.sampleRate) * kMaxWavSeconds) {
        __builtin_trap();
    }
    for (const float v : wav.samples) {
        if (!std::isfinite(v) || v < -1.0f || v > 1.0f) {
            __builtin_trap();
        }
    }
    return 0;
}
