#pragma once
// Turns the bytes of a WAV file into float frames, refusing everything a drum pad should not try to play.
// DecodeWav sees untrusted bytes (any file a user drops into a kit), so it must never crash, hang or
// allocate more than the limits below allow, whatever the header claims.

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace zorvik::platform::samples {

// A drum hit is seconds long; these bounds only keep a hostile or broken file from eating memory.
inline constexpr std::size_t kMaxWavFileBytes = std::size_t{64} << 20;
inline constexpr int kMaxWavSeconds = 60;
inline constexpr int kMinWavRate = 1000;
inline constexpr int kMaxWavRate = 192000;
inline constexpr int kMaxWavChannels = 8;

enum class WavError {
    kNone,
    kUnreadable,         // could not open or read the file
    kNotRegularFile,     // a folder, FIFO, device...
    kTooLarge,           // file bigger than kMaxWavFileBytes
    kNotWav,             // libsndfile cannot open it, or it is another container
    kUnsupportedCoding,  // a WAV, but neither PCM, float nor IMA/MS ADPCM
    kBadLayout,          // channel count or sample rate out of range
    kNoAudio,            // decodes to zero frames
};

// Interleaved frames with 1 or 2 channels; files with more channels are folded to mono.
struct DecodedWav {
    int channels = 0;
    int sampleRate = 0;
    std::vector<float> samples;

    std::size_t Frames() const {
        return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0;
    }
};

struct WavResult {
    WavError error = WavError::kNone;
    DecodedWav wav;  // meaningful only when error == kNone

    bool Ok() const { return error == WavError::kNone; }
};

WavResult DecodeWav(std::span<const std::byte> bytes);
// The same for a kit's sample, which may also be AIFF, FLAC or Ogg Vorbis; kNotWav names any other.
WavResult DecodeSample(std::span<const std::byte> bytes);

// Reads `utf8Path` (refusing non-regular and oversize files before reading anything) and decodes it.
WavResult LoadWavFile(const std::string& utf8Path);

}  // namespace zorvik::platform::samples
