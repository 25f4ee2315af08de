// The speed slider dragged back and forth for a minute while a song plays: a new rate every 100 ms, as
// MSpeed_Scroll sends them, into the real graph with a clock-paced sink. Every change must return, the
// music must keep moving, and the process must hold no more files, threads or memory afterwards.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "GstGraph.h"
#include "MusicControl.h"
#include "ProcessStats.h"
#include "ReliabilityMedia.h"
#include "ReliabilityRow.h"

namespace zorvik::reliability {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kStep = std::chrono::milliseconds(100);
constexpr auto kWarmUp = std::chrono::seconds(5);
// One rate change flushes and seeks; a second is already an eternity on the GUI thread.
constexpr auto kCallBound = std::chrono::seconds(1);
constexpr long kRssBoundKiB = 2048;

std::chrono::seconds StressLength() {
    const char* seconds = std::getenv("ZORVIK_SPEED_STRESS_SECONDS");
    return std::chrono::seconds(seconds ? std::atoi(seconds) : 60);
}

// The slider's values (50..150) swept up and down, so every step is a real change.
float RateAt(int step) {
    const int phase = step % 200;
    const int value = 50 + (phase < 100 ? phase : 200 - phase);
    return static_cast<float>(value / 100.0);
}

TEST(SpeedStress, ARateChangeEvery100msForAMinuteNeitherStallsNorGrows) {
    const fs::path folder = MakeMediaFolder("speed");
    const fs::path song = folder / "long song.wav";
    // Long enough that even at 1.5x it does not end within the test.
    MakeTone(song, kWavEncoder, StressLength().count() * 1.6 + 20, 22050);

    MusicControl music([] { return MakeGstGraph({.makeAudioSink = [] { return MakeCountingSink(true); }}); });
    ASSERT_EQ(music.LoadMusic(song), kTrue) << music.LoadErrorText();
    ASSERT_EQ(music.PlayMusic(), kTrue);
    ASSERT_TRUE(WaitForAudioAbove(g_bytesHeard.load(), std::chrono::seconds(10)));

    ReliabilityRow report(
        "music: speed change every 100 ms for " + std::to_string(StressLength().count()) + " s",
        "each change < 1 s; files, threads flat; RSS < 2 MB growth");
    int step = 0;
    Clock::duration worst{};
    auto changeFor = [&](Clock::duration length) {
        auto tick = Clock::now();
        const auto end = tick + length;
        std::uint64_t heardAtLastCheck = g_bytesHeard.load();
        auto nextCheck = tick + std::chrono::seconds(5);
        while (tick < end) {
            const auto start = Clock::now();
            ASSERT_EQ(music.SetMusicSpeed(RateAt(step++)), kTrue);
            worst = std::max(worst, Clock::now() - start);
            report.AddCase();
            if (Clock::now() >= nextCheck) {
                // The sink takes music at the clock's pace; no progress in 5 s is a stall.
                ASSERT_GT(g_bytesHeard.load(), heardAtLastCheck)
                    << "the music stopped moving at step " << step;
                heardAtLastCheck = g_bytesHeard.load();
                nextCheck += std::chrono::seconds(5);
            }
            tick += kStep;
            std::this_thread::sleep_until(tick);
        }
    };
    changeFor(kWarmUp);
    const ProcessStats before = ReadProcessStats();
    changeFor(StressLength());
    report.Worst(worst);
    EXPECT_LT(worst, kCallBound);

    // Worker threads wind down a moment after the last flush; poll rather than sample once.
    ProcessStats after = ReadProcessStats();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while ((after.files > before.files || after.threads > before.threads) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        after = ReadProcessStats();
    }
    EXPECT_LE(after.files, before.files);
    EXPECT_LE(after.threads, before.threads);
    char figures[160];
    std::snprintf(figures, sizeof figures, "worst %.1f ms; RSS %+ld KiB, files %zu->%zu, threads %zu->%zu",
                  std::chrono::duration<double, std::milli>(worst).count(), after.rssKiB - before.rssKiB,
                  before.files, after.files, before.threads, after.threads);
    report.Measured(figures);
#if ZORVIK_RSS_MEANINGFUL
    EXPECT_LT(after.rssKiB - before.rssKiB, kRssBoundKiB);
#endif
    EXPECT_EQ(music.CloseMusic(), kTrue);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace zorvik::reliability
