// The program started where no sound output exists: ctest runs this with PULSE_SERVER pointing at a socket
// that is not there and an empty ALSA configuration (so no card either). The drums must stay silent and
// answer at once, and loading music must say what is wrong instead of "playing" into nothing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "AlsaSeqInput.h"
#include "DrumPlayer.h"
#include "ErrorText.h"
#include "GstGraph.h"
#include "MusicControl.h"
#include "ReliabilityMedia.h"
#include "ReliabilityRow.h"
#include "SoundControl.h"

namespace zorvik::reliability {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::HasSubstr;

// Hang guards, not performance limits: the figures go to the table.
constexpr auto kHitBound = std::chrono::seconds(2);
constexpr auto kLoadBound = std::chrono::seconds(6);

class NoServer : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_folder = MakeMediaFolder("noserver");
        MakeTone(s_folder / "song.ogg", kOggEncoder, 1.0);
        MakeTone(s_folder / "Kick.wav", kWavEncoder, 0.2);
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }
    static inline fs::path s_folder;
};

TEST_F(NoServer, DrumHitsAreSilentAndQuick) {
    ReliabilityRow report("fault: no sound server, drum hits", "Play false within 2 s, no crash");
    SoundControl sound([] { return platform::MakeDrumPlayer(); });
    Clock::duration worst{};
    // Hits spread over more than one retry interval, so failed reopenings are exercised too.
    for (const auto end = Clock::now() + std::chrono::milliseconds(1200); Clock::now() < end;) {
        report.AddCase();
        const auto start = Clock::now();
        EXPECT_FALSE(sound.sndPlaySound((s_folder / "Kick.wav").string(), SoundControl::SND_ASYNC));
        const auto took = Clock::now() - start;
        worst = std::max(worst, took);
        EXPECT_LT(took, kHitBound);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    report.Worst(worst);
}

// No sequencer either: no MIDI input opens, and nothing else changes.
TEST_F(NoServer, NoSequencerMeansNoMidiInput) {
    EXPECT_EQ(platform::midi::AlsaSeqInput::Open("Zorvik", [](const std::uint8_t*, std::size_t) {}), nullptr);
}

TEST_F(NoServer, LoadingMusicSaysThereIsNoSoundOutput) {
    ReliabilityRow report("fault: no sound server, music load",
                          "LoadMusic False + \"No sound output\" within 6 s");
    MusicControl music([] { return MakeGstGraph(); });
    for (int i = 0; i < 3; ++i) {
        report.AddCase();
        const auto start = Clock::now();
        EXPECT_EQ(music.LoadMusic(s_folder / "song.ogg"), kFalse);
        const auto took = Clock::now() - start;
        report.Worst(took);
        EXPECT_LT(took, kLoadBound);
        EXPECT_THAT(music.LoadErrorText(), HasSubstr(platform::gst::kNoSoundOutputText));
        EXPECT_EQ(music.PlayMusic(), kFalse);
    }
    // A bad file still gets its own reason, not the output's.
    EXPECT_EQ(music.LoadMusic(s_folder / "missing.mp3"), kFalse);
    EXPECT_THAT(music.LoadErrorText(), HasSubstr("does not exist"));
}

}  // namespace
}  // namespace zorvik::reliability
