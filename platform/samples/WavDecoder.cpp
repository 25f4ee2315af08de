#include "WavDecoder.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "KitFiles.h"

namespace zorvik::platform::samples {
namespace {

// libsndfile reads through these callbacks, so a file is read from disk exactly once, under our size
// check, and the decoder itself never touches the file system.
struct MemoryFile {
    std::span<const std::byte> bytes;
    sf_count_t pos = 0;

    sf_count_t Size() const { return static_cast<sf_count_t>(bytes.size()); }
};

sf_count_t MemLength(void* user) {
    return static_cast<MemoryFile*>(user)->Size();
}

sf_count_t MemSeek(sf_count_t offset, int whence, void* user) {
    auto* file = static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    switch (whence) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = file->pos;
            break;
        case SEEK_END:
            base = file->Size();
            break;
        default:
            return -1;
    }
    // Offsets come from header fields, so guard the addition against overflow.
    if ((offset > 0 && base > std::numeric_limits<sf_count_t>::max() - offset) || base + offset < 0) {
        return -1;
    }
    file->pos = base + offset;
    return file->pos;
}

sf_count_t MemRead(void* dest, sf_count_t count, void* user) {
    auto* file = static_cast<MemoryFile*>(user);
    if (count <= 0 || file->pos >= file->Size()) {
        return 0;
    }
    const sf_count_t n = std::min(count, file->Size() - file->pos);
    std::memcpy(dest, file->bytes.data() + file->pos, static_cast<std::size_t>(n));
    file->pos += n;
    return n;
}

sf_count_t MemWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t MemTell(void* user) {
    return static_cast<MemoryFile*>(user)->pos;
}

bool IsWavContainer(int format) {
    const int type = format & SF_FORMAT_TYPEMASK;
    return type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX;
}

// What drum kits ship their samples in.
bool IsKitContainer(int format) {
    const int type = format & SF_FORMAT_TYPEMASK;
    return IsWavContainer(format) || type == SF_FORMAT_AIFF || type == SF_FORMAT_FLAC ||
           type == SF_FORMAT_OGG;
}

// Codings that pack samples into fewer bits than PCM: a file's size says little about its length.
bool IsCompressed(int format) {
    const int type = format & SF_FORMAT_TYPEMASK;
    return type == SF_FORMAT_FLAC || type == SF_FORMAT_OGG;
}

bool IsSupportedCoding(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_IMA_ADPCM:
        case SF_FORMAT_MS_ADPCM:
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_VORBIS:
            return true;
        default:
            return false;
    }
}

// Float files may hold NaN, infinities or overs; everything downstream may assume [-1, 1].
float Sanitize(float v) {
    return std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
}

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

WavResult Decode(std::span<const std::byte> bytes, bool kitFormats) {
    WavResult result;
    MemoryFile file{bytes};
    SF_VIRTUAL_IO io{MemLength, MemSeek, MemRead, MemWrite, MemTell};
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> snd(sf_open_virtual(&io, SFM_READ, &info, &file));
    if (!snd || !(kitFormats ? IsKitContainer(info.format) : IsWavContainer(info.format))) {
        result.error = WavError::kNotWav;
        return result;
    }
    if (!IsSupportedCoding(info.format)) {
        result.error = WavError::kUnsupportedCoding;
        return result;
    }
    if (info.channels < 1 || info.channels > kMaxWavChannels || info.samplerate < kMinWavRate ||
        info.samplerate > kMaxWavRate) {
        result.error = WavError::kBadLayout;
        return result;
    }

    const auto inChannels = static_cast<std::size_t>(info.channels);
    const std::size_t outChannels = inChannels <= 2 ? inChannels : 1;
    const auto maxFrames = static_cast<std::size_t>(info.samplerate) * kMaxWavSeconds;
    // The header's frame count is only a hint: no coding we accept packs more than two samples into a
    // byte, so a claim beyond that is a lie and must not size the allocation.
    const auto claimed = static_cast<std::size_t>(std::max<sf_count_t>(info.frames, 0));
    const std::size_t plausible = IsCompressed(info.format) ? maxFrames : bytes.size() * 2 / inChannels;
    result.wav.samples.reserve(std::min({claimed, maxFrames, plausible}) * outChannels);

    constexpr std::size_t kChunkFrames = 4096;
    std::vector<float> chunk(kChunkFrames * inChannels);
    std::size_t frames = 0;
    while (frames < maxFrames) {
        const auto want = static_cast<sf_count_t>(std::min(kChunkFrames, maxFrames - frames));
        const sf_count_t got = sf_readf_float(snd.get(), chunk.data(), want);
        if (got <= 0) {
            break;
        }
        const auto n = static_cast<std::size_t>(got);
        if (outChannels == inChannels) {
            for (std::size_t i = 0; i < n * inChannels; ++i) {
                result.wav.samples.push_back(Sanitize(chunk[i]));
            }
        } else {
            for (std::size_t f = 0; f < n; ++f) {
                float sum = 0.0f;
                for (std::size_t c = 0; c < inChannels; ++c) {
                    sum += Sanitize(chunk[f * inChannels + c]);
                }
                result.wav.samples.push_back(sum / static_cast<float>(inChannels));
            }
        }
        frames += n;
    }
    if (frames == 0) {
        result.error = WavError::kNoAudio;
        result.wav.samples = {};
        return result;
    }
    result.wav.channels = static_cast<int>(outChannels);
    result.wav.sampleRate = info.samplerate;
    return result;
}

}  // namespace

WavResult DecodeWav(std::span<const std::byte> bytes) {
    return Decode(bytes, false);
}

WavResult DecodeSample(std::span<const std::byte> bytes) {
    return Decode(bytes, true);
}

WavResult LoadWavFile(const std::string& utf8Path) {
    kit::FileBytes file = kit::ReadFileBytes(utf8Path, kMaxWavFileBytes);
    switch (file.fault) {
        case kit::FileFault::kNone:
            return DecodeWav(file.bytes);
        case kit::FileFault::kNotRegularFile:
            return {WavError::kNotRegularFile, {}};
        case kit::FileFault::kTooLarge:
            return {WavError::kTooLarge, {}};
        case kit::FileFault::kUnreadable:
            break;
    }
    return {WavError::kUnreadable, {}};
}

}  // namespace zorvik::platform::samples
