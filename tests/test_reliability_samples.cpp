// Bad drum samples at the level the program plays them: SoundControl over the real SDL player, whose
// device is SDL's disk driver, so every buffer "heard" is read back and checked. A sample that cannot be
// played must give the default sound at once, and the pad after it must play its own sample. The
// decoder's and file checks' finer cases are in test_sample_player.cpp (WavRefusalTest, WavFileTest).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DefaultSound.h"
#include "DrumPlayer.h"
#include "ReliabilityRow.h"
#include "SoundControl.h"
#include "TestMedia.h"
#include "VoiceMixer.h"

namespace zorvik::reliability {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using platform::samples::kMixChannels;
using platform::samples::kMixRate;

constexpr auto kHeardDeadline = std::chrono::seconds(10);
// Far above what a hit costs (microseconds from the cache, a millisecond or two to decode): a hang guard.
constexpr auto kHitBound = std::chrono::milliseconds(500);
constexpr float kOwnLevel = 0.5f;
constexpr float kNextPadLevel = 0.25f;
constexpr std::size_t kOwnFrames = 4800;

using testmedia::kFmtBlockAlign;
using testmedia::kFmtChannels;
using testmedia::kFmtRate;
using testmedia::PatchWavFormat;
using testmedia::ReadBytes;
using testmedia::WriteBytes;

// A WAV holding `frames` frames of `value` on every channel, at the device rate unless told, so the
// device output is exactly `value` while it plays.
std::string ConstantWav(int format, float value, std::size_t frames, int channels = 2, int rate = kMixRate) {
    std::string bytes =
        testmedia::SoundBytes(format, channels, rate, frames, [value](int, std::size_t) { return value; });
    EXPECT_FALSE(bytes.empty()) << "libsndfile refused format " << format;
    return bytes;
}

std::string ImaWav() {
    return ConstantWav(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 0.3f, 4410, 1, 44100);
}
std::string MsWav() {
    return ConstantWav(SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 0.3f, 4410, 1, 44100);
}
std::string FloatWav() {
    return ConstantWav(SF_FORMAT_WAV | SF_FORMAT_FLOAT, kOwnLevel, kOwnFrames);
}

// The device's output, read back as it grows: the left channel of interleaved float stereo.
class DiskOutput {
  public:
    explicit DiskOutput(fs::path raw) : raw_(std::move(raw)) {}

    const std::vector<float>& Left() {
        std::ifstream in(raw_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(left_.size() * kFrameBytes));
        std::vector<char> chunk(1 << 16);
        while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
            pending_.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
        }
        const std::size_t frames = pending_.size() / kFrameBytes;
        for (std::size_t f = 0; f < frames; ++f) {
            float v;
            std::memcpy(&v, pending_.data() + f * kFrameBytes, sizeof v);
            left_.push_back(v);
        }
        pending_.erase(0, frames * kFrameBytes);
        return left_;
    }

    // Polls until `found` answers for the output from `from` on; the frame it names, or nothing.
    std::optional<std::size_t> WaitFor(
        std::size_t from,
        const std::function<std::optional<std::size_t>(const std::vector<float>&, std::size_t)>& found) {
        const auto deadline = Clock::now() + kHeardDeadline;
        while (true) {
            if (auto at = found(Left(), from)) {
                return at;
            }
            if (Clock::now() >= deadline) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

  private:
    static constexpr std::size_t kFrameBytes = sizeof(float) * kMixChannels;
    fs::path raw_;
    std::vector<float> left_;
    std::string pending_;
};

// `frames` frames of `value` from the first frame at or after `from` that has it; the frame after them.
std::optional<std::size_t> SteadyRun(const std::vector<float>& left, std::size_t from, float value,
                                     std::size_t frames) {
    for (std::size_t f = from; f < left.size(); ++f) {
        if (std::abs(left[f] - value) > 1e-6f) {
            continue;
        }
        std::size_t end = f;
        while (end < left.size() && std::abs(left[end] - value) <= 1e-6f) {
            ++end;
        }
        if (end - f >= frames) {
            return end;
        }
        f = end;
    }
    return std::nullopt;
}

class SampleReliability : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/zorvik-rel-samples-XXXXXX";
        s_folder = mkdtemp(pattern);
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", (s_folder / "device.raw").c_str(), 1);
        ::setenv("SDL_DISKAUDIODELAY", "1", 1);
        // Both suites here share these; each sets them up afresh.
        const platform::samples::StereoClip ding = platform::samples::MakeDefaultSound();
        s_ding.clear();
        s_dingLead = 0;
        for (std::size_t f = 0; f < ding.Frames(); ++f) {
            s_ding.push_back(ding.samples[f * kMixChannels]);
        }
        while (s_dingLead < s_ding.size() && s_ding[s_dingLead] == 0.0f) {
            ++s_dingLead;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }

    void SetUp() override {
        // Each test's player opens the device afresh, which starts the output file over; so does the kit.
        fs::remove(s_folder / "device.raw");
        sounds_ = s_folder / "Sounds";
        fs::remove_all(sounds_);
        fs::create_directories(sounds_);
        WriteBytes(sounds_ / "Snare.wav",
                   ConstantWav(SF_FORMAT_WAV | SF_FORMAT_FLOAT, kNextPadLevel, kOwnFrames));
    }

    // Plays `path` and returns the frame after the default sound, which must follow whole.
    std::optional<std::size_t> ExpectDefaultSound(const fs::path& path, ReliabilityRow& report) {
        const std::size_t from = output_.Left().size();
        PlayTimed(path, report);
        auto at = output_.WaitFor(
            from, [&](const std::vector<float>& left, std::size_t start) -> std::optional<std::size_t> {
                for (std::size_t f = start; f < left.size(); ++f) {
                    if (left[f] == 0.0f) {
                        continue;
                    }
                    if (left.size() < f - s_dingLead + s_ding.size()) {
                        return std::nullopt;
                    }
                    const std::size_t begin = f - s_dingLead;
                    for (std::size_t i = 0; i < s_ding.size(); ++i) {
                        if (std::abs(left[begin + i] - s_ding[i]) > 1e-6f) {
                            return std::nullopt;
                        }
                    }
                    return begin + s_ding.size();
                }
                return std::nullopt;
            });
        EXPECT_TRUE(at) << path << ": the default sound was not heard whole";
        return at;
    }

    // Plays `path` and waits for `frames` frames of `level`, the sample's own sound.
    void ExpectOwnSound(const fs::path& path, float level, std::size_t frames, ReliabilityRow& report) {
        const std::size_t from = output_.Left().size();
        PlayTimed(path, report);
        EXPECT_TRUE(
            output_.WaitFor(from, [&](const std::vector<float>& left,
                                      std::size_t start) { return SteadyRun(left, start, level, frames); }))
            << path << ": its own sound was not heard";
    }

    void PlayTimed(const fs::path& path, ReliabilityRow& report) {
        const auto start = Clock::now();
        EXPECT_TRUE(sound_.sndPlaySound(path.string(), SoundControl::SND_ASYNC)) << path;
        const auto took = Clock::now() - start;
        report.Worst(took);
        EXPECT_LT(took, kHitBound);
    }

    static inline fs::path s_folder;
    static inline std::vector<float> s_ding;
    static inline std::size_t s_dingLead = 0;
    fs::path sounds_;
    SoundControl sound_{[] { return platform::MakeDrumPlayer(); }};
    DiskOutput output_{s_folder / "device.raw"};
};

// --- The matrix ----------------------------------------------------------------------------------

struct SampleRow {
    const char* name;
    // Each variant's bytes, written as Sounds/Kick.wav; empty list: see `path`.
    std::vector<std::function<std::string()>> variants;
    // Rows that are not about the bytes: makes the path to play from the kit folder; empty path = skip.
    std::function<fs::path(const fs::path& sounds)> path;
    bool ownSound = false;  // plays (what is there of) its own audio instead of the default sound
};

fs::path UnreadableFile(const fs::path& sounds) {
    if (::geteuid() != 0) {
        const fs::path path = sounds / "Kick.wav";
        WriteBytes(path, FloatWav());
        ::chmod(path.c_str(), 0);
        return path;
    }
    // Root reads through permission bits, but not through a write-only kernel attribute: a regular file
    // of 4096 bytes whose open fails with "permission denied" even for root.
    for (const char* candidate : {"/sys/bus/pci/rescan", "/sys/class/zram-control/hot_remove"}) {
        struct stat info {};
        if (::stat(candidate, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0444) == 0) {
            return candidate;
        }
    }
    return {};
}

const SampleRow kSampleRows[] = {
    {"Missing", {}, [](const fs::path& s) { return s / "Kick.wav"; }},
    {"Empty", {[] { return std::string(); }}, {}},
    {"TruncatedHeader",
     {[] { return FloatWav().substr(0, 12); }, [] { return FloatWav().substr(0, 30); },
      [] { return FloatWav().substr(0, 44); }},
     {}},
    {"ZeroChannels",
     {[] { return PatchWavFormat(FloatWav(), kFmtChannels, 0, 2); },
      [] { return PatchWavFormat(ImaWav(), kFmtChannels, 0, 2); }},
     {}},
    {"RateZero",
     {[] { return PatchWavFormat(FloatWav(), kFmtRate, 0, 4); },
      [] { return PatchWavFormat(MsWav(), kFmtRate, 0, 4); }},
     {}},
    {"BadAdpcmBlockAlign",
     {[] { return PatchWavFormat(ImaWav(), kFmtBlockAlign, 0, 2); },
      [] { return PatchWavFormat(ImaWav(), kFmtBlockAlign, 1, 2); },
      [] { return PatchWavFormat(ImaWav(), kFmtBlockAlign, 0xFFFF, 2); },
      [] { return PatchWavFormat(MsWav(), kFmtBlockAlign, 0, 2); },
      [] { return PatchWavFormat(MsWav(), kFmtBlockAlign, 0xFFFF, 2); }},
     {}},
    {"RenamedNotWav",
     {[] { return std::string("kick=kick.wav\nsnare=snare.wav\n"); },
      [] { return ConstantWav(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 0.5f, 4800); },
      [] { return ConstantWav(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0.5f, 4800); },
      [] { return ConstantWav(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0.5f, 4800); }},
     {}},
    {"FolderNamedLikeASample",
     {},
     [](const fs::path& s) {
         fs::create_directory(s / "Kick.wav");
         return s / "Kick.wav";
     }},
    {"Sparse2GiB",
     {},
     [](const fs::path& s) {
         const fs::path path = s / "Kick.wav";
         WriteBytes(path, FloatWav());
         ::truncate(path.c_str(), off_t{2} << 30);
         return path;
     }},
    {"Unreadable", {}, UnreadableFile},
    // A data length of 0xFFFFFFFF (as a recorder that died before fixing its header leaves it): the audio
    // that is there plays.
    {"DataLengthFFFFFFFF",
     {[] {
         std::string bytes = FloatWav();
         testmedia::PutLittleEndian(bytes, testmedia::RiffChunk(bytes, "data").value() + 4, 0xFFFFFFFF, 4);
         return bytes;
     }},
     {},
     true},
    // Cut inside the audio: the part before the cut plays.
    {"TruncatedData", {[] { return FloatWav().substr(0, 44 + kOwnFrames * 8 * 3 / 4); }}, {}, true},
};

class SampleBadInput : public SampleReliability, public testing::WithParamInterface<SampleRow> {};

TEST_P(SampleBadInput, DefaultSoundAtOnceAndTheNextPadPlays) {
    const SampleRow& row = GetParam();
    ReliabilityRow report(std::string("sample: ") + row.name,
                          row.ownSound ? "plays the audio that is there; Play < 0.5 s"
                                       : "default sound; Play < 0.5 s; next pad plays");
    std::vector<fs::path> paths;
    if (row.path) {
        paths.push_back(row.path(sounds_));
        if (paths.back().empty()) {
            GTEST_SKIP() << "cannot be set up here";
        }
    }
    for (const auto& make : row.variants) {
        const fs::path path = sounds_ / ("Kick " + std::to_string(paths.size()) + ".wav");
        WriteBytes(path, make());
        paths.push_back(path);
    }
    for (const fs::path& path : paths) {
        SCOPED_TRACE(path);
        report.AddCase();
        if (row.ownSound) {
            // The cut variant holds three quarters of the frames; ask for a little less than that.
            ExpectOwnSound(path, kOwnLevel, kOwnFrames / 2, report);
        } else {
            ExpectDefaultSound(path, report);
        }
        ExpectOwnSound(sounds_ / "Snare.wav", kNextPadLevel, kOwnFrames - 100, report);
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, SampleBadInput, testing::ValuesIn(kSampleRows),
                         [](const auto& row) { return std::string(row.param.name); });

// --- The kit changing under a running program ----------------------------------------------------

TEST_F(SampleReliability, TheSoundsFolderRemovedWhileRunningGivesTheDefaultSound) {
    ReliabilityRow report("fault: Sounds folder removed while running",
                          "default sound; own sound once restored");
    const std::string kick = FloatWav();
    WriteBytes(sounds_ / "Kick.wav", kick);
    for (int round = 0; round < 3; ++round) {
        report.AddCase();
        ExpectOwnSound(sounds_ / "Kick.wav", kOwnLevel, kOwnFrames - 100, report);
        fs::remove_all(sounds_);
        ExpectDefaultSound(sounds_ / "Kick.wav", report);
        ExpectDefaultSound(sounds_ / "Snare.wav", report);
        fs::create_directories(sounds_);
        WriteBytes(sounds_ / "Kick.wav", kick);
    }
}

// --- A device that will not open -----------------------------------------------------------------

// The disk driver opens its output file for writing, and opening a FIFO for writing blocks until a reader
// comes: a device opening that hangs, as a stuck sound server would make it.
TEST(SampleDeviceFaults, AHangingReopeningNeverHoldsUpAHit) {
    ReliabilityRow report("fault: device reopening hangs",
                          "every Play returns within 0.5 s; plays once it opens");
    char pattern[] = "/tmp/zorvik-rel-device-XXXXXX";
    const fs::path folder = mkdtemp(pattern);
    const fs::path fifo = folder / "device.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path sample = folder / "Kick.wav";
    WriteBytes(sample, FloatWav());

    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    auto sound = std::make_unique<SoundControl>([] {
        return std::make_unique<platform::samples::DrumPlayer>(
            platform::samples::DrumPlayerOptions{.retryInterval = std::chrono::milliseconds(20)});
    });
    EXPECT_FALSE(sound->sndPlaySound(sample.string(), SoundControl::SND_ASYNC));

    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", fifo.c_str(), 1);
    Clock::duration worst{};
    auto hit = [&] {
        report.AddCase();
        const auto start = Clock::now();
        const bool played = sound->sndPlaySound(sample.string(), SoundControl::SND_ASYNC);
        worst = std::max(worst, Clock::now() - start);
        return played;
    };
    // Long enough for several retry intervals: each hit must come back while the opening hangs.
    for (const auto end = Clock::now() + std::chrono::milliseconds(300); Clock::now() < end;) {
        EXPECT_FALSE(hit());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_LT(worst, kHitBound);

    // A reader unblocks the opening; from then on the device takes what the mixer renders.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::atomic<bool> draining{true};
    std::thread drain([&] {
        char buffer[65536];
        while (draining) {
            if (::read(reader, buffer, sizeof buffer) <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    bool played = false;
    for (const auto end = Clock::now() + kHeardDeadline; !played && Clock::now() < end;) {
        played = hit();
        if (!played) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    EXPECT_TRUE(played) << "the device never opened";
    report.Worst(worst);
    EXPECT_LT(worst, kHitBound);
    // The player closes its device before the drain stops, so the writer never blocks on a full pipe.
    sound.reset();
    draining = false;
    drain.join();
    ::close(reader);
    fs::remove_all(folder);
}

// Quitting while the device's opening hangs: the player goes at once; the opening, once a reader lets
// it finish, closes by itself what it opened.
TEST(SampleDeviceFaults, QuittingWhileTheDeviceOpeningHangsTakesNoTime) {
    ReliabilityRow report("fault: quit while the device opening hangs", "the player is gone within 1 s");
    char pattern[] = "/tmp/zorvik-rel-quit-XXXXXX";
    const fs::path folder = mkdtemp(pattern);
    const fs::path fifo = folder / "device.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", fifo.c_str(), 1);
    auto player = std::make_unique<platform::samples::DrumPlayer>();
    player->Prepare();
    report.AddCase();
    const auto start = Clock::now();
    player.reset();
    report.Worst(Clock::now() - start);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    // Read to the end: the device's close, by the opening's own thread, ends the file.
    const int reader = ::open(fifo.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    char buffer[65536];
    while (::read(reader, buffer, sizeof buffer) > 0) {
    }
    ::close(reader);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace zorvik::reliability
