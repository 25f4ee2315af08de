#include "TestMedia.h"

#include <gst/gst.h>
#include <sndfile.h>
#include <spa/control/control.h>
#include <spa/pod/builder.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <stdexcept>

namespace zorvik::testmedia {

namespace fs = std::filesystem;

namespace {

// Runs a pipeline that ends in a filesink named "out", writing `path`, to its end.
bool WriteThrough(const std::string& description, const fs::path& path) {
    gst_init(nullptr, nullptr);
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (!pipeline) {
        return false;
    }
    GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    g_object_set(out, "location", path.c_str(), nullptr);
    gst_object_unref(out);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* done = gst_bus_timed_pop_filtered(
        bus, 120 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = done && GST_MESSAGE_TYPE(done) == GST_MESSAGE_EOS;
    if (done) {
        gst_message_unref(done);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

}  // namespace

bool EncodeTone(const fs::path& path, const std::string& encoder, const Tone& tone) {
    const int perBuffer = tone.samplesPerBuffer > 0 ? tone.samplesPerBuffer : tone.rate / 10;
    const auto buffers = static_cast<long>(std::lround(tone.seconds * tone.rate / perBuffer));
    return WriteThrough(
        "audiotestsrc wave=sine freq=" + std::to_string(tone.frequency) +
            " volume=" + std::to_string(tone.volume) + " samplesperbuffer=" + std::to_string(perBuffer) +
            " num-buffers=" + std::to_string(buffers) + " ! audio/x-raw,rate=" + std::to_string(tone.rate) +
            ",channels=" + std::to_string(tone.channels) + " ! " + encoder + " ! filesink name=out",
        path);
}

bool Transcode(const fs::path& from, const fs::path& to, const std::string& encoder) {
    gchar* location = g_strescape(from.c_str(), nullptr);
    const std::string description = std::string("filesrc location=\"") + location +
                                    "\" ! decodebin ! audioconvert ! " + encoder + " ! filesink name=out";
    g_free(location);
    return WriteThrough(description, to);
}

std::vector<float> Sine(std::size_t frames, int channels, int rate, double frequency, double amplitude,
                        double spread) {
    std::vector<float> samples(frames * static_cast<std::size_t>(channels));
    for (std::size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            samples[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * (frequency + spread * c) *
                                                        static_cast<double>(f) / rate));
        }
    }
    return samples;
}

bool WriteSound(const fs::path& path, int format, int channels, int rate,
                const std::vector<float>& interleaved) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        return false;
    }
    const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(channels));
    const bool ok = sf_writef_float(file, interleaved.data(), frames) == frames;
    return sf_close(file) == 0 && ok;
}

bool WriteSound(const fs::path& path, int format, int channels, int rate, std::size_t frames,
                const SampleAt& sample) {
    std::vector<float> interleaved(frames * static_cast<std::size_t>(channels));
    for (std::size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            interleaved[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<float>(sample(c, f));
        }
    }
    return WriteSound(path, format, channels, rate, interleaved);
}

std::string SoundBytes(int format, int channels, int rate, std::size_t frames, const SampleAt& sample) {
    TempDir dir;
    const fs::path path = dir / "sound";
    return WriteSound(path, format, channels, rate, frames, sample) ? ReadBytes(path) : std::string();
}

double ToneEnergy(const std::vector<float>& samples, std::size_t from, std::size_t count, double frequency,
                  int rate) {
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / rate);
    double previous = 0.0, beforePrevious = 0.0;
    for (std::size_t i = from; i < from + count; ++i) {
        const double current = samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
}

double StrongestTone(const std::vector<float>& samples, std::size_t from, std::size_t count, double low,
                     double high, double step, int rate) {
    double best = low, bestEnergy = -1.0;
    for (double f = low; f <= high; f += step) {
        if (const double e = ToneEnergy(samples, from, count, f, rate); e > bestEnergy) {
            best = f;
            bestEnergy = e;
        }
    }
    return best;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zorvik-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::vector<float> Bursts(int rate, int channels, double seconds) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> samples(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::size_t sinceHit = i % static_cast<std::size_t>(rate / 4);
        const float hit = sinceHit < static_cast<std::size_t>(rate / 50)
                              ? 0.4f * noise(random) * std::exp(-static_cast<float>(sinceHit) * 200.0f / rate)
                              : 0.0f;
        const float tone = 0.3f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * i / rate));
        for (int c = 0; c < channels; ++c) {
            samples[i * channels + c] = tone + (c == 0 ? hit : -hit);
        }
    }
    return samples;
}

std::vector<double> LoopedBursts(double start, double end, int repeats, double speed) {
    constexpr double kEvery = 0.25;
    std::vector<double> heard;
    for (double burst = 0.0; burst < end; burst += kEvery) {
        heard.push_back(burst / speed);
    }
    for (int r = 0; r < repeats; ++r) {
        for (double burst = std::ceil(start / kEvery) * kEvery; burst < end; burst += kEvery) {
            heard.push_back((end + r * (end - start) + burst - start) / speed);
        }
    }
    return heard;
}

// The frame just before is left out of the comparison, since a sound starting at its end puts a little
// in it, unless it was an onset itself.
std::vector<std::size_t> Onsets(const std::vector<float>& samples, int rate, int channels) {
    const std::size_t frame = rate / 1000, frames = samples.size() / channels / frame;
    std::vector<float> level(frames, 0.0f);
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t i = std::max<std::size_t>(f * frame, 1); i < (f + 1) * frame; ++i) {
            const float d = samples[i * channels] - samples[(i - 1) * channels];
            level[f] += d * d;
        }
    }
    std::vector<std::size_t> found;
    for (std::size_t f = 0; f < frames; ++f) {
        if (!found.empty() && found.back() == (f - 1) * frame) {
            continue;
        }
        float before = 0.0f;
        for (std::size_t b = f >= 20 ? f - 20 : 0; b + 1 < f; ++b) {
            before = std::max(before, level[b]);
        }
        if (level[f] > 16.0f * before && level[f] > 0.01f * frame) {
            found.push_back(f * frame);
        }
    }
    return found;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out);
}

const char* Name(Damage damage) {
    switch (damage) {
        case Damage::CutAt1Percent:
            return "cut at 1 %";
        case Damage::CutAtHalf:
            return "cut at 50 %";
        case Damage::CutAt99Percent:
            return "cut at 99 %";
        case Damage::HeaderOnly:
            return "header only";
        case Damage::ZeroedMiddle:
            return "zeroed middle";
    }
    return "?";
}

std::string Damaged(const std::string& whole, Damage damage) {
    const auto part = [&](double fraction) {
        return whole.substr(0, static_cast<std::size_t>(static_cast<double>(whole.size()) * fraction));
    };
    switch (damage) {
        case Damage::CutAt1Percent:
            return part(0.01);
        case Damage::CutAtHalf:
            return part(0.5);
        case Damage::CutAt99Percent:
            return part(0.99);
        // Every format here says what it is and how it is coded within its first few hundred bytes.
        case Damage::HeaderOnly:
            return whole.substr(0, std::min<std::size_t>(whole.size(), 512));
        case Damage::ZeroedMiddle: {
            std::string bytes = whole;
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 3),
                      bytes.begin() + static_cast<std::ptrdiff_t>(2 * bytes.size() / 3), '\0');
            return bytes;
        }
    }
    return whole;
}

fs::path MakeTempFolder(const std::string& purpose) {
    std::string pattern = "/tmp/zorvik-" + purpose + "-XXXXXX";
    const char* made = mkdtemp(pattern.data());
    if (made == nullptr) {
        throw std::runtime_error("cannot make a folder for " + purpose);
    }
    return made;
}

std::vector<std::uint8_t> MidiSequence(
    const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>& messages) {
    std::vector<std::uint8_t> bytes(4096);
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    spa_pod_frame frame{};
    spa_pod_builder_push_sequence(&builder, &frame, 0);
    for (const auto& [offset, message] : messages) {
        spa_pod_builder_control(&builder, offset, SPA_CONTROL_Midi);
        spa_pod_builder_bytes(&builder, message.data(), static_cast<std::uint32_t>(message.size()));
    }
    spa_pod_builder_pop(&builder, &frame);
    bytes.resize(builder.state.offset);
    return bytes;
}

std::optional<std::size_t> RiffChunk(const std::string& bytes, const char* id) {
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        std::uint32_t length = 0;
        for (int i = 3; i >= 0; --i) {
            length = (length << 8) | static_cast<unsigned char>(bytes[at + 4 + static_cast<std::size_t>(i)]);
        }
        if (bytes.compare(at, 4, id) == 0) {
            return at;
        }
        at += 8 + std::size_t{length} + (length & 1);
    }
    return std::nullopt;
}

void PutLittleEndian(std::string& bytes, std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes.at(at + static_cast<std::size_t>(i)) = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::string PatchWavFormat(std::string bytes, std::size_t field, std::uint32_t value, int width) {
    if (const auto fmt = RiffChunk(bytes, "fmt ")) {
        PutLittleEndian(bytes, *fmt + 8 + field, value, width);
    }
    return bytes;
}

}  // namespace zorvik::testmedia
