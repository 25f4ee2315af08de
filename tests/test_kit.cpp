#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "KitFiles.h"
#include "NoteMap.h"

namespace {

struct Sound {
    int rate = 0;
    int format = 0;
    std::vector<double> samples;  // mixed down to mono
};

// A failed load comes back with no samples; the caller says which file.
Sound Load(const std::string& name) {
    const std::string path = std::string(ZORVIK_SOUNDS_DIR) + "/" + name + ".wav";
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        return {};
    }
    std::vector<double> frames(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_double(file, frames.data(), info.frames);
    sf_close(file);
    Sound sound{info.samplerate, info.format, {}};
    for (sf_count_t i = 0; i < read; ++i) {
        double sum = 0;
        for (int c = 0; c < info.channels; ++c) {
            sum += frames[static_cast<std::size_t>(i * info.channels + c)];
        }
        sound.samples.push_back(sum / info.channels);
    }
    return sound;
}

double Seconds(const Sound& s) {
    return static_cast<double>(s.samples.size()) / s.rate;
}

double TailRms(const Sound& s) {
    const std::size_t n = std::min(s.samples.size(), static_cast<std::size_t>(0.05 * s.rate));
    double sum = 0;
    for (std::size_t i = s.samples.size() - n; i < s.samples.size(); ++i) {
        sum += s.samples[i] * s.samples[i];
    }
    return std::sqrt(sum / static_cast<double>(n));
}

// Magnitude-weighted mean frequency of the Hann-windowed attack: what the ear hears as brightness.
double SpectralCentroid(const Sound& s) {
    const std::size_t n = std::min<std::size_t>(2048, s.samples.size());
    double weighted = 0, total = 0;
    for (std::size_t k = 1; k < n / 2; ++k) {
        double re = 0, im = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / n);
            const double a = 2 * std::numbers::pi * k * i / n;
            re += w * s.samples[i] * std::cos(a);
            im -= w * s.samples[i] * std::sin(a);
        }
        const double magnitude = std::hypot(re, im);
        weighted += magnitude * k * s.rate / n;
        total += magnitude;
    }
    return total > 0 ? weighted / total : 0;
}

// Pitch from zero crossings once the stick noise has died away and the head rings on its own.
double RingingPitch(const Sound& s) {
    const auto from = static_cast<std::size_t>(0.08 * s.rate);
    const auto to = std::min(s.samples.size(), static_cast<std::size_t>(0.3 * s.rate));
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        crossings += (s.samples[i - 1] < 0) != (s.samples[i] < 0);
    }
    return to > from ? crossings / 2.0 / (static_cast<double>(to - from) / s.rate) : 0;
}

struct KitEntry {
    const char* name;
    double maxSeconds;
};

std::string SoundName(const testing::TestParamInfo<KitEntry>& entry) {
    std::string name = entry.param.name;
    std::erase(name, ' ');
    return name;
}

class KitSound : public testing::TestWithParam<KitEntry> {};

TEST_P(KitSound, IsATightCleanHit) {
    const Sound s = Load(GetParam().name);
    ASSERT_FALSE(s.samples.empty()) << GetParam().name << " missing or unreadable in " << ZORVIK_SOUNDS_DIR;
    EXPECT_EQ(s.rate, 48000);
    EXPECT_EQ(s.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_GE(Seconds(s), 0.1);
    EXPECT_LE(Seconds(s), GetParam().maxSeconds);

    double peak = 0;
    for (const double x : s.samples) {
        peak = std::max(peak, std::abs(x));
    }
    EXPECT_LE(20 * std::log10(peak), -1.0) << "dBFS";
    // Pads are played live; any silence before the hit is heard as lag.
    EXPECT_GE(std::max(std::abs(s.samples[0]), std::abs(s.samples[1])), 0.1);
    EXPECT_EQ(s.samples.back(), 0.0) << "should fade to silence rather than stop mid-wave";
    // The closing fade is only there to land on zero; the hit itself must have died away by then.
    EXPECT_LT(20 * std::log10(TailRms(s) / peak), -30.0) << "dB under the peak in the last 50 ms";
}

INSTANTIATE_TEST_SUITE_P(Kit, KitSound,
                         testing::Values(KitEntry{"Kick", 0.6}, KitEntry{"Snare", 0.6},
                                         KitEntry{"Hi Hat", 0.6}, KitEntry{"Open Hi Hat", 2.5},
                                         KitEntry{"High Tom", 0.6}, KitEntry{"Mid Tom", 0.6},
                                         KitEntry{"Low Tom", 0.6}, KitEntry{"Crash", 2.5}),
                         SoundName);

struct Ordering {
    const char* higher;
    const char* lower;
};

std::string OrderingName(const testing::TestParamInfo<Ordering>& pair) {
    std::string name = std::string(pair.param.higher) + "_over_" + pair.param.lower;
    std::erase(name, ' ');
    return name;
}

class Brighter : public testing::TestWithParam<Ordering> {};

TEST_P(Brighter, ByCentroid) {
    const Sound higher = Load(GetParam().higher), lower = Load(GetParam().lower);
    ASSERT_FALSE(higher.samples.empty() || lower.samples.empty());
    EXPECT_GT(SpectralCentroid(higher), SpectralCentroid(lower));
}

INSTANTIATE_TEST_SUITE_P(Kit, Brighter,
                         testing::Values(Ordering{"Crash", "Snare"}, Ordering{"Hi Hat", "Snare"},
                                         Ordering{"Open Hi Hat", "Snare"}, Ordering{"Snare", "High Tom"},
                                         Ordering{"High Tom", "Kick"}, Ordering{"Mid Tom", "Kick"},
                                         Ordering{"Low Tom", "Kick"}),
                         OrderingName);

class HigherPitched : public testing::TestWithParam<Ordering> {};

TEST_P(HigherPitched, WhileRinging) {
    const Sound higher = Load(GetParam().higher), lower = Load(GetParam().lower);
    ASSERT_FALSE(higher.samples.empty() || lower.samples.empty());
    EXPECT_GT(RingingPitch(higher), RingingPitch(lower));
}

INSTANTIATE_TEST_SUITE_P(Kit, HigherPitched,
                         testing::Values(Ordering{"High Tom", "Mid Tom"}, Ordering{"Mid Tom", "Low Tom"},
                                         Ordering{"Low Tom", "Kick"}),
                         OrderingName);

// A kit's pads send General MIDI drum notes: each must reach the row a drummer expects, with the notes
// no row stands for left silent rather than played as something else.
struct NoteRow {
    std::uint8_t note;
    const char* drum;  // nullptr: ignored
};

class MidiNoteTest : public testing::TestWithParam<NoteRow> {};

TEST_P(MidiNoteTest, ReachesItsDrum) {
    const zorvik::kit::OpenedKit sounds = zorvik::kit::OpenSoundsKit(ZORVIK_SOUNDS_DIR);
    const int instrument = sounds.kit.byNote[GetParam().note];
    if (!GetParam().drum) {
        EXPECT_EQ(instrument, -1);
        return;
    }
    const auto row = std::find(sounds.kit.rows.begin(), sounds.kit.rows.end(), instrument);
    ASSERT_NE(row, sounds.kit.rows.end());
    EXPECT_STREQ(zorvik::kit::kDrumNames[static_cast<std::size_t>(row - sounds.kit.rows.begin())],
                 GetParam().drum);
}

INSTANTIATE_TEST_SUITE_P(GeneralMidi, MidiNoteTest,
                         testing::Values(NoteRow{36, "Kick"}, NoteRow{35, "Kick"}, NoteRow{38, "Snare"},
                                         NoteRow{37, "Snare"}, NoteRow{42, "Hi Hat"}, NoteRow{44, "Hi Hat"},
                                         NoteRow{46, "Open Hi Hat"}, NoteRow{50, "High Tom"},
                                         NoteRow{47, "Mid Tom"}, NoteRow{43, "Low Tom"}, NoteRow{49, "Crash"},
                                         NoteRow{51, "Crash"}, NoteRow{34, nullptr}, NoteRow{60, nullptr},
                                         NoteRow{0, nullptr}, NoteRow{127, nullptr}),
                         [](const testing::TestParamInfo<NoteRow>& row) {
                             return "Note" + std::to_string(row.param.note);
                         });

TEST(MidiMap, ClosedAndPedalHiHatNotesPlayTheHiHatThatChokesTheOpenOne) {
    const zorvik::kit::OpenedKit sounds = zorvik::kit::OpenSoundsKit(ZORVIK_SOUNDS_DIR);
    const zorvik::kit::HiHats hats = zorvik::kit::FindHiHats(sounds.kit);
    EXPECT_EQ(hats.closed, sounds.kit.rows[2]);
    EXPECT_EQ(hats.open, sounds.kit.rows[3]);
    for (int note = 0; note < 128; ++note) {
        const bool closes = note == 42 || note == 44;
        EXPECT_EQ(sounds.kit.byNote[static_cast<std::size_t>(note)] == hats.closed, closes)
            << "note " << note;
    }
}

struct VelocityRow {
    std::uint8_t velocity;
    double decibels;
    double tolerance;
};

class VelocityTest : public testing::TestWithParam<VelocityRow> {};

TEST_P(VelocityTest, SetsTheLevel) {
    const double level = 20.0 * std::log10(zorvik::kit::VelocityGain(GetParam().velocity));
    EXPECT_NEAR(level, GetParam().decibels, GetParam().tolerance);
}

INSTANTIATE_TEST_SUITE_P(Curve, VelocityTest,
                         testing::Values(VelocityRow{127, 0.0, 1e-6}, VelocityRow{64, -12.0, 2.0},
                                         VelocityRow{32, -24.0, 2.0}, VelocityRow{1, -84.1, 0.1}),
                         [](const testing::TestParamInfo<VelocityRow>& row) {
                             return "Velocity" + std::to_string(row.param.velocity);
                         });

}  // namespace
