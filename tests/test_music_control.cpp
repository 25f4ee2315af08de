// The playback engine's algorithms against a graph double.

#include <gtest/gtest.h>

#include "FakeGraph.h"
#include "MusicControl.h"

namespace zorvik {
namespace {

using test::GraphWorld;

class MusicControlTest : public ::testing::Test {
  protected:
    GraphWorld world;
    MusicControl music{world.Factory()};

    void LoadAndClearLog(const std::string& name = "song.mp3") {
        ASSERT_EQ(music.LoadMusic(name), kTrue);
        world.log.clear();
    }
};

TEST_F(MusicControlTest, WithNoGraphCloseSpeedAndVolumeSucceedWhilePlayAndStopFailAndNothingIsCalled) {
    EXPECT_EQ(music.CloseMusic(), kTrue);
    EXPECT_EQ(music.CloseMusic(), kTrue);
    EXPECT_EQ(music.PlayMusic(), kFalse);
    EXPECT_EQ(music.StopMusic(), kFalse);
    EXPECT_EQ(music.SetMusicSpeed(1.5f), kTrue);
    EXPECT_EQ(music.SetMusicVolume(-50), kTrue);
    EXPECT_TRUE(world.log.empty()) << world.Joined();
    // Nothing was remembered: a load starts at normal rate and full volume.
    EXPECT_EQ(music.LoadMusic("a.mp3"), kTrue);
    EXPECT_EQ(world.Joined(),
              "create#1 RenderFile#1(a.mp3) put_Volume#1(0) put_Balance#1(0) put_Rate#1(1) "
              "put_CurrentPosition#1(0)");
}

struct VolumeRow {
    std::int32_t level;
    VbBool result;
    const char* sent;  // the call the graph sees, or "" for none
};

class VolumeTest : public MusicControlTest, public ::testing::WithParamInterface<VolumeRow> {};

TEST_P(VolumeTest, LevelTimesFortyIn32BitArithmetic) {
    LoadAndClearLog();
    EXPECT_EQ(music.SetMusicVolume(GetParam().level), GetParam().result);
    EXPECT_EQ(world.Joined(), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Rows, VolumeTest,
                         ::testing::Values(VolumeRow{-100, kTrue, "put_Volume#1(-4000)"},
                                           VolumeRow{-50, kTrue, "put_Volume#1(-2000)"},
                                           VolumeRow{0, kTrue, "put_Volume#1(0)"},
                                           VolumeRow{-1, kTrue, "put_Volume#1(-40)"},
                                           VolumeRow{53687091, kTrue, "put_Volume#1(2147483640)"},
                                           VolumeRow{-53687091, kTrue, "put_Volume#1(-2147483640)"},
                                           VolumeRow{53687092, kFalse, ""}, VolumeRow{-53687092, kFalse, ""},
                                           VolumeRow{INT32_MAX, kFalse, ""},
                                           VolumeRow{INT32_MIN, kFalse, ""}));

TEST_F(MusicControlTest, TheSingleRateIsWidenedExactly) {
    LoadAndClearLog();
    EXPECT_EQ(music.SetMusicSpeed(1.33f), kTrue);
    EXPECT_EQ(world.Joined(), "put_Rate#1(1.33000004291534423828125)");
}

TEST_F(MusicControlTest, ARefusedRateOrVolumeAnswersFalse) {
    LoadAndClearLog();
    world.failing = {"put_Rate", "put_Volume"};
    EXPECT_EQ(music.SetMusicSpeed(0.5f), kFalse);
    EXPECT_EQ(music.SetMusicVolume(-10), kFalse);
}

TEST_F(MusicControlTest, AFailingStopKeepsEveryReferenceAndTheNextLoadBuildsNothing) {
    LoadAndClearLog();
    world.failing = {"Stop"};
    EXPECT_EQ(music.CloseMusic(), kFalse);
    EXPECT_EQ(music.LoadMusic("b.mp3"), kFalse);
    EXPECT_EQ(world.Joined(), "Stop#1 Stop#1");
    EXPECT_EQ(world.alive, 1);
    // The old graph is still the current one and still answers.
    world.failing.clear();
    world.log.clear();
    EXPECT_EQ(music.PlayMusic(), kTrue);
    EXPECT_EQ(music.SetMusicVolume(-1), kTrue);
    EXPECT_EQ(world.Joined(), "Run#1 put_Volume#1(-40)");
}

TEST_F(MusicControlTest, ASecondLoadWhilePlayingStopsAndReleasesTheFirstBeforeRenderingAndDoesNotStart) {
    LoadAndClearLog("first.mp3");
    ASSERT_EQ(music.PlayMusic(), kTrue);
    world.log.clear();
    EXPECT_EQ(music.LoadMusic("second.mp3"), kTrue);
    EXPECT_EQ(
        world.Joined(),
        "Stop#1 release#1 create#2 RenderFile#2(second.mp3) put_Volume#2(0) put_Balance#2(0) put_Rate#2(1) "
        "put_CurrentPosition#2(0)");
    EXPECT_EQ(world.alive, 1);
}

TEST_F(MusicControlTest, CloseStopsThenReleasesOnce) {
    LoadAndClearLog();
    EXPECT_EQ(music.CloseMusic(), kTrue);
    EXPECT_EQ(music.CloseMusic(), kTrue);
    EXPECT_EQ(world.Joined(), "Stop#1 release#1");
    EXPECT_EQ(world.alive, 0);
}

TEST_F(MusicControlTest, StopRewindsAndKeepsRateAndVolume) {
    LoadAndClearLog();
    ASSERT_EQ(music.SetMusicSpeed(0.5f), kTrue);
    ASSERT_EQ(music.PlayMusic(), kTrue);
    EXPECT_EQ(music.StopMusic(), kTrue);
    EXPECT_EQ(world.Joined(), "put_Rate#1(0.5) Run#1 Stop#1 put_CurrentPosition#1(0)");
}

TEST_F(MusicControlTest, AFailingStopIsNotRewound) {
    LoadAndClearLog();
    world.failing = {"Stop"};
    EXPECT_EQ(music.StopMusic(), kFalse);
    EXPECT_EQ(world.Joined(), "Stop#1");
}

struct LoadRow {
    const char* failing;
    VbBool result;
    const char* log;
};

class LoadStepTest : public MusicControlTest, public ::testing::WithParamInterface<LoadRow> {};

// A failing step is skipped and the ones after it still run. A file that was not rendered answers False
// (the empty graph stays in place) so that the user can be told.
TEST_P(LoadStepTest, FailingStepsAreSkipped) {
    world.failing = {GetParam().failing};
    EXPECT_EQ(music.LoadMusic("x.mp3"), GetParam().result);
    EXPECT_EQ(world.Joined(), GetParam().log);
    EXPECT_EQ(world.alive, 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, LoadStepTest,
                         ::testing::Values(LoadRow{"RenderFile", kFalse,
                                                   "create#1 RenderFile#1(x.mp3) put_Volume#1(0) "
                                                   "put_Balance#1(0) put_Rate#1(1) put_CurrentPosition#1(0)"},
                                           LoadRow{"put_Volume", kTrue,
                                                   "create#1 RenderFile#1(x.mp3) put_Volume#1(0) "
                                                   "put_Balance#1(0) put_Rate#1(1) put_CurrentPosition#1(0)"},
                                           LoadRow{"put_Balance", kTrue,
                                                   "create#1 RenderFile#1(x.mp3) put_Volume#1(0) "
                                                   "put_Balance#1(0) put_Rate#1(1) put_CurrentPosition#1(0)"},
                                           LoadRow{
                                               "put_Rate", kTrue,
                                               "create#1 RenderFile#1(x.mp3) put_Volume#1(0) "
                                               "put_Balance#1(0) put_Rate#1(1) put_CurrentPosition#1(0)"}));

TEST_F(MusicControlTest, AnUnrenderedLoadSaysWhyAndTheEmptyGraphStays) {
    world.failing = {"RenderFile"};
    EXPECT_EQ(music.LoadMusic("*.MP3"), kFalse);
    EXPECT_EQ(music.LoadErrorText(), "the fake graph refused it");
    world.log.clear();
    world.failing.clear();
    EXPECT_EQ(music.PlayMusic(), kTrue);
    EXPECT_EQ(world.Joined(), "Run#1");
}

TEST_F(MusicControlTest, AGraphThatCannotBeCreatedLeavesTheEngineEmpty) {
    world.failCreate = true;
    EXPECT_EQ(music.LoadMusic("x.mp3"), kFalse);
    EXPECT_FALSE(music.LoadErrorText().empty());
    EXPECT_EQ(music.PlayMusic(), kFalse);
    EXPECT_EQ(music.SetMusicVolume(-3), kTrue);
    EXPECT_TRUE(world.log.empty());
}

}  // namespace
}  // namespace zorvik
