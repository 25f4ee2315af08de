// How well a slowed-down song keeps its drums: a synthetic drum loop (kick, snare and hats at 120 BPM over
// a quiet 440 Hz tone) and a click track, written as WAV files and stretched to 0.5 and 0.75 through our
// element and through scaletempo, side by side. For each: the share of attacks heard twice (a second peak
// no more than 12 dB under the first within 60 ms), the median onset timing error against where the
// attack belongs, rise time and peak-to-RMS against the original, the tone's pitch, and the CPU it took
// per second of music heard.
//
//   build/bench/bench_stretch            prints a Markdown table (docs/STRETCH.md holds one)

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "StretchElement.h"
#include "TestMedia.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 8.0;
constexpr double kStep = 0.25;  // eighth notes at 120 BPM
constexpr double kTone = 440.0;

struct Track {
    std::vector<float> samples;   // mono
    std::vector<double> attacks;  // seconds
};

Track DrumLoop() {
    Track track;
    track.samples.assign(static_cast<std::size_t>(kSeconds * kRate), 0.0f);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (std::size_t i = 0; i < track.samples.size(); ++i) {
        track.samples[i] = 0.03f * static_cast<float>(std::sin(2.0 * M_PI * kTone * i / kRate));
    }
    for (int step = 0; step * kStep < kSeconds - 0.3; ++step) {
        const double at = step * kStep + 0.05;
        track.attacks.push_back(at);
        const auto start = static_cast<std::size_t>(at * kRate);
        const bool kick = step % 4 == 0, snare = step % 4 == 2;
        float previous = 0.0f;
        double phase = 0.0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(0.3 * kRate); ++i) {
            const double t = double(i) / kRate;
            float value = 0.0f;
            // Hats on every step: high noise, 20 ms.
            const float white = noise(random);
            value += 0.25f * (white - previous) * static_cast<float>(std::exp(-t / 0.02));
            previous = white;
            if (kick) {
                phase += 2.0 * M_PI * (50.0 + 100.0 * std::exp(-t / 0.03)) / kRate;
                value += 0.8f * static_cast<float>(std::sin(phase) * std::exp(-t / 0.15));
            }
            if (snare) {
                value += static_cast<float>((0.45 * noise(random) + 0.3 * std::sin(2.0 * M_PI * 200.0 * t)) *
                                            std::exp(-t / 0.08));
            }
            track.samples[start + i] += value;
        }
    }
    return track;
}

Track ClickTrack() {
    Track track;
    track.samples.assign(static_cast<std::size_t>(kSeconds * kRate), 0.0f);
    for (double at = 0.05; at < kSeconds - 0.3; at += 2 * kStep) {
        track.attacks.push_back(at);
        const auto start = static_cast<std::size_t>(at * kRate);
        const int length = kRate / 1000;  // 1 ms of 2 kHz under a Hann window
        for (int i = 0; i < length; ++i) {
            track.samples[start + i] =
                0.8f * static_cast<float>(std::sin(2.0 * M_PI * 2000.0 * i / kRate) *
                                          (0.5 - 0.5 * std::cos(2.0 * M_PI * i / length)));
        }
    }
    return track;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Output {
    std::vector<float> samples;  // first channel
    double cpu = 0.0;
};

// Plays the file through `stretcher` as fast as it goes. scaletempo takes its speed from a rate seek, ours
// from its property.
enum class Stretcher { Ours, OursPlain, ScaleTempo };

Output Play(const fs::path& file, Stretcher which, double speed) {
    const bool ours = which != Stretcher::ScaleTempo;
    const std::string stretcher = ours ? std::string(zorvik::platform::gst::kStretchElementName) +
                                             " speed=" + std::to_string(speed) +
                                             (which == Stretcher::OursPlain ? " keep-attacks=false" : "")
                                       : std::string("scaletempo");
    const std::string description = "filesrc name=file ! wavparse ! audioconvert ! " + stretcher +
                                    " ! audioconvert ! appsink name=out sync=false "
                                    "caps=audio/x-raw,format=F32LE,channels=1,layout=interleaved";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "file");
    g_object_set(source, "location", file.c_str(), nullptr);
    gst_object_unref(source);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    Output output;
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* appSink, gpointer data) {
        GstSample* sample = gst_app_sink_pull_sample(appSink);
        GstMapInfo map;
        gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ);
        const auto* floats = reinterpret_cast<const float*>(map.data);
        auto& into = static_cast<Output*>(data)->samples;
        into.insert(into.end(), floats, floats + map.size / sizeof(float));
        gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, &output, nullptr);
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    gst_element_get_state(pipeline, nullptr, nullptr, GST_CLOCK_TIME_NONE);
    // Before the clock starts, so the preroll buffer is stretched too.
    const double before = CpuSeconds();
    if (!ours) {
        gst_element_seek(pipeline, speed, GST_FORMAT_TIME,
                         static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                         GST_SEEK_TYPE_SET, 0, GST_SEEK_TYPE_NONE, -1);
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_message_unref(gst_bus_timed_pop_filtered(
        bus, GST_CLOCK_TIME_NONE, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    output.cpu = CpuSeconds() - before;
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return output;
}

// |x| held over the last `holdMs`: the same small lag for every signal, so it cancels out. One
// millisecond places onsets; 5 ms keeps the half cycles of a 50 Hz kick within 3 dB of each other, so
// that only a real second attack shows as a second peak after a 6 dB dip.
std::vector<float> Envelope(const std::vector<float>& samples, int holdMs = 1) {
    const std::size_t hold = static_cast<std::size_t>(kRate * holdMs / 1000);
    std::vector<float> result(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        float peak = 0.0f;
        for (std::size_t j = i >= hold ? i - hold : 0; j <= i; ++j) {
            peak = std::max(peak, std::fabs(samples[j]));
        }
        result[i] = peak;
    }
    return result;
}

struct Attack {
    bool found = false;
    double onset = 0.0;  // seconds, where the envelope first reaches half its peak
    double rise = 0.0;   // seconds from 10 % to 90 % of the peak
    bool twice = false;
};

Attack FindAttack(const std::vector<float>& env, const std::vector<float>& smooth, double expected) {
    Attack attack;
    const auto from = static_cast<std::ptrdiff_t>((expected - 0.03) * kRate);
    const auto to = static_cast<std::ptrdiff_t>((expected + 0.06) * kRate);
    if (from < 0 || to >= static_cast<std::ptrdiff_t>(env.size())) {
        return attack;
    }
    const auto peakAt = std::max_element(env.begin() + from, env.begin() + to) - env.begin();
    const float peak = env[peakAt];
    if (peak <= 0.0f) {
        return attack;
    }
    auto firstAbove = [&](float level) {
        std::ptrdiff_t i = from;
        while (i < peakAt && env[i] < level) {
            ++i;
        }
        return i;
    };
    attack.found = true;
    const std::ptrdiff_t onset = firstAbove(0.5f * peak);
    attack.onset = double(onset) / kRate;
    // The rise to the attack's own first peak, within 15 ms of its onset.
    const auto riseEnd =
        std::min<std::ptrdiff_t>(onset + kRate * 15 / 1000, static_cast<std::ptrdiff_t>(env.size()));
    const float firstPeak = *std::max_element(env.begin() + onset, env.begin() + riseEnd);
    std::ptrdiff_t low = onset, high = onset;
    while (low > from && env[low - 1] >= 0.1f * firstPeak) {
        --low;
    }
    while (high < riseEnd && env[high] < 0.9f * firstPeak) {
        ++high;
    }
    attack.rise = double(high - low) / kRate;
    // A second attack: a peak within 60 ms, no more than 12 dB down, after a dip of at least 6 dB below it.
    const auto smoothPeakAt = std::max_element(smooth.begin() + from, smooth.begin() + to) - smooth.begin();
    const float smoothPeak = smooth[smoothPeakAt];
    const float floor = smoothPeak * std::pow(10.0f, -12.0f / 20.0f);
    const auto end = std::min<std::ptrdiff_t>(smoothPeakAt + kRate * 60 / 1000,
                                              static_cast<std::ptrdiff_t>(smooth.size()));
    float dip = smoothPeak;
    for (std::ptrdiff_t i = smoothPeakAt + 1; i < end; ++i) {
        dip = std::min(dip, smooth[i]);
        if (smooth[i] >= floor && dip <= 0.5f * smooth[i]) {
            attack.twice = true;
            break;
        }
    }
    return attack;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double CrestDb(const std::vector<float>& samples) {
    double peak = 0.0, sum = 0.0;
    for (float s : samples) {
        peak = std::max(peak, double(std::fabs(s)));
        sum += double(s) * s;
    }
    return 20.0 * std::log10(peak / std::sqrt(sum / samples.size()));
}

double TonePitch(const std::vector<float>& samples) {
    const std::size_t count = std::min<std::size_t>(samples.size() / 2, 4 * kRate);
    const std::size_t from = samples.size() / 2 - count / 2;
    return zorvik::testmedia::StrongestTone(samples, from, count, 420.0, 460.0, 0.05, kRate);
}

struct Measured {
    double twiceShare = 0.0;
    int clicksTwice = 0, clicks = 0;
    double onsetErrorMs = 0.0, onsetBiasMs = 0.0, onsetJitterMs = 0.0, riseDeltaMs = 0.0, crestDeltaDb = 0.0,
           pitch = 0.0, cpuPercent = 0.0;
};

Measured Measure(const fs::path& loopFile, const fs::path& clickFile, const Track& loop, const Track& click,
                 Stretcher which, double speed) {
    Measured result;
    const std::vector<float> loopEnv = Envelope(loop.samples), loopSmooth = Envelope(loop.samples, 5);
    const Output loopOut = Play(loopFile, which, speed);
    const std::vector<float> outEnv = Envelope(loopOut.samples), outSmooth = Envelope(loopOut.samples, 5);
    std::vector<double> errors, signedErrors, rises, originalRises;
    int twice = 0, counted = 0;
    for (double at : loop.attacks) {
        const Attack original = FindAttack(loopEnv, loopSmooth, at);
        const Attack heard = FindAttack(outEnv, outSmooth, original.onset / speed);
        if (!original.found || !heard.found) {
            continue;
        }
        ++counted;
        twice += heard.twice ? 1 : 0;
        errors.push_back(std::fabs(heard.onset - original.onset / speed) * 1000.0);
        signedErrors.push_back((heard.onset - original.onset / speed) * 1000.0);
        rises.push_back(heard.rise * 1000.0);
        originalRises.push_back(original.rise * 1000.0);
    }
    result.twiceShare = counted ? 100.0 * twice / counted : 0.0;
    result.onsetErrorMs = Median(errors);
    result.onsetBiasMs = Median(signedErrors);
    std::vector<double> spread;
    for (double e : signedErrors) {
        spread.push_back(std::fabs(e - result.onsetBiasMs));
    }
    result.onsetJitterMs = Median(spread);
    result.riseDeltaMs = Median(rises) - Median(originalRises);
    result.crestDeltaDb = CrestDb(loopOut.samples) - CrestDb(loop.samples);
    result.pitch = TonePitch(loopOut.samples);
    result.cpuPercent = 100.0 * loopOut.cpu / (double(loopOut.samples.size()) / kRate);

    const std::vector<float> clickEnv = Envelope(click.samples), clickSmooth = Envelope(click.samples, 5);
    const Output clickPlayed = Play(clickFile, which, speed);
    const std::vector<float> clickOut = Envelope(clickPlayed.samples),
                             clickOutSmooth = Envelope(clickPlayed.samples, 5);
    for (double at : click.attacks) {
        const Attack original = FindAttack(clickEnv, clickSmooth, at);
        const Attack heard = FindAttack(clickOut, clickOutSmooth, original.onset / speed);
        if (!original.found || !heard.found) {
            continue;
        }
        ++result.clicks;
        result.clicksTwice += heard.twice ? 1 : 0;
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    zorvik::platform::gst::RegisterStretchElement();
    char pattern[] = "/tmp/zorvik-bench-stretch-XXXXXX";
    const fs::path folder = mkdtemp(pattern);
    const Track loop = DrumLoop(), click = ClickTrack();
    zorvik::testmedia::WriteSound(folder / "loop.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, kRate,
                                  loop.samples);
    zorvik::testmedia::WriteSound(folder / "click.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, kRate,
                                  click.samples);

    std::printf(
        "| stretcher | speed | attacks heard twice | clicks heard twice | onset error (median) | of which a "
        "constant shift (late +) | "
        "onset error about that shift (median) | "
        "rise time vs original | peak-to-RMS vs original | tone pitch | CPU per second heard |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Stretcher which : {Stretcher::Ours, Stretcher::OursPlain, Stretcher::ScaleTempo}) {
        for (const double speed : {0.5, 0.75, 1.0, 1.5}) {
            const Measured m = Measure(folder / "loop.wav", folder / "click.wav", loop, click, which, speed);
            std::printf(
                "| %s | %.2f | %.0f %% | %d of %d | %.1f ms | %+.1f ms | %.1f ms | %+.1f ms | %+.1f dB | "
                "%.1f Hz (%+.2f "
                "%%) | "
                "%.1f %% |\n",
                which == Stretcher::Ours        ? "ours (Rubber Band R3, attack splice)"
                : which == Stretcher::OursPlain ? "ours (Rubber Band R3 alone)"
                                                : "scaletempo",
                speed, m.twiceShare, m.clicksTwice, m.clicks, m.onsetErrorMs, m.onsetBiasMs, m.onsetJitterMs,
                m.riseDeltaMs, m.crestDeltaDb, m.pitch, 100.0 * (m.pitch / kTone - 1.0), m.cpuPercent);
            std::fflush(stdout);
        }
    }
    fs::remove_all(folder);
    return 0;
}
