// The drum sample player: WAV decoding and its refusals, the voice mixer's cut-and-fade, and the whole
// player writing through SDL's disk driver, so what the device would hear is checked sample by sample.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <numbers>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "ClipCache.h"
#include "DefaultSound.h"
#include "DrumPlayer.h"
#include "NullOutput.h"
#include "Resampler.h"
#include "TestMedia.h"
#include "VoiceMixer.h"
#include "WavDecoder.h"

namespace zorvik::platform::samples {
namespace {

namespace fs = std::filesystem;

using testmedia::kFmtBlockAlign;
using testmedia::kFmtChannels;
using testmedia::kFmtRate;
using testmedia::PatchWavFormat;
using testmedia::PutLittleEndian;
using testmedia::ReadBytes;
using testmedia::RiffChunk;
using testmedia::TempDir;
using testmedia::WriteBytes;
using testmedia::WriteSound;

// Channel 0 and 1 carry different tones so a swapped or merged pair shows.
double TestSignal(int channel, std::size_t frame, int rate) {
    const double t = static_cast<double>(frame) / rate;
    return channel == 0 ? 0.5 * std::sin(2 * std::numbers::pi * 440 * t)
                        : 0.25 * std::sin(2 * std::numbers::pi * 660 * t);
}

std::string MakeSound(int format, int channels, int rate, std::size_t frames) {
    return testmedia::SoundBytes(format, channels, rate, frames,
                                 [rate](int c, std::size_t f) { return TestSignal(c, f, rate); });
}

WavResult DecodeBytes(const std::string& bytes) {
    return DecodeWav(testmedia::AsBytes(bytes));
}

template <class Row>
std::string RowName(const testing::TestParamInfo<Row>& row) {
    return row.param.name;
}

// ---------------------------------------------------------------------------------------------------
// Decoding what libsndfile wrote

struct DecodeRow {
    const char* name;
    int format;
    int channels;
    int rate;
    double maxRmsError;
    bool blockPadded;  // ADPCM rounds the length up to whole blocks
};

void PrintTo(const DecodeRow& row, std::ostream* os) {
    *os << row.name;
}

class WavDecodeTest : public testing::TestWithParam<DecodeRow> {};

TEST_P(WavDecodeTest, DecodesFramesAndValues) {
    const DecodeRow& row = GetParam();
    const auto frames = static_cast<std::size_t>(row.rate / 4);
    const std::string bytes = MakeSound(row.format, row.channels, row.rate, frames);
    ASSERT_FALSE(bytes.empty());

    const WavResult result = DecodeBytes(bytes);
    ASSERT_TRUE(result.Ok()) << static_cast<int>(result.error);
    EXPECT_EQ(result.wav.channels, row.channels);
    EXPECT_EQ(result.wav.sampleRate, row.rate);
    if (row.blockPadded) {
        EXPECT_GE(result.wav.Frames(), frames);
        EXPECT_LT(result.wav.Frames(), frames + 4096);
    } else {
        EXPECT_EQ(result.wav.Frames(), frames);
    }
    for (int c = 0; c < row.channels; ++c) {
        double err = 0;
        for (std::size_t f = 0; f < frames; ++f) {
            const double d =
                result.wav.samples[f * static_cast<std::size_t>(row.channels) + static_cast<std::size_t>(c)] -
                TestSignal(c, f, row.rate);
            err += d * d;
        }
        EXPECT_LT(std::sqrt(err / static_cast<double>(frames)), row.maxRmsError) << "channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codings, WavDecodeTest,
    testing::Values(DecodeRow{"U8Mono22k", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 22050, 0.01, false},
                    DecodeRow{"S16Stereo44k", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 1e-4, false},
                    DecodeRow{"S24Mono48k", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 48000, 1e-6, false},
                    DecodeRow{"S32Stereo96k", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, 96000, 1e-6, false},
                    DecodeRow{"FloatStereo48k", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 1e-7, false},
                    DecodeRow{"WavexS16Stereo48k", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 2, 48000, 1e-4, false},
                    DecodeRow{"ImaMono22k", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 22050, 0.03, true},
                    DecodeRow{"ImaStereo44k", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 44100, 0.03, true},
                    DecodeRow{"MsMono48k", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 1, 48000, 0.03, true},
                    DecodeRow{"MsStereo96k", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 2, 96000, 0.03, true}),
    RowName<DecodeRow>);

TEST(WavDecoder, FoldsMoreThanTwoChannelsToMono) {
    TempDir dir;
    const fs::path path = dir / "six.wav";
    ASSERT_TRUE(WriteSound(path, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 6, 48000, 100,
                           [](int c, std::size_t) { return 0.1 * c; }));
    const WavResult result = DecodeBytes(ReadBytes(path));
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.wav.channels, 1);
    ASSERT_EQ(result.wav.Frames(), 100u);
    EXPECT_NEAR(result.wav.samples[50], 0.25, 1e-5);  // mean of 0, 0.1 ... 0.5
}

TEST(WavDecoder, ReplacesNonFiniteAndClampsOvers) {
    TempDir dir;
    const fs::path path = dir / "hot.wav";
    const std::vector<double> values{std::nan(""), INFINITY, -INFINITY, 3.0, -3.0, 0.5};
    // libsndfile would normalise the float data on write; store it as given.
    SF_INFO info{};
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    info.channels = 1;
    info.samplerate = 48000;
    SNDFILE* snd = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(snd, nullptr);
    std::vector<float> data(values.begin(), values.end());
    sf_command(snd, SFC_SET_CLIPPING, nullptr, SF_FALSE);
    ASSERT_EQ(sf_writef_float(snd, data.data(), static_cast<sf_count_t>(data.size())),
              static_cast<sf_count_t>(data.size()));
    sf_close(snd);

    const WavResult result = DecodeBytes(ReadBytes(path));
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.wav.samples, (std::vector<float>{0.0f, 0.0f, 0.0f, 1.0f, -1.0f, 0.5f}));
}

TEST(WavDecoder, CutsOffAfterTheLengthLimit) {
    constexpr int kRate = 1000;  // the lowest rate accepted keeps the file small
    const std::string bytes =
        MakeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, kRate, (kMaxWavSeconds + 5) * kRate);
    const WavResult result = DecodeBytes(bytes);
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.wav.Frames(), static_cast<std::size_t>(kMaxWavSeconds * kRate));
}

TEST(WavDecoder, HugeDataLengthDecodesOnlyWhatIsThere) {
    // A header claiming a 4 GiB data chunk must neither fail the real audio nor size any buffer.
    for (const int format : {SF_FORMAT_PCM_16, SF_FORMAT_IMA_ADPCM}) {
        SCOPED_TRACE(format);
        std::string bytes = MakeSound(SF_FORMAT_WAV | format, 2, 48000, 4800);
        PutLittleEndian(bytes, RiffChunk(bytes, "data").value() + 4, 0xFFFFFFFF, 4);
        const WavResult result = DecodeBytes(bytes);
        ASSERT_TRUE(result.Ok());
        EXPECT_GE(result.wav.Frames(), 4800u);
        EXPECT_LE(result.wav.samples.capacity() * sizeof(float), 16 * bytes.size());
    }
}

// ---------------------------------------------------------------------------------------------------
// Refusals

struct RefusalRow {
    const char* name;
    std::function<std::string()> make;
    std::optional<WavError> expected;  // unset where only libsndfile's verdict matters, not which
};

void PrintTo(const RefusalRow& row, std::ostream* os) {
    *os << row.name;
}

class WavRefusalTest : public testing::TestWithParam<RefusalRow> {};

TEST_P(WavRefusalTest, Refuses) {
    const std::string bytes = GetParam().make();
    const WavResult result = DecodeBytes(bytes);
    EXPECT_FALSE(result.Ok());
    if (GetParam().expected) {
        EXPECT_EQ(result.error, *GetParam().expected);
    }
    EXPECT_TRUE(result.wav.samples.empty());
}

std::string Wav16() {
    return MakeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 4410);
}
std::string Ima() {
    return MakeSound(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 44100, 4410);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, WavRefusalTest,
    testing::Values(
        RefusalRow{"Empty", [] { return std::string{}; }, WavError::kNotWav},
        RefusalRow{"TruncatedHeader",
                   [] {
                       std::string b = Wav16();
                       b.resize(30);
                       return b;
                   },
                   WavError::kNotWav},
        RefusalRow{"ZeroChannels", [] { return PatchWavFormat(Wav16(), kFmtChannels, 0, 2); }, std::nullopt},
        RefusalRow{"RateZero", [] { return PatchWavFormat(Wav16(), kFmtRate, 0, 4); }, std::nullopt},
        RefusalRow{"RateAbsurd", [] { return PatchWavFormat(Wav16(), kFmtRate, 5'000'000, 4); },
                   WavError::kBadLayout},
        RefusalRow{"ImaBlockAlignZero", [] { return PatchWavFormat(Ima(), kFmtBlockAlign, 0, 2); },
                   std::nullopt},
        RefusalRow{"ImaBlockAlignOne", [] { return PatchWavFormat(Ima(), kFmtBlockAlign, 1, 2); },
                   std::nullopt},
        RefusalRow{"ImaBlockAlignHuge", [] { return PatchWavFormat(Ima(), kFmtBlockAlign, 0xFFFF, 2); },
                   std::nullopt},
        RefusalRow{"MsBlockAlignHuge",
                   [] {
                       return PatchWavFormat(MakeSound(SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 1, 44100, 4410),
                                             kFmtBlockAlign, 0xFFFF, 2);
                   },
                   std::nullopt},
        RefusalRow{"NineChannels",
                   [] { return MakeSound(SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 9, 44100, 441); },
                   WavError::kBadLayout},
        RefusalRow{"MsBlockAlignZero",
                   [] {
                       return PatchWavFormat(MakeSound(SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 1, 44100, 4410),
                                             kFmtBlockAlign, 0, 2);
                   },
                   std::nullopt},
        RefusalRow{"NoFrames", [] { return MakeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 0); },
                   WavError::kNoAudio},
        RefusalRow{"ULawWav", [] { return MakeSound(SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 8000, 800); },
                   WavError::kUnsupportedCoding},
        RefusalRow{"Gsm610Wav", [] { return MakeSound(SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 8000, 800); },
                   WavError::kUnsupportedCoding},
        RefusalRow{"Aiff", [] { return MakeSound(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 44100, 4410); },
                   WavError::kNotWav},
        RefusalRow{"Flac", [] { return MakeSound(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, 4410); },
                   WavError::kNotWav},
        RefusalRow{"Text", [] { return std::string("kick=kick.wav\nsnare=snare.wav\n"); },
                   WavError::kNotWav}),
    RowName<RefusalRow>);

struct FileRow {
    const char* name;
    std::function<fs::path(const TempDir&)> make;  // empty path: row does not apply here
    WavError expected;
};

void PrintTo(const FileRow& row, std::ostream* os) {
    *os << row.name;
}

class WavFileTest : public testing::TestWithParam<FileRow> {};

TEST_P(WavFileTest, LoadsOrRefuses) {
    TempDir dir;
    const fs::path path = GetParam().make(dir);
    if (path.empty()) {
        GTEST_SKIP() << "not applicable for this user";
    }
    const WavResult result = LoadWavFile(path.string());
    EXPECT_EQ(result.error, GetParam().expected);
}

fs::path WriteWav16(const TempDir& dir, const std::string& name) {
    const fs::path path = dir / name;
    fs::create_directories(path.parent_path());
    WriteBytes(path, Wav16());
    return path;
}

// Cyrillic, a Latin accent and a character outside the Basic Multilingual Plane, in a folder and a name.
constexpr const char* kNonAsciiName = "Барабаны ü/малый 🥁.wav";

INSTANTIATE_TEST_SUITE_P(
    Files, WavFileTest,
    testing::Values(
        FileRow{"Plain", [](const TempDir& d) { return WriteWav16(d, "kick.wav"); }, WavError::kNone},
        FileRow{"NonAsciiPath", [](const TempDir& d) { return WriteWav16(d, kNonAsciiName); },
                WavError::kNone},
        FileRow{"Missing", [](const TempDir& d) { return d / "nothing.wav"; }, WavError::kUnreadable},
        FileRow{"Folder",
                [](const TempDir& d) {
                    fs::create_directory(d / "folder.wav");
                    return d / "folder.wav";
                },
                WavError::kNotRegularFile},
        // Opening a FIFO for reading would block until a writer comes; it must be refused unopened.
        FileRow{"Fifo",
                [](const TempDir& d) {
                    ::mkfifo((d / "pipe.wav").c_str(), 0600);
                    return d / "pipe.wav";
                },
                WavError::kNotRegularFile},
        FileRow{"CharDevice", [](const TempDir&) { return fs::path("/dev/zero"); },
                WavError::kNotRegularFile},
        // Sparse, so it costs no disk; reading it would take seconds and gigabytes.
        FileRow{"Sparse2GiB",
                [](const TempDir& d) {
                    const fs::path path = WriteWav16(d, "huge.wav");
                    ::truncate(path.c_str(), off_t{2} << 30);
                    return path;
                },
                WavError::kTooLarge},
        FileRow{"OneByteOverLimit",
                [](const TempDir& d) {
                    const fs::path path = WriteWav16(d, "big.wav");
                    ::truncate(path.c_str(), static_cast<off_t>(kMaxWavFileBytes + 1));
                    return path;
                },
                WavError::kTooLarge},
        // Root reads through any permission bits.
        FileRow{"NoPermission",
                [](const TempDir& d) {
                    const fs::path path = WriteWav16(d, "locked.wav");
                    ::chmod(path.c_str(), 0);
                    return ::geteuid() == 0 ? fs::path() : path;
                },
                WavError::kUnreadable}),
    RowName<FileRow>);

// ---------------------------------------------------------------------------------------------------
// The mixer, without a device

ClipPtr ConstantClip(std::size_t frames, float value) {
    auto clip = std::make_shared<StereoClip>();
    clip->samples.assign(frames * kMixChannels, value);
    return clip;
}

// Renders `frames` frames in pieces of `chunk`, returning the left channel (the clips are dual mono).
std::vector<float> RenderLeft(VoiceMixer& mixer, std::size_t frames, std::size_t chunk) {
    std::vector<float> out(frames * kMixChannels);
    for (std::size_t done = 0; done < frames; done += chunk) {
        mixer.Render(out.data() + done * kMixChannels, std::min(chunk, frames - done));
    }
    std::vector<float> left(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        left[f] = out[f * kMixChannels];
        EXPECT_EQ(out[f * kMixChannels + 1], left[f]) << "frame " << f;
    }
    return left;
}

void Start(VoiceMixer& mixer, ClipPtr clip) {
    VoiceMixer::Released released;
    mixer.Start(std::move(clip), released);
}

TEST(VoiceMixer, SilentUntilStartedAndAfterTheClipEnds) {
    VoiceMixer mixer;
    EXPECT_EQ(RenderLeft(mixer, 64, 64), std::vector<float>(64, 0.0f));
    Start(mixer, ConstantClip(250, 0.5f));
    const std::vector<float> out = RenderLeft(mixer, 400, 100);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 250), std::vector<float>(250, 0.5f));
    EXPECT_EQ(std::vector<float>(out.begin() + 250, out.end()), std::vector<float>(150, 0.0f));
}

class VoiceMixerCutTest : public testing::TestWithParam<std::size_t> {};

TEST_P(VoiceMixerCutTest, NewHitCutsTheOldOneWithAShortFade) {
    VoiceMixer mixer;
    Start(mixer, ConstantClip(10000, 0.5f));
    RenderLeft(mixer, 10, 10);
    Start(mixer, ConstantClip(10000, 0.1f));
    const std::vector<float> out = RenderLeft(mixer, 300, GetParam());

    constexpr std::size_t kFade = VoiceMixer::kFadeFrames;
    EXPECT_NEAR(out[0], 0.6f, 1e-6);  // the new hit starts at once, on top of the old one
    for (std::size_t f = 1; f < kFade; ++f) {
        EXPECT_LT(out[f], out[f - 1]) << "frame " << f;
        EXPECT_LT(out[f - 1] - out[f], 0.5f / kFade + 1e-6) << "frame " << f;
    }
    for (std::size_t f = kFade; f < out.size(); ++f) {
        ASSERT_EQ(out[f], 0.1f) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(RenderChunks, VoiceMixerCutTest, testing::Values(1, 7, 96, 256));

TEST(VoiceMixer, AHitThatWasNeverHeardIsDroppedWithoutFade) {
    VoiceMixer mixer;
    Start(mixer, ConstantClip(1000, 0.5f));
    Start(mixer, ConstantClip(1000, 0.1f));
    EXPECT_EQ(RenderLeft(mixer, 100, 100), std::vector<float>(100, 0.1f));
}

TEST(VoiceMixer, TailShorterThanTheFadeStopsAtItsEnd) {
    VoiceMixer mixer;
    Start(mixer, ConstantClip(20, 0.5f));
    RenderLeft(mixer, 10, 10);
    Start(mixer, ConstantClip(1000, 0.1f));
    const std::vector<float> out = RenderLeft(mixer, 100, 100);
    EXPECT_GT(out[9], 0.1f);
    EXPECT_EQ(std::vector<float>(out.begin() + 10, out.end()), std::vector<float>(90, 0.1f));
}

// A MIDI hit plays at its velocity's level, and a closed hi-hat stops an open one the way a new hit
// cuts the old: with the same short fade, never dead.
TEST(VoiceMixer, PlaysAtItsGainAndStopsWithAFade) {
    VoiceMixer mixer;
    VoiceMixer::Released released;
    mixer.Start(ConstantClip(10000, 0.5f), released, 0.25f);
    EXPECT_EQ(RenderLeft(mixer, 10, 10), std::vector<float>(10, 0.125f));
    mixer.Stop(released);
    const std::vector<float> out = RenderLeft(mixer, 300, 7);
    EXPECT_NEAR(out[0], 0.125f, 1e-6);
    for (std::size_t f = 1; f < VoiceMixer::kFadeFrames; ++f) {
        EXPECT_LT(out[f], out[f - 1]) << "frame " << f;
    }
    EXPECT_EQ(std::vector<float>(out.begin() + VoiceMixer::kFadeFrames, out.end()),
              std::vector<float>(300 - VoiceMixer::kFadeFrames, 0.0f));
}

TEST(VoiceMixer, MixAddsToWhatTheBufferHolds) {
    VoiceMixer kick, hat;
    Start(kick, ConstantClip(100, 0.25f));
    Start(hat, ConstantClip(50, 0.5f));
    std::vector<float> out(80 * kMixChannels, 0.0f);
    kick.Mix(out.data(), 80);
    hat.Mix(out.data(), 80);
    EXPECT_EQ(out[0], 0.75f);
    EXPECT_EQ(out[49 * kMixChannels + 1], 0.75f);
    EXPECT_EQ(out[50 * kMixChannels], 0.25f);
}

TEST(VoiceMixer, RapidHitsStayInRangeAndLetGoOfOldClips) {
    VoiceMixer mixer;
    std::vector<std::weak_ptr<const StereoClip>> watched;
    for (int hit = 0; hit < 20; ++hit) {
        ClipPtr clip = ConstantClip(5000, 0.9f);
        watched.push_back(clip);
        Start(mixer, std::move(clip));
        for (const float v : RenderLeft(mixer, 3, 3)) {
            ASSERT_LE(std::abs(v), 1.0f);
        }
    }
    // Each Start() hands back the tails that have faded out; the last hit is only just fading.
    RenderLeft(mixer, VoiceMixer::kFadeFrames, VoiceMixer::kFadeFrames);
    Start(mixer, ConstantClip(10, 0.0f));
    for (std::size_t i = 0; i + 1 < watched.size(); ++i) {
        EXPECT_TRUE(watched[i].expired()) << "hit " << i;
    }
    EXPECT_FALSE(watched.back().expired());
    RenderLeft(mixer, VoiceMixer::kFadeFrames, VoiceMixer::kFadeFrames);
    Start(mixer, ConstantClip(10, 0.0f));
    EXPECT_TRUE(watched.back().expired());
}

// A hit that reaches back over frames already rendered must produce exactly the frames a hit started
// there in the first place would have: the old voice's cut, its fade and the new voice all in place.
struct RewindRow {
    const char* name;
    std::size_t firstHitAt;  // frames rendered before the first hit
    std::size_t renderedAt;  // frames rendered when the second hit comes
    std::size_t askedBack;   // how far the second hit asks to reach back
    std::size_t expectBack;  // how far it may: never past the first hit
    std::size_t chunk;       // render buffer size
};

class VoiceMixerRewindTest : public testing::TestWithParam<RewindRow> {};

ClipPtr RampClip(std::size_t frames, float scale) {
    auto clip = std::make_shared<StereoClip>();
    for (std::size_t f = 0; f < frames; ++f) {
        const float v = scale * static_cast<float>(f % 997) / 997.0f;
        clip->samples.push_back(v);
        clip->samples.push_back(v);
    }
    return clip;
}

TEST_P(VoiceMixerRewindTest, ReachingBackEqualsStartingThere) {
    const RewindRow& row = GetParam();
    const ClipPtr first = RampClip(5000, 0.5f);
    const ClipPtr second = RampClip(5000, -0.25f);
    constexpr std::size_t kTotal = 3000;

    VoiceMixer rewound;
    RenderLeft(rewound, row.firstHitAt, row.chunk);
    Start(rewound, first);
    RenderLeft(rewound, row.renderedAt - row.firstHitAt, row.chunk);
    const std::size_t back = rewound.Rewind(row.askedBack);
    ASSERT_EQ(back, row.expectBack);
    const std::size_t secondAt = row.renderedAt - back;
    Start(rewound, second);

    VoiceMixer straight;
    std::vector<float> expected = RenderLeft(straight, row.firstHitAt, row.chunk);
    Start(straight, first);
    const std::vector<float> beforeSecond = RenderLeft(straight, secondAt - row.firstHitAt, row.chunk);
    expected.insert(expected.end(), beforeSecond.begin(), beforeSecond.end());
    Start(straight, second);
    const std::vector<float> afterStraight = RenderLeft(straight, kTotal - secondAt, row.chunk);
    expected.insert(expected.end(), afterStraight.begin(), afterStraight.end());

    // Up to the second hit both put out the same frames; from there on the rewound mixer's must match.
    EXPECT_EQ(RenderLeft(rewound, kTotal - secondAt, row.chunk),
              std::vector<float>(expected.begin() + static_cast<std::ptrdiff_t>(secondAt), expected.end()));
}

INSTANTIATE_TEST_SUITE_P(Hits, VoiceMixerRewindTest,
                         testing::Values(RewindRow{"WithinTheQueue", 100, 1000, 300, 300, 64},
                                         RewindRow{"IntoTheFadeOfTheCut", 100, 140, 30, 30, 7},
                                         RewindRow{"StopsAtTheFirstHit", 100, 400, 1000, 300, 256},
                                         RewindRow{"RightAfterTheFirstHit", 100, 101, 50, 1, 1},
                                         RewindRow{"NothingAsked", 100, 500, 0, 0, 96},
                                         RewindRow{"BackToTheVeryStart", 0, 800, 800, 800, 128}),
                         RowName<RewindRow>);

TEST(VoiceMixer, ReachingBackOverAHitThatWasNeverHeardDropsItWithoutFade) {
    VoiceMixer mixer;
    Start(mixer, ConstantClip(1000, 0.5f));
    RenderLeft(mixer, 200, 200);
    ASSERT_EQ(mixer.Rewind(200), 200u);
    Start(mixer, ConstantClip(1000, 0.1f));
    EXPECT_EQ(RenderLeft(mixer, 100, 100), std::vector<float>(100, 0.1f));
}

// ---------------------------------------------------------------------------------------------------
// The clip cache, with a loader that counts its calls

class ClipCacheTest : public testing::Test {
  protected:
    static constexpr std::size_t kClipFrames = 1000;
    static constexpr std::size_t kClipBytes = kClipFrames * kMixChannels * sizeof(float);

    // `gate`, when given, holds back the load of a file named "slow.wav" until it is set.
    ClipCache MakeCache(std::size_t maxBytes, std::shared_future<void> gate = {}) {
        return ClipCache(
            [this, gate](const std::string& path) -> ClipPtr {
                {
                    const std::lock_guard lock(loadsMutex_);
                    ++loads_[path];
                }
                if (gate.valid() && fs::path(path).filename() == "slow.wav") {
                    gate.wait();
                }
                return fs::path(path).extension() == ".bad" ? nullptr : ConstantClip(kClipFrames, 0.5f);
            },
            maxBytes);
    }
    // Loads so far, as the preloading thread counts them too.
    int Loads(const std::string& path) {
        const std::lock_guard lock(loadsMutex_);
        return loads_[path];
    }
    // Polls, with a deadline, until the loader has been asked for `path` `times` times.
    bool LoadsReach(const std::string& path, int times) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Loads(path) < times && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return Loads(path) >= times;
    }
    std::string File(const std::string& name) {
        const fs::path path = dir_ / name;
        WriteBytes(path, std::string(10, '\1'));
        return path.string();
    }
    // A new write with the same size, dated a second later so the test does not hang on the file
    // system's timestamp resolution.
    static void Rewrite(const std::string& path) {
        const auto before = fs::last_write_time(path);
        WriteBytes(path, std::string(10, '\2'));
        fs::last_write_time(path, before + std::chrono::seconds(1));
    }

    TempDir dir_;
    std::mutex loadsMutex_;
    std::map<std::string, int> loads_;
};

TEST_F(ClipCacheTest, PreloadedFilesNeedNoLoadAtTheirFirstHit) {
    ClipCache cache = MakeCache(10 * kClipBytes);
    const std::string a = File("a.wav"), b = File("b.wav"), missing = (dir_ / "missing.wav").string();
    cache.Preload({a, missing, b});
    ASSERT_TRUE(LoadsReach(b, 1));
    cache.Preload({});  // waits for the load under way, the last
    EXPECT_NE(cache.Get(a), nullptr);
    EXPECT_NE(cache.Get(b), nullptr);
    EXPECT_EQ(cache.Get(missing), nullptr);
    EXPECT_EQ(Loads(a), 1);
    EXPECT_EQ(Loads(b), 1);
    EXPECT_EQ(Loads(missing), 0);
}

TEST_F(ClipCacheTest, AHitBeforeThePreloadGetsThereLoadsItselfAndKeepsItsClip) {
    std::promise<void> open;
    ClipCache cache = MakeCache(10 * kClipBytes, open.get_future().share());
    const std::string slow = File("slow.wav"), b = File("b.wav");
    cache.Preload({slow, b});
    ASSERT_TRUE(LoadsReach(slow, 1));
    const ClipPtr hit = cache.Get(b);  // the preload is still held up by the slow file
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(Loads(b), 1);
    open.set_value();
    ASSERT_TRUE(LoadsReach(b, 2));  // the preload's own load of it
    cache.Preload({});
    EXPECT_EQ(cache.Get(b), hit);
    EXPECT_NE(cache.Get(slow), nullptr);
    EXPECT_EQ(Loads(slow), 1);
}

TEST_F(ClipCacheTest, LoadsEachFileOnceUntilItChanges) {
    ClipCache cache = MakeCache(10 * kClipBytes);
    const std::string kick = File("kick.wav");
    const ClipPtr first = cache.Get(kick);
    EXPECT_EQ(cache.Get(kick), first);
    EXPECT_EQ(loads_[kick], 1);

    Rewrite(kick);
    EXPECT_NE(cache.Get(kick), first);
    EXPECT_EQ(loads_[kick], 2);

    // Replaced by a rename, as editors save: same size and maybe the same time, but a new file.
    const std::string replacement = File("new.wav");
    fs::rename(replacement, kick);
    cache.Get(kick);
    EXPECT_EQ(loads_[kick], 3);
}

TEST_F(ClipCacheTest, RemembersUnplayableFilesButNotMissingOnes) {
    ClipCache cache = MakeCache(10 * kClipBytes);
    const std::string bad = File("noise.bad");
    EXPECT_EQ(cache.Get(bad), nullptr);
    EXPECT_EQ(cache.Get(bad), nullptr);
    EXPECT_EQ(loads_[bad], 1);
    Rewrite(bad);
    cache.Get(bad);
    EXPECT_EQ(loads_[bad], 2);

    const std::string missing = (dir_ / "missing.wav").string();
    EXPECT_EQ(cache.Get(missing), nullptr);
    EXPECT_EQ(loads_[missing], 0);
}

TEST_F(ClipCacheTest, DropsTheLeastRecentlyUsedBeyondItsBudget) {
    ClipCache cache = MakeCache(2 * kClipBytes);
    const std::string a = File("a.wav"), b = File("b.wav"), c = File("c.wav");
    cache.Get(a);
    cache.Get(b);
    cache.Get(a);
    cache.Get(c);  // evicts b, the least recently used
    cache.Get(a);
    cache.Get(b);
    EXPECT_EQ(loads_[a], 1);
    EXPECT_EQ(loads_[b], 2);
    EXPECT_EQ(loads_[c], 1);
}

TEST_F(ClipCacheTest, NoBudgetLoadsEveryTime) {
    ClipCache cache = MakeCache(0);
    const std::string a = File("a.wav");
    EXPECT_NE(cache.Get(a), nullptr);
    EXPECT_NE(cache.Get(a), nullptr);
    EXPECT_EQ(loads_[a], 2);
}

TEST_F(ClipCacheTest, AClipLargerThanTheBudgetPlaysButIsNotKept) {
    ClipCache cache = MakeCache(kClipBytes / 2);
    const std::string a = File("a.wav");
    EXPECT_NE(cache.Get(a), nullptr);
    EXPECT_NE(cache.Get(a), nullptr);
    EXPECT_EQ(loads_[a], 2);
}

// ---------------------------------------------------------------------------------------------------
// The player through SDL's disk driver: every buffer the device would play lands in a raw file of
// interleaved float32 stereo at 48 kHz.

constexpr auto kDeadline = std::chrono::seconds(10);

std::vector<float> ReadLeft(const fs::path& raw) {
    const std::string bytes = ReadBytes(raw);
    const std::size_t frames = bytes.size() / (sizeof(float) * kMixChannels);
    std::vector<float> left(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        std::memcpy(&left[f], bytes.data() + f * sizeof(float) * kMixChannels, sizeof(float));
    }
    return left;
}

std::optional<std::size_t> FindFrom(const std::vector<float>& left, std::size_t from,
                                    const std::function<bool(float)>& match) {
    for (std::size_t f = from; f < left.size(); ++f) {
        if (match(left[f])) {
            return f;
        }
    }
    return std::nullopt;
}

bool Near(float a, float b) {
    return std::abs(a - b) < 1e-6f;
}

// A dual-mono float WAV of constant `value`: exactly what the device should then output.
fs::path WriteConstantWav(const fs::path& path, float value, std::size_t frames) {
    fs::create_directories(path.parent_path());
    EXPECT_TRUE(WriteSound(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kMixRate, frames,
                           [value](int, std::size_t) { return value; }));
    return path;
}

class DiskPlayerTest : public testing::Test {
  protected:
    void SetUp() override {
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", raw_.c_str(), 1);
        // Five times real time: the tests wait less, and nothing here depends on the pace.
        ::setenv("SDL_DISKAUDIODELAY", "1", 1);
    }
    void TearDown() override {
        ::unsetenv("SDL_AUDIODRIVER");
        ::unsetenv("SDL_DISKAUDIOFILE");
        ::unsetenv("SDL_DISKAUDIODELAY");
    }

    fs::path ConstantWav(const std::string& name, float value, std::size_t frames) {
        return WriteConstantWav(dir_ / name, value, frames);
    }

    // Polls the output until `ready` holds for it.
    std::vector<float> WaitForOutput(const std::function<bool(const std::vector<float>&)>& ready) {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        std::vector<float> left = ReadLeft(raw_);
        while (!ready(left) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            left = ReadLeft(raw_);
        }
        return left;
    }

    // Waits for `value` to appear at or after `from`, followed by `frames` more frames.
    std::optional<std::size_t> WaitForValue(float value, std::size_t from, std::size_t frames,
                                            float tolerance = 1e-6f) {
        auto at = [&](const std::vector<float>& left) {
            return FindFrom(left, from, [&](float v) { return std::abs(v - value) < tolerance; });
        };
        const std::vector<float> left = WaitForOutput([&](const std::vector<float>& l) {
            const auto f = at(l);
            return f && l.size() >= *f + frames;
        });
        const auto f = at(left);
        return f && left.size() >= *f + frames ? f : std::nullopt;
    }

    TempDir dir_;
    fs::path raw_ = dir_ / "out.raw";
};

TEST_F(DiskPlayerTest, OpeningTheDeviceLeavesTerminationSignalsAlone) {
    const fs::path a = ConstantWav("a.wav", 0.5f, kMixRate / 10);
    auto player = MakeDrumPlayer();
    ASSERT_TRUE(player->Play(a.string(), kSndAsync));
    for (int signal : {SIGTERM, SIGINT}) {
        struct sigaction action {};
        ASSERT_EQ(::sigaction(signal, nullptr, &action), 0);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << "signal " << signal;
    }
}

TEST_F(DiskPlayerTest, NextHitCutsThePreviousOneWithAFade) {
    const fs::path a = ConstantWav("Барабаны/бочка ü.wav", 0.5f, kMixRate * 2);
    const fs::path b = ConstantWav("b.wav", 0.1f, kMixRate * 2);
    DrumPlayer player;
    ASSERT_TRUE(player.Play(a.string(), kSndAsync));
    const auto aStart = WaitForValue(0.5f, 0, 1000);
    ASSERT_TRUE(aStart);
    ASSERT_TRUE(player.Play(b.string(), kSndAsync));
    const auto bSteady = WaitForValue(0.1f, *aStart, 2000);
    ASSERT_TRUE(bSteady);

    const std::vector<float> left = ReadLeft(raw_);
    const auto cut = FindFrom(left, *aStart, [](float v) { return !Near(v, 0.5f); });
    ASSERT_TRUE(cut);
    // A plays untouched up to the cut, is gone 2 ms after it, and fades rather than steps.
    EXPECT_LE(*bSteady - *cut, VoiceMixer::kFadeFrames);
    for (std::size_t f = *cut; f < *bSteady + 1000; ++f) {
        ASSERT_LT(std::abs(left[f] - left[f - 1]), 0.15f) << "frame " << f;
        if (f >= *bSteady) {
            ASSERT_TRUE(Near(left[f], 0.1f)) << "frame " << f;
        }
    }
}

TEST_F(DiskPlayerTest, UnplayableFilesPlayTheDefaultSoundUnlessTold) {
    std::vector<float> ding(kDefaultSoundFrames);
    const StereoClip defaultSound = MakeDefaultSound();
    for (std::size_t f = 0; f < ding.size(); ++f) {
        ding[f] = defaultSound.samples[f * kMixChannels];
    }
    const auto dingLead = FindFrom(ding, 0, [](float v) { return v != 0.0f; });
    ASSERT_TRUE(dingLead);

    const fs::path text = dir_ / "notes.wav";
    WriteBytes(text, std::string(100, 'x'));
    fs::create_directory(dir_ / "folder.wav");
    const fs::path marker = ConstantWav("marker.wav", 0.25f, 2000);
    const std::vector<fs::path> unplayable{dir_ / "missing.wav", text, dir_ / "folder.wav"};

    DrumPlayer player;
    std::size_t searchFrom = 0;
    for (const fs::path& path : unplayable) {
        SCOPED_TRACE(path.string());
        EXPECT_FALSE(player.Play(path.string(), kSndAsync | kSndNoDefault));
        ASSERT_TRUE(player.Play(path.string(), kSndAsync));
        const std::vector<float> left = WaitForOutput([&](const std::vector<float>& l) {
            const auto f = FindFrom(l, searchFrom, [](float v) { return v != 0.0f; });
            return f && l.size() >= *f + ding.size();
        });
        const auto onset = FindFrom(left, searchFrom, [](float v) { return v != 0.0f; });
        ASSERT_TRUE(onset && left.size() >= *onset + ding.size());
        const std::size_t start = *onset - *dingLead;
        for (std::size_t f = 0; f < ding.size(); ++f) {
            ASSERT_TRUE(Near(left[start + f], ding[f])) << "frame " << f;
        }
        searchFrom = start + ding.size();
    }

    // Refused plays leave the device silent: nothing but zeros between the last ding and the marker.
    EXPECT_FALSE(player.Play((dir_ / "missing.wav").string(), kSndNoDefault));
    ASSERT_TRUE(player.Play(marker.string(), 0));
    const auto markerAt = WaitForValue(0.25f, searchFrom, 100);
    ASSERT_TRUE(markerAt);
    const std::vector<float> left = ReadLeft(raw_);
    EXPECT_EQ(std::vector<float>(left.begin() + static_cast<std::ptrdiff_t>(searchFrom),
                                 left.begin() + static_cast<std::ptrdiff_t>(*markerAt)),
              std::vector<float>(*markerAt - searchFrom, 0.0f));
}

TEST_F(DiskPlayerTest, ConvertsMonoAndOtherRatesToTheDevice) {
    const fs::path path = dir_ / "mono44k.wav";
    ASSERT_TRUE(WriteSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 44100,
                           [](int, std::size_t) { return 0.5; }));
    DrumPlayer player;
    ASSERT_TRUE(player.Play(path.string(), 0));
    const auto start = WaitForValue(0.5f, 0, kMixRate, 0.01f);
    ASSERT_TRUE(start);
    // One second at 44.1 kHz is one second at 48 kHz, give or take the resampler's edges.
    const std::vector<float> left = ReadLeft(raw_);
    std::size_t steady = 0;
    for (std::size_t f = *start; f < left.size() && std::abs(left[f] - 0.5f) < 0.01f; ++f) {
        ++steady;
    }
    EXPECT_NEAR(static_cast<double>(steady), kMixRate, 100);
}

TEST_F(DiskPlayerTest, NoDeviceFailsQuietlyAndRecoversWhenOneAppears) {
    const fs::path a = ConstantWav("a.wav", 0.5f, 4800);
    ::setenv("SDL_AUDIODRIVER", "nonexistent-driver", 1);
    DrumPlayer player({.retryInterval = std::chrono::milliseconds(20)});
    EXPECT_FALSE(player.Play(a.string(), 0));
    EXPECT_FALSE(player.Play((dir_ / "missing.wav").string(), 0));
    EXPECT_FALSE(player.Play(a.string(), 0));

    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    bool played = false;
    while (!played && std::chrono::steady_clock::now() < deadline) {
        played = player.Play(a.string(), 0);
        if (!played) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ASSERT_TRUE(played);
    EXPECT_TRUE(WaitForValue(0.5f, 0, 1000));
}

TEST_F(DiskPlayerTest, ReopensADeviceThatDied) {
    // Writes to /dev/full fail, and the disk driver reports that as the device going away.
    const fs::path a = ConstantWav("a.wav", 0.5f, kMixRate);
    ::setenv("SDL_DISKAUDIOFILE", "/dev/full", 1);
    DrumPlayer player({.retryInterval = std::chrono::milliseconds(20)});
    ASSERT_TRUE(player.Play(a.string(), 0));

    ::setenv("SDL_DISKAUDIOFILE", raw_.c_str(), 1);
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (!fs::exists(raw_) && std::chrono::steady_clock::now() < deadline) {
        player.Play(a.string(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(WaitForValue(0.5f, 0, 1000));
}

// An output of the player's own choosing for the tests below: one in memory under a name, which says
// when it is closed.
class WrappedOutput final : public audio::AudioOutput {
  public:
    WrappedOutput(const char* name, audio::RenderCallback render, std::function<void()> closed = {})
        : name_(name),
          inner_(std::make_unique<audio::NullOutput>(
              audio::OutputFormat{kMixRate, kMixChannels}, std::move(render),
              audio::NullOutput::Options{.period = std::chrono::milliseconds(1)})),
          closed_(std::move(closed)) {}
    ~WrappedOutput() override {
        inner_.reset();
        if (closed_) {
            closed_();
        }
    }
    bool Alive() const override { return inner_->Alive(); }
    const char* Name() const override { return name_; }
    std::chrono::microseconds Latency() const override { return inner_->Latency(); }
    const audio::NullOutput& Inner() const { return *inner_; }
    void Kill() { inner_->Kill(); }

  private:
    const char* name_;
    std::unique_ptr<audio::NullOutput> inner_;
    std::function<void()> closed_;
};

// Quitting while the output's opening hangs in a device that does not answer (as a stuck server makes
// it): the player goes at once, and the opening, once it ends, closes what it opened by itself after
// rendering into the stage it was given, which the player no longer holds.
TEST(DrumPlayerQuit, DoesNotWaitForAnOpeningThatHangs) {
    std::promise<void> release, closed;
    std::shared_future<void> released = release.get_future().share();
    std::future<void> wasClosed = closed.get_future();
    auto player = std::make_unique<DrumPlayer>(
        DrumPlayerOptions{.openOutput = [&, released](audio::RenderCallback render, audio::MidiCallback) {
            released.wait();
            return std::make_unique<WrappedOutput>("hung", std::move(render),
                                                   [&closed] { closed.set_value(); });
        }});
    player->Prepare();
    std::future<void> quit = std::async(std::launch::async, [&player] { player.reset(); });
    EXPECT_EQ(quit.wait_for(kDeadline), std::future_status::ready) << "quitting waited for the opening";
    release.set_value();
    EXPECT_EQ(wasClosed.wait_for(kDeadline), std::future_status::ready);
    quit.wait();
}

// Where a fallback took over from an output that died, the back ends ahead of it are tried again now
// and then; once one opens the drums move there, the fallback is closed and a hit is heard on the new one.
TEST(DrumPlayerAhead, GoesBackToTheFirstChoiceOnceItAnswers) {
    std::atomic<bool> firstBack{false}, fallbackClosed{false};
    std::atomic<int> opened{0}, tries{0};
    DrumPlayer player({.retryInterval = std::chrono::milliseconds(20),
                       .openOutput =
                           [&](audio::RenderCallback render, audio::MidiCallback) {
                               return std::make_unique<WrappedOutput>(opened++ == 0 ? "first" : "fallback",
                                                                      std::move(render),
                                                                      [&] { fallbackClosed = opened > 1; });
                           },
                       .aheadInterval = std::chrono::milliseconds(5),
                       .openAhead = [&](const std::string& current, audio::RenderCallback render,
                                        audio::MidiCallback) -> std::unique_ptr<audio::AudioOutput> {
                           EXPECT_EQ(current, "fallback");
                           ++tries;
                           if (!firstBack) {
                               return nullptr;
                           }
                           return std::make_unique<WrappedOutput>("first", std::move(render));
                       }});
    const auto until = [&player](const std::function<bool()>& done) {
        for (const auto deadline = std::chrono::steady_clock::now() + kDeadline;
             !done() && std::chrono::steady_clock::now() < deadline;) {
            player.Prepare();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done();
    };
    ASSERT_TRUE(until([&] { return player.Output() != nullptr; }));
    static_cast<WrappedOutput*>(player.Output())->Kill();
    // The next hit after the retry interval finds it dead and opens the next.
    ASSERT_TRUE(until([&] {
        (void)player.Play("/nonexistent/key.wav", 0);
        return player.Output() != nullptr && std::string(player.Output()->Name()) == "fallback";
    }));
    ASSERT_TRUE(until([&] { return tries >= 2; }));
    EXPECT_STREQ(player.Output()->Name(), "fallback");
    EXPECT_FALSE(fallbackClosed);
    firstBack = true;
    ASSERT_TRUE(until([&] { return std::string(player.Output()->Name()) == "first"; }));
    EXPECT_TRUE(fallbackClosed);
    ASSERT_TRUE(player.Play("/nonexistent/key.wav", 0));
    const auto& heard = static_cast<const WrappedOutput*>(player.Output())->Inner();
    EXPECT_TRUE(until([&heard] {
        const std::vector<float> kept = heard.Kept();
        return std::any_of(kept.begin(), kept.end(), [](float v) { return v != 0.0f; });
    })) << "the hit was not heard on the first choice";
}

// ---------------------------------------------------------------------------------------------------
// The resampler: a tone keeps its pitch and level, and the clip its length, between the rates a kit's
// files come in.

struct ResampleRow {
    int inRate;
    int outRate;
};

void PrintTo(const ResampleRow& row, std::ostream* os) {
    *os << row.inRate << " -> " << row.outRate;
}

class ResamplerTest : public testing::TestWithParam<ResampleRow> {};

TEST_P(ResamplerTest, KeepsToneLevelAndLength) {
    const auto [inRate, outRate] = GetParam();
    constexpr double kTone = 1000.0;
    const std::size_t frames = static_cast<std::size_t>(inRate) / 4;
    std::vector<float> in(frames * 2);
    for (std::size_t f = 0; f < frames; ++f) {
        in[2 * f] = static_cast<float>(
            0.5 * std::sin(2 * std::numbers::pi * kTone * static_cast<double>(f) / inRate));
        in[2 * f + 1] = 0.25f;
    }
    const std::vector<float> out = Resample(in.data(), frames, 2, inRate, outRate);
    const std::size_t outFrames = out.size() / 2;
    EXPECT_EQ(outFrames, (frames * static_cast<std::size_t>(outRate) + static_cast<std::size_t>(inRate) - 1) /
                             static_cast<std::size_t>(inRate));
    // Away from the edges, where the kernel runs off the clip, each frame is the tone at its own time.
    double worst = 0;
    for (std::size_t f = outFrames / 10; f < outFrames * 9 / 10; ++f) {
        const double want = 0.5 * std::sin(2 * std::numbers::pi * kTone * static_cast<double>(f) / outRate);
        worst = std::max({worst, std::abs(out[2 * f] - want), std::abs(out[2 * f + 1] - 0.25)});
    }
    EXPECT_LT(worst, 2e-3);
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerTest,
                         testing::Values(ResampleRow{44100, 48000}, ResampleRow{22050, 48000},
                                         ResampleRow{96000, 48000}, ResampleRow{8000, 48000},
                                         ResampleRow{192000, 48000}));

TEST(Resampler, FoldsAwayWhatTheLowerRateCannotCarry) {
    // 30 kHz at 96 kHz has no place at 48 kHz; it must not come back as a 18 kHz alias.
    constexpr int kIn = 96000;
    std::vector<float> in(kIn / 4);
    for (std::size_t f = 0; f < in.size(); ++f) {
        in[f] =
            static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 30000.0 * static_cast<double>(f) / kIn));
    }
    const std::vector<float> out = Resample(in.data(), in.size(), 1, kIn, kMixRate);
    double peak = 0;
    for (std::size_t f = out.size() / 10; f < out.size() * 9 / 10; ++f) {
        peak = std::max(peak, static_cast<double>(std::abs(out[f])));
    }
    EXPECT_LT(peak, 0.01);
}

// ---------------------------------------------------------------------------------------------------
// The player rendering into outputs in memory, on their own threads: the lock-free handover under
// load, and outputs that die.

class NullPlayerTest : public testing::Test {
  protected:
    // Options whose outputs are NullOutputs, kept in opened_ for the test to read and kill.
    DrumPlayerOptions Options(audio::NullOutput::Options output) {
        DrumPlayerOptions options{.retryInterval = std::chrono::milliseconds(20)};
        options.openOutput = [this, output](audio::RenderCallback render,
                                            audio::MidiCallback) -> std::unique_ptr<audio::AudioOutput> {
            auto made = std::make_unique<audio::NullOutput>(audio::OutputFormat{}, std::move(render), output);
            const std::lock_guard lock(mutex_);
            opened_.push_back(made.get());
            return made;
        };
        return options;
    }
    audio::NullOutput* Opened(std::size_t i) {
        const std::lock_guard lock(mutex_);
        return i < opened_.size() ? opened_[i] : nullptr;
    }

    // Polls `output` until its kept frames hold `value` on both channels for `frames` frames running.
    static bool WaitForSteady(audio::NullOutput& output, float value, std::size_t frames) {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::vector<float> kept = output.Kept();
            std::size_t run = 0;
            for (std::size_t f = 0; f + 1 < kept.size() / 2 + 1 && run < frames; ++f) {
                run = kept[2 * f] == value && kept[2 * f + 1] == value ? run + 1 : 0;
            }
            if (run >= frames) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    TempDir dir_;
    std::mutex mutex_;
    std::vector<audio::NullOutput*> opened_;  // owned by the player
};

TEST_F(NullPlayerTest, HitsHammeredWhileTheOutputRendersArriveWhole) {
    // Small blocks about three times faster than real time, so hits land in every phase of a block and
    // the 60 s kept cover well over ten seconds of hammering, sanitizers included.
    DrumPlayer player(
        Options({.blockFrames = 32, .keepFrames = kMixRate * 60, .period = std::chrono::microseconds(200)}));
    const std::vector<float> values{0.5f, -0.25f, 0.125f};
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < values.size(); ++i) {
        paths.push_back(WriteConstantWav(dir_ / ("v" + std::to_string(i) + ".wav"), values[i], 480).string());
    }
    const std::string last = WriteConstantWav(dir_ / "last.wav", 0.75f, kMixRate).string();
    // Faster than any drummer: the queue fills, and a hit it refuses is taken once the render thread
    // has caught up.
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    for (int hit = 0; hit < 4000; ++hit) {
        while (!player.Play(paths[static_cast<std::size_t>(hit) % paths.size()], 0)) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "hit " << hit << " never taken";
            std::this_thread::yield();
        }
    }
    ASSERT_TRUE(player.Play(last, 0));
    audio::NullOutput* output = Opened(0);
    ASSERT_NE(output, nullptr);
    ASSERT_TRUE(WaitForSteady(*output, 0.75f, 1000));

    // Every frame is silence, a clip's value, or a fade between them: within range, never torn
    // between the two channels (both carry the same clips).
    const std::vector<float> kept = output->Kept();
    for (std::size_t f = 0; f < kept.size() / 2; ++f) {
        ASSERT_TRUE(std::isfinite(kept[2 * f]) && std::abs(kept[2 * f]) <= 1.0f) << "frame " << f;
        ASSERT_EQ(kept[2 * f], kept[2 * f + 1]) << "frame " << f;
    }
}

TEST_F(NullPlayerTest, PreparedOutputOpensBeforeTheFirstHitAndADeadOneIsReplaced) {
    DrumPlayer player(
        Options({.blockFrames = 64, .keepFrames = kMixRate, .period = std::chrono::microseconds(500)}));
    player.Prepare();
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (Opened(0) == nullptr && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_NE(Opened(0), nullptr) << "Prepare() opens without a hit";
    const std::string a = WriteConstantWav(dir_ / "a.wav", 0.5f, kMixRate / 10).string();
    ASSERT_TRUE(player.Play(a, 0));
    EXPECT_TRUE(WaitForSteady(*Opened(0), 0.5f, 1000));

    Opened(0)->Kill();
    bool played = false;
    while (!played && std::chrono::steady_clock::now() < deadline) {
        played = player.Play(a, 0);
        if (!played) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ASSERT_TRUE(played);
    ASSERT_NE(Opened(1), nullptr);
    EXPECT_TRUE(WaitForSteady(*Opened(1), 0.5f, 1000)) << "the hit plays on the new output";
}

TEST_F(NullPlayerTest, NoOutputFailsQuietlyWithoutRetryingAtEveryHit) {
    std::atomic<int> attempts = 0;
    DrumPlayerOptions options{.retryInterval = std::chrono::seconds(60)};
    options.openOutput = [&attempts](audio::RenderCallback,
                                     audio::MidiCallback) -> std::unique_ptr<audio::AudioOutput> {
        ++attempts;
        return nullptr;
    };
    DrumPlayer player(options);
    const std::string a = WriteConstantWav(dir_ / "a.wav", 0.5f, 4800).string();
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(player.Play(a, 0));
    }
    EXPECT_EQ(attempts, 1) << "a hammered pad waits for the retry interval";
}

}  // namespace
}  // namespace zorvik::platform::samples
