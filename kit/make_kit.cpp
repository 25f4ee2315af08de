// Synthesises the default drum kit at build time, so the program ships with sounds that are entirely
// our own and the repository carries no binary audio.
//
// usage: zorvik_make_kit <output folder>
// Writes eight 48 kHz 16-bit mono WAV files named after the pads they belong to.

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "Kit.h"

namespace {

constexpr int kRate = 48000;
constexpr double kTwoPi = 2 * std::numbers::pi;
// Peaks sit 1.5 dB under full scale: the player mixes overlapping hits, and -1 dBFS is the ceiling.
const double kPeak = std::pow(10.0, -1.5 / 20);
// Every sound ends on a short ramp to exact zero, so cutting it off never clicks.
constexpr double kFadeSeconds = 0.005;

using Signal = std::vector<double>;

// xorshift64*: tiny, and unlike the standard distributions its output is the same with every library,
// which keeps the build reproducible.
class Noise {
  public:
    double Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return static_cast<double>((state_ * 0x2545F4914F6CDD1DULL) >> 11) * 0x1.0p-52 - 1.0;
    }

  private:
    std::uint64_t state_ = 0x5EEDF00DCAFEULL;
};

// Second-order sections after the well-known audio EQ cookbook formulas.
class Biquad {
  public:
    static Biquad HighPass(double hz, double q) {
        const auto [w, alpha] = Angles(hz, q);
        const double c = std::cos(w);
        return Biquad((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
    }
    static Biquad BandPass(double hz, double q) {
        const auto [w, alpha] = Angles(hz, q);
        return Biquad(alpha, 0, -alpha, 1 + alpha, -2 * std::cos(w), 1 - alpha);
    }
    static Biquad LowPass(double hz, double q) {
        const auto [w, alpha] = Angles(hz, q);
        const double c = std::cos(w);
        return Biquad((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
    }

    double operator()(double x) {
        const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

  private:
    Biquad(double b0, double b1, double b2, double a0, double a1, double a2)
        : b0_(b0 / a0), b1_(b1 / a0), b2_(b2 / a0), a1_(a1 / a0), a2_(a2 / a0) {}
    static std::pair<double, double> Angles(double hz, double q) {
        const double w = kTwoPi * hz / kRate;
        return {w, std::sin(w) / (2 * q)};
    }

    double b0_, b1_, b2_, a1_, a2_;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// A cosine whose pitch falls from `from` towards `to`, as a struck drum head's does while its tension
// relaxes. Cosine rather than sine so the hit is at full strength on the very first sample.
class Glide {
  public:
    Glide(double from, double to, double seconds) : from_(from), to_(to), seconds_(seconds) {}
    double operator()(double t) {
        const double value = std::cos(phase_);
        phase_ += kTwoPi * (to_ + (from_ - to_) * std::exp(-t / seconds_)) / kRate;
        return value;
    }

  private:
    double from_, to_, seconds_;
    double phase_ = 0;
};

// Square waves at unrelated pitches beat against each other into the clangorous, not-quite-noise
// sound of cymbals; all start high so the attack lands on sample 0.
class Metal {
  public:
    explicit Metal(std::vector<double> hz) : hz_(std::move(hz)), phases_(hz_.size(), 0.0) {}
    double operator()() {
        double sum = 0;
        for (std::size_t i = 0; i < hz_.size(); ++i) {
            sum += phases_[i] < 0.5 ? 1 : -1;
            phases_[i] = std::fmod(phases_[i] + hz_[i] / kRate, 1.0);
        }
        return sum / static_cast<double>(hz_.size());
    }

  private:
    std::vector<double> hz_;
    std::vector<double> phases_;
};

double Decay(double t, double seconds) {
    return std::exp(-t / seconds);
}

// Calls `sample(t)` once per frame for `seconds`.
Signal Render(double seconds, const std::function<double(double)>& sample) {
    Signal out(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = sample(static_cast<double>(i) / kRate);
    }
    return out;
}

Signal Kick() {
    Glide body(150, 50, 0.045);
    Noise noise;
    auto click = Biquad::LowPass(5000, 0.7);
    return Render(0.5, [&](double t) {
        return body(t) * Decay(t, 0.12) + 0.5 * click(noise.Next()) * Decay(t, 0.004) + 0.3 * Decay(t, 0.002);
    });
}

Signal Snare() {
    Glide head(230, 190, 0.02);
    Glide overtone(360, 330, 0.02);
    Noise noise;
    auto wiresLow = Biquad::HighPass(1500, 0.7);
    auto wiresHigh = Biquad::LowPass(9000, 0.7);
    return Render(0.4, [&](double t) {
        const double tone = (head(t) + 0.4 * overtone(t)) * Decay(t, 0.055);
        return 0.7 * tone + 1.4 * wiresHigh(wiresLow(noise.Next())) * Decay(t, 0.09);
    });
}

// Both hats are the same cymbal pair; the pedal only decides how long it rings.
Signal HiHat(double ring, double seconds) {
    Metal metal({263, 400, 421, 474, 587, 845});
    Noise noise;
    auto sizzle = Biquad::HighPass(7000, 0.8);
    auto shine = Biquad::BandPass(10000, 1.2);
    return Render(seconds, [&](double t) {
        const double raw = sizzle(0.6 * metal() + 0.4 * noise.Next());
        return (raw + 0.5 * shine(raw)) * Decay(t, ring);
    });
}

Signal Tom(double pitch) {
    Glide head(pitch * 1.5, pitch, 0.06);
    Glide overtone(pitch * 2.4, pitch * 1.6, 0.06);
    Noise noise;
    auto stick = Biquad::BandPass(3000, 0.8);
    return Render(0.55, [&](double t) {
        return (head(t) + 0.25 * overtone(t)) * Decay(t, 0.13) + 0.6 * stick(noise.Next()) * Decay(t, 0.01);
    });
}

Signal Crash() {
    Metal metal({311, 467, 523, 612, 781, 1027, 1260, 1583});
    Noise noise;
    auto body = Biquad::HighPass(3000, 0.7);
    auto shimmer = Biquad::BandPass(6000, 0.9);
    return Render(2.4, [&](double t) {
        const double raw = body(0.5 * metal() + 0.5 * noise.Next());
        // A bright wash on the hit that settles into a longer, darker ring.
        return (raw + 0.8 * shimmer(raw)) * (0.55 * Decay(t, 0.12) + 0.45 * Decay(t, 0.7));
    });
}

void Finish(Signal& s) {
    double peak = 0;
    for (const double x : s) {
        peak = std::max(peak, std::abs(x));
    }
    const auto fade = static_cast<std::size_t>(kFadeSeconds * kRate);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const std::size_t left = s.size() - 1 - i;
        s[i] *= kPeak / peak * (left < fade ? static_cast<double>(left) / fade : 1.0);
    }
}

bool Write(const std::filesystem::path& path, const Signal& s) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "zorvik_make_kit: %s: %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    // Rounded here rather than by libsndfile so the output does not depend on its conversion rules.
    std::vector<short> pcm(s.size());
    std::transform(s.begin(), s.end(), pcm.begin(),
                   [](double x) { return static_cast<short>(std::lround(x * 32767)); });
    const bool ok = sf_write_short(file, pcm.data(), static_cast<sf_count_t>(pcm.size())) ==
                    static_cast<sf_count_t>(pcm.size());
    return sf_close(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zorvik_make_kit <output folder>\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "zorvik_make_kit: %s: %s\n", folder.c_str(), error.message().c_str());
        return 1;
    }

    // One voice for each of the kit's drums, in its order.
    const std::array<std::function<Signal()>, zorvik::kit::kDrumNames.size()> voices{
        Kick,                             // Kick
        Snare,                            // Snare
        [] { return HiHat(0.03, 0.2); },  // Hi Hat
        [] { return HiHat(0.3, 1.4); },   // Open Hi Hat
        [] { return Tom(200); },          // High Tom
        [] { return Tom(140); },          // Mid Tom
        [] { return Tom(95); },           // Low Tom
        Crash,                            // Crash
    };
    for (std::size_t i = 0; i < voices.size(); ++i) {
        Signal sound = voices[i]();
        Finish(sound);
        if (!Write(folder / (std::string(zorvik::kit::kDrumNames[i]) + ".wav"), sound)) {
            return 1;
        }
    }
    return 0;
}
