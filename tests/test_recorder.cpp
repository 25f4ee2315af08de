// The recorder's engine: what ends up in the file, how recordings are named and kept, and how it
// behaves without a sound server. The window is covered in test_recorder_window.cpp.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "Capture.h"
#include "CommandLine.h"
#include "Display.h"
#include "PulseMonitor.h"
#include "RecorderFeed.h"
#include "Takes.h"

namespace zorvik::recorder {
namespace {

using testing::Constant;
using testing::Feed;
using testing::Ramp;

struct Wav {
    SF_INFO info{};
    std::vector<float> samples;
};

Wav ReadWav(const QString& path) {
    Wav wav;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &wav.info);
    if (file == nullptr) {
        ADD_FAILURE() << "cannot read " << path.toStdString() << ": " << sf_strerror(nullptr);
        return wav;
    }
    wav.samples.resize(static_cast<std::size_t>(wav.info.frames * wav.info.channels));
    sf_readf_float(file, wav.samples.data(), wav.info.frames);
    sf_close(file);
    return wav;
}

// 16-bit samples: a little over one step.
constexpr float kQuantum = 1.0f / 16384;

void ExpectSamples(const std::vector<float>& expected, const std::vector<float>& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NEAR(expected[i], actual[i], kQuantum) << "sample " << i;
    }
}

std::string Local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// --- Capture: the file holds exactly the sound delivered ---------------------------------------------

struct LimitCase {
    const char* name;
    std::vector<int> blocks;  // frames per delivered block
    std::int64_t limit;       // 0: until stopped
    std::int64_t expected;
};

class CaptureLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(CaptureLimit, FileHoldsTheDeliveredFramesUpToTheLimit) {
    const LimitCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    Feed feed;
    Capture capture(feed.Factory());
    std::string error;
    ASSERT_TRUE(capture.Start(Local(path), c.limit, error)) << error;

    std::vector<float> delivered;
    int at = 0;
    for (const int frames : c.blocks) {
        std::vector<float> block = Ramp(frames, at);
        at += frames;
        delivered.insert(delivered.end(), block.begin(), block.end());
        feed.Push(std::move(block));
    }
    if (c.limit > 0) {
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return capture.CurrentState() == Capture::State::Complete; }, 5000));
    } else {
        EXPECT_TRUE(QTest::qWaitFor([&] { return capture.Frames() == c.expected; }, 5000));
    }
    ASSERT_TRUE(capture.Stop(error)) << error;
    EXPECT_EQ(capture.CurrentState(), Capture::State::Idle);
    EXPECT_EQ(capture.Frames(), c.expected);

    const Wav wav = ReadWav(path);
    EXPECT_EQ(wav.info.samplerate, 48000);
    EXPECT_EQ(wav.info.channels, 2);
    EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    delivered.resize(static_cast<std::size_t>(c.expected) * kChannels);
    ExpectSamples(delivered, wav.samples);
}

INSTANTIATE_TEST_SUITE_P(Blocks, CaptureLimit,
                         ::testing::Values(LimitCase{"UntilStopped", {960, 480, 1}, 0, 1441},
                                           LimitCase{"LimitInsideABlock", {960, 960, 960}, 1500, 1500},
                                           LimitCase{"LimitOnABlockEdge", {960, 960, 960}, 1920, 1920},
                                           LimitCase{"LimitInTheFirstBlock", {4800}, 10, 10},
                                           LimitCase{
                                               "EmptyBlocksInBetween", {0, 960, 0, 0, 960}, 1920, 1920}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(Capture, FileIsPlayableWhileStillRecording) {
    // A recorder that is killed or crashes leaves its part file behind; it must still play.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    Feed feed;
    Capture capture(feed.Factory());
    std::string error;
    ASSERT_TRUE(capture.Start(Local(path), 0, error));
    feed.Push(Ramp(4800));
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.Frames() == 4800; }, 5000));

    const Wav wav = ReadWav(path);
    EXPECT_EQ(wav.info.frames, 4800);
    ExpectSamples(Ramp(4800), wav.samples);
    capture.Stop(error);
}

TEST(Capture, PeakIsTheLoudestSampleSinceItWasLastTaken) {
    QTemporaryDir dir;
    Feed feed;
    Capture capture(feed.Factory());
    std::string error;
    ASSERT_TRUE(capture.Start(Local(dir.filePath(QStringLiteral("take.wav"))), 0, error));
    std::vector<float> loud = Constant(100, 0.1f);
    loud[51] = -0.75f;  // the right channel, negative: the peak is of magnitudes, on every channel
    feed.Push(loud);
    feed.Push(Constant(100, 0.25f));
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.Frames() == 200; }, 5000));
    EXPECT_FLOAT_EQ(capture.TakePeak(), 0.75f);
    EXPECT_EQ(capture.TakePeak(), 0.0f);
    feed.Push(Constant(100, 0.5f));
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.Frames() == 300; }, 5000));
    EXPECT_FLOAT_EQ(capture.TakePeak(), 0.5f);
    capture.Stop(error);
}

TEST(Capture, LoudSoundIsClippedNotWrappedAround) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    Feed feed;
    Capture capture(feed.Factory());
    std::string error;
    ASSERT_TRUE(capture.Start(Local(path), 100, error));
    feed.Push(Constant(100, 1.5f));
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.CurrentState() == Capture::State::Complete; }, 5000));
    capture.Stop(error);
    for (const float s : ReadWav(path).samples) {
        ASSERT_GT(s, 0.99f);
    }
}

TEST(Capture, NoSourceFailsWithItsReasonAndAnEmptyFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    Feed feed;
    feed.RefuseToOpen("No sound server is running.");
    Capture capture(feed.Factory());
    std::string error;
    ASSERT_TRUE(capture.Start(Local(path), 0, error));
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.CurrentState() == Capture::State::Failed; }, 5000));
    EXPECT_EQ(capture.Error(), "No sound server is running.");
    EXPECT_TRUE(capture.Stop(error)) << error;
    EXPECT_EQ(ReadWav(path).info.frames, 0);
}

TEST(Capture, StopWhileConnectingTellsTheSourceToGiveUp) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    // A server that takes its time: the opening waits until it is told to stop (or far longer than any
    // test would wait for a Stop that joins it).
    std::atomic<bool> connecting{false};
    std::atomic<bool> toldToStop{false};
    Capture capture([&](const std::atomic<bool>& stop, std::string& error) -> std::unique_ptr<AudioSource> {
        connecting = true;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!stop.load() && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        toldToStop = stop.load();
        error = "stopped";
        return nullptr;
    });
    std::string error;
    ASSERT_TRUE(capture.Start(Local(path), 0, error));
    ASSERT_TRUE(QTest::qWaitFor([&] { return connecting.load(); }, 5000));
    EXPECT_TRUE(capture.Stop(error)) << error;
    EXPECT_TRUE(toldToStop);
    EXPECT_EQ(capture.CurrentState(), Capture::State::Idle);
    EXPECT_TRUE(capture.Error().empty()) << "a stop is not a failure: " << capture.Error();
    EXPECT_EQ(ReadWav(path).info.frames, 0);
}

TEST(Capture, SourceFailingMidwayKeepsWhatCameBefore) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    Feed feed;
    Capture capture(feed.Factory());
    std::string error;
    ASSERT_TRUE(capture.Start(Local(path), 0, error));
    feed.Push(Ramp(2000));
    feed.FailWith("The sound server went away.");
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.CurrentState() == Capture::State::Failed; }, 5000));
    EXPECT_EQ(capture.Error(), "The sound server went away.");
    EXPECT_TRUE(capture.Stop(error)) << error;
    ExpectSamples(Ramp(2000), ReadWav(path).samples);
}

TEST(Capture, StopsWithAMessageBeforeTheFileOutgrowsWav) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    Feed feed;
    Capture capture(feed.Factory(), 1000);
    std::string error;
    ASSERT_TRUE(capture.Start(Local(path), 0, error));
    feed.Push(Ramp(600));
    feed.Push(Ramp(600, 600));
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.CurrentState() == Capture::State::Failed; }, 5000));
    EXPECT_NE(capture.Error().find("six hours"), std::string::npos) << capture.Error();
    EXPECT_TRUE(capture.Stop(error)) << error;
    ExpectSamples(Ramp(1000), ReadWav(path).samples);
}

TEST(Capture, UnwritablePlaceIsRefusedUpFront) {
    Feed feed;
    Capture capture(feed.Factory());
    std::string error;
    EXPECT_FALSE(capture.Start("/nonexistent-folder/take.wav", 0, error));
    EXPECT_NE(error.find("/nonexistent-folder/take.wav"), std::string::npos) << error;
    EXPECT_EQ(capture.CurrentState(), Capture::State::Idle);
}

// --- Names and keeping ------------------------------------------------------------------------------

TEST(Takes, DatedNameSortsByTimeAndAvoidsColons) {
    EXPECT_EQ(DatedName(QDateTime(QDate(2026, 12, 8), QTime(16, 30, 5))),
              QStringLiteral("Zorvik 2026-12-08 16-30-05.wav"));
    EXPECT_EQ(DatedName(QDateTime(QDate(2027, 1, 2), QTime(3, 4, 5))),
              QStringLiteral("Zorvik 2027-01-02 03-04-05.wav"));
}

TEST(Takes, PartFilesAreSeparateAndBesideTheirFinalPlace) {
    const mode_t savedMask = umask(022);
    QTemporaryDir dir;
    const QString wanted = dir.filePath(QStringLiteral("Zorvik 2026-12-08 16-30-05.wav"));
    QString error;
    const PartFile first = CreatePartFile(wanted, error);
    const PartFile second = CreatePartFile(wanted, error);
    const QString &a = first.path, &b = second.path;
    ASSERT_FALSE(a.isEmpty()) << error.toStdString();
    ASSERT_FALSE(b.isEmpty()) << error.toStdString();
    EXPECT_NE(a, b);
    ::close(first.fd);
    ::close(second.fd);
    for (const QString& part : {a, b}) {
        EXPECT_TRUE(QFileInfo::exists(part));
        EXPECT_EQ(QFileInfo(part).dir(), QDir(dir.path()));
        EXPECT_TRUE(
            QFileInfo(part).fileName().startsWith(QStringLiteral("Zorvik 2026-12-08 16-30-05 (recording ")));
        EXPECT_TRUE(part.endsWith(QStringLiteral(".wav")));
        // What the umask allows, like any file the user makes: others may read the recording.
        EXPECT_TRUE(QFileInfo(part).permissions() & QFileDevice::ReadOther);
    }
    umask(savedMask);
}

TEST(Takes, PartFileInAMissingFolderSaysWhere) {
    QString error;
    const PartFile part = CreatePartFile(QStringLiteral("/nonexistent-folder/x.wav"), error);
    EXPECT_TRUE(part.path.isEmpty());
    EXPECT_LT(part.fd, 0);
    EXPECT_TRUE(error.contains(QStringLiteral("/nonexistent-folder"))) << error.toStdString();
}

void WriteText(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The part file's name taken over between its creation and the recording (another user's link in a
// shared folder, a FIFO): the recording still goes into the file that was created, and what the name
// now points to is left alone.
TEST(Takes, ARecordingGoesIntoItsPartFileWhateverTakesItsName) {
    QTemporaryDir dir;
    QString error;
    const PartFile part = CreatePartFile(dir.filePath(QStringLiteral("take.wav")), error);
    ASSERT_GE(part.fd, 0) << error.toStdString();
    const QString moved = dir.filePath(QStringLiteral("moved.wav"));
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    ASSERT_TRUE(QFile::rename(part.path, moved));
    WriteText(victim, "not a recording");
    ASSERT_TRUE(QFile::link(victim, part.path));

    Feed feed;
    Capture capture(feed.Factory());
    std::string problem;
    ASSERT_TRUE(capture.Start(part.fd, Local(part.path), 0, problem)) << problem;
    feed.Push(Ramp(480));
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.Frames() == 480; }, 5000));
    ASSERT_TRUE(capture.Stop(problem)) << problem;
    ExpectSamples(Ramp(480), ReadWav(moved).samples);
    EXPECT_EQ(ReadText(victim), QByteArray("not a recording"));
}

struct KeepCase {
    const char* name;
    QStringList existing;
    QString expected;
};

class KeepUnderFreeNameTest : public ::testing::TestWithParam<KeepCase> {};

TEST_P(KeepUnderFreeNameTest, NeverReplacesAnotherRecording) {
    const KeepCase& c = GetParam();
    QTemporaryDir dir;
    for (const QString& name : c.existing) {
        WriteText(dir.filePath(name), name.toUtf8());
    }
    const QString part = dir.filePath(QStringLiteral("part.wav"));
    WriteText(part, "new");

    QString error;
    const QString kept = KeepUnderFreeName(part, dir.filePath(QStringLiteral("Take.wav")), error);
    EXPECT_EQ(kept, dir.filePath(c.expected)) << error.toStdString();
    EXPECT_EQ(ReadText(kept), "new");
    EXPECT_FALSE(QFileInfo::exists(part));
    for (const QString& name : c.existing) {
        EXPECT_EQ(ReadText(dir.filePath(name)), name.toUtf8());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, KeepUnderFreeNameTest,
    ::testing::Values(KeepCase{"Free", {}, QStringLiteral("Take.wav")},
                      KeepCase{"Taken", {QStringLiteral("Take.wav")}, QStringLiteral("Take (2).wav")},
                      KeepCase{"TakenTwice",
                               {QStringLiteral("Take.wav"), QStringLiteral("Take (2).wav")},
                               QStringLiteral("Take (3).wav")},
                      KeepCase{"GapIsUsed",
                               {QStringLiteral("Take.wav"), QStringLiteral("Take (3).wav")},
                               QStringLiteral("Take (2).wav")}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Takes, KeepingIntoAMissingFolderLeavesThePartFile) {
    QTemporaryDir dir;
    const QString part = dir.filePath(QStringLiteral("part.wav"));
    WriteText(part, "new");
    QString error;
    EXPECT_TRUE(KeepUnderFreeName(part, dir.filePath(QStringLiteral("gone/Take.wav")), error).isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("part.wav"))) << error.toStdString();
    EXPECT_EQ(ReadText(part), "new");
}

TEST(Takes, MoveReplacesTheChosenFile) {
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("a.wav"));
    const QString to = dir.filePath(QStringLiteral("b.wav"));
    WriteText(from, "recording");
    WriteText(to, "old");
    QString error;
    ASSERT_TRUE(MoveReplacing(from, to, error)) << error.toStdString();
    EXPECT_EQ(ReadText(to), "recording");
    EXPECT_FALSE(QFileInfo::exists(from));
}

TEST(Takes, MoveOntoItselfKeepsTheRecording) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.wav"));
    WriteText(path, "recording");
    QString error;
    ASSERT_TRUE(MoveReplacing(path, dir.filePath(QStringLiteral("./a.wav")), error));
    EXPECT_EQ(ReadText(path), "recording");
}

TEST(Takes, FailedMoveLeavesTheRecordingWhereItWas) {
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("a.wav"));
    WriteText(from, "recording");
    QString error;
    EXPECT_FALSE(MoveReplacing(from, dir.filePath(QStringLiteral("gone/b.wav")), error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ReadText(from), "recording");
}

// The Music folder comes from the user's home (and the XDG user-dirs file); point both at a temporary
// home for the duration of a test.
class DefaultFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedHome_ = qgetenv("HOME");
        savedConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.filePath(QStringLiteral(".config"))));
    }
    void TearDown() override {
        qputenv("HOME", savedHome_);
        qputenv("XDG_CONFIG_HOME", savedConfig_);
    }
    QTemporaryDir home_;
    QByteArray savedHome_;
    QByteArray savedConfig_;
};

TEST_F(DefaultFolderTest, MusicIsCreatedWhenMissing) {
    EXPECT_EQ(DefaultFolder(), home_.filePath(QStringLiteral("Music")));
    EXPECT_TRUE(QFileInfo(home_.filePath(QStringLiteral("Music"))).isDir());
}

TEST_F(DefaultFolderTest, HomeWhenMusicCannotBeMade) {
    WriteText(home_.filePath(QStringLiteral("Music")), "a file in the way");
    EXPECT_EQ(QDir(DefaultFolder()), QDir(home_.path()));
}

// --- What the window shows ---------------------------------------------------------------------------

struct ElapsedCase {
    std::int64_t frames;
    const char* text;
};

class Elapsed : public ::testing::TestWithParam<ElapsedCase> {};

TEST_P(Elapsed, IsMinutesSecondsTenthsAndNeverAhead) {
    EXPECT_EQ(FormatElapsed(GetParam().frames, 48000).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Times, Elapsed,
                         ::testing::Values(ElapsedCase{0, "00:00.0"}, ElapsedCase{4799, "00:00.0"},
                                           ElapsedCase{4800, "00:00.1"}, ElapsedCase{47999, "00:00.9"},
                                           ElapsedCase{48000 * 59 + 47999, "00:59.9"},
                                           ElapsedCase{48000 * 60, "01:00.0"},
                                           ElapsedCase{48000LL * 6000, "100:00.0"}));

// --- Without a sound server ---------------------------------------------------------------------------

// Points the sound server client at a private, empty place: no server, nothing to autospawn into.
class NoServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name :
             {"XDG_RUNTIME_DIR", "PULSE_SERVER", "PULSE_RUNTIME_PATH", "DISPLAY", "HOME"}) {
            saved_.emplace_back(name, qgetenv(name));
            qunsetenv(name);
        }
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(empty_.path()));
        qputenv("HOME", QFile::encodeName(empty_.path()));
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value.isNull()) {
                qunsetenv(name);
            } else {
                qputenv(name, value);
            }
        }
    }
    QTemporaryDir empty_;
    std::vector<std::pair<const char*, QByteArray>> saved_;
    const std::atomic<bool> notStopped{false};
};

TEST_F(NoServerTest, MonitorSaysThereIsNoSoundServer) {
    std::string error;
    EXPECT_EQ(OpenPulseMonitor(std::chrono::seconds(30), notStopped, error), nullptr);
    EXPECT_NE(error.find("No sound server is running"), std::string::npos) << error;
}

TEST_F(NoServerTest, ServerThatNeverAnswersIsGivenUpOn) {
    // Accepts connections (the kernel does, from the backlog) and never says a word.
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(empty_.filePath(QStringLiteral("silent")));
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.constData());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(sock, 4), 0);
    qputenv("PULSE_SERVER", "unix:" + path);

    std::string error;
    EXPECT_EQ(OpenPulseMonitor(std::chrono::milliseconds(300), notStopped, error), nullptr);
    EXPECT_NE(error.find("does not answer"), std::string::npos) << error;

    // Stopped while it waits for that server: it gives up long before its own deadline.
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
    });
    EXPECT_EQ(OpenPulseMonitor(std::chrono::seconds(60), stop, error), nullptr);
    stopper.join();
    EXPECT_NE(error.find("stopped before the sound server answered"), std::string::npos) << error;
    close(sock);
}

// --- Recording to a file without a window --------------------------------------------------------------

TEST(RecordToFile, WritesExactlyTheRequestedLength) {
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("out.wav"));
    WriteText(output, "an older file to be replaced");
    Feed feed;
    for (int i = 0; i < 30; ++i) {
        feed.Push(Ramp(960, i * 960));
    }
    EXPECT_EQ(RecordToFile(0.5, output, feed.Factory()), 0);
    std::vector<float> expected = Ramp(24000);
    ExpectSamples(expected, ReadWav(output).samples);
    EXPECT_EQ(FilesIn(dir.path()), QStringList{QStringLiteral("out.wav")});
}

struct RecordFailureCase {
    const char* name;
    double seconds;
    bool refuse;  // the source cannot be opened at all
    bool breaks;  // the source breaks after some sound
    bool missingFolder;
};

class RecordToFileFailure : public ::testing::TestWithParam<RecordFailureCase> {};

// A recording that fails exits non-zero; what was recorded before the failure stays, where it was asked
// for and readable to its last frame, and a recording that never started leaves nothing behind.
TEST_P(RecordToFileFailure, ExitsNonZeroAndKeepsWhatWasRecorded) {
    const RecordFailureCase& c = GetParam();
    QTemporaryDir dir;
    const QString output = c.missingFolder ? dir.filePath(QStringLiteral("gone/out.wav"))
                                           : dir.filePath(QStringLiteral("out.wav"));
    Feed feed;
    if (c.refuse) {
        feed.RefuseToOpen("No sound server is running.");
    }
    if (c.breaks) {
        feed.Push(Ramp(960));
        feed.FailWith("The sound server went away.");
    }
    EXPECT_NE(RecordToFile(c.seconds, output, feed.Factory()), 0);
    if (c.breaks) {
        EXPECT_EQ(FilesIn(dir.path()), QStringList{QStringLiteral("out.wav")});
        ExpectSamples(Ramp(960), ReadWav(output).samples);
    } else {
        EXPECT_TRUE(FilesIn(dir.path()).isEmpty()) << FilesIn(dir.path()).join(',').toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, RecordToFileFailure,
                         ::testing::Values(RecordFailureCase{"NoServer", 1.0, true, false, false},
                                           RecordFailureCase{"ServerGoesAway", 1.0, false, true, false},
                                           RecordFailureCase{"MissingFolder", 1.0, false, false, true},
                                           RecordFailureCase{"LongerThanAWavFileHolds", 6 * 3600 + 1, false,
                                                             false, false}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace zorvik::recorder

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
