// Bad music files at the level the program uses them: MusicControl driving the real GStreamer graph,
// played into a counting fakesink. Every bad file must be refused with a reason the user can read (or, for
// a damaged but partly good file, play what is there), within the load bound, without sound; and the next
// good song must load and be heard. The graph's own finer checks are in test_media_graph.cpp (BadInputTest).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "GstGraph.h"
#include "MusicControl.h"
#include "ReliabilityMedia.h"
#include "ReliabilityRow.h"

namespace zorvik::reliability {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::HasSubstr;
using testing::Not;

constexpr auto kLoadTimeout = std::chrono::milliseconds(3000);
// The graph gives up on a stalled file after kLoadTimeout; a second more covers building and tearing down.
constexpr auto kLoadBound = kLoadTimeout + std::chrono::seconds(1);
constexpr auto kHeardDeadline = std::chrono::seconds(10);

// The kinds of song the matrix is made of, and how each is encoded.
constexpr const char* kExtensions[] = {".wav", ".ogg", ".mp3", ".flac", ".m4a"};
constexpr const char* kEncoders[] = {kWavEncoder, kOggEncoder, kMp3Encoder, kFlacEncoder, kM4aEncoder};

MusicControl MakeMusic(bool sync) {
    return MusicControl([sync] {
        return MakeGstGraph(
            {.makeAudioSink = [sync] { return MakeCountingSink(sync); }, .loadTimeout = kLoadTimeout});
    });
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

class MusicReliability : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_folder = MakeMediaFolder("music");
        for (std::size_t i = 0; i < std::size(kExtensions); ++i) {
            MakeTone(Good(kExtensions[i]), kEncoders[i], 2.0);
        }
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }

    static fs::path Good(const std::string& extension) { return s_folder / ("good song ü" + extension); }

    // Loads and plays a good song (of a format picked by `turn`) and waits until it is heard.
    static void ExpectAGoodSongPlays(MusicControl& music, int turn) {
        const fs::path song = Good(kExtensions[static_cast<std::size_t>(turn) % std::size(kExtensions)]);
        ASSERT_EQ(music.LoadMusic(song), kTrue) << music.LoadErrorText();
        const std::uint64_t before = g_bytesHeard.load();
        ASSERT_EQ(music.PlayMusic(), kTrue);
        EXPECT_TRUE(WaitForAudioAbove(before, kHeardDeadline)) << song << " was not heard";
    }

    static inline fs::path s_folder;
};

// --- The matrix ----------------------------------------------------------------------------------

struct MusicRow {
    const char* name;
    // The files to try, made in `folder`; an empty list when the row cannot be set up here.
    std::function<std::vector<fs::path>(const fs::path& folder)> make;
    // What LoadErrorText must say; nullptr for damaged files that may also play what they hold.
    const char* expectedText;
};

// Every kind of song, damaged in every way a download or a disk damages one, and good songs with the
// extension of another kind.
std::vector<fs::path> Damaged(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const char* extension : kExtensions) {
        const std::string whole =
            testmedia::ReadBytes(fs::path(folder).parent_path() / ("good song ü" + std::string(extension)));
        for (const testmedia::Damage damage : testmedia::kDamages) {
            const fs::path path = folder / (std::string(testmedia::Name(damage)) + extension);
            testmedia::WriteBytes(path, testmedia::Damaged(whole, damage));
            files.push_back(path);
        }
    }
    for (std::size_t i = 0; i < std::size(kExtensions); ++i) {
        const fs::path path =
            folder / (std::string("renamed") + kExtensions[(i + 1) % std::size(kExtensions)]);
        fs::copy_file(fs::path(folder).parent_path() / ("good song ü" + std::string(kExtensions[i])), path);
        files.push_back(path);
    }
    return files;
}

const MusicRow kMusicRows[] = {
    {"Missing",
     [](const fs::path& d) {
         return std::vector<fs::path>{d / "nowhere.mp3", d / "gone" / "x.ogg"};
     },
     "does not exist"},
    {"Empty",
     [](const fs::path& d) {
         std::vector<fs::path> files;
         for (const char* name : {"empty.mp3", "empty.ogg", "empty.wav"}) {
             testmedia::WriteBytes(d / name, "");
             files.push_back(d / name);
         }
         return files;
     },
     "empty"},
    {"TextRenamedMp3",
     [](const fs::path& d) {
         testmedia::WriteBytes(d / "setlist.mp3", "1. Intro\n2. Drum solo\n3. Encore\n");
         testmedia::WriteBytes(d / "page.mp3", "<html><body>not a song</body></html>\n");
         return std::vector<fs::path>{d / "setlist.mp3", d / "page.mp3"};
     },
     "not a music file"},
    {"RandomBytes",
     [](const fs::path& d) {
         std::vector<fs::path> files;
         unsigned seed = 1;
         for (const char* extension : {".mp3", ".ogg", ".wav"}) {
             for (const std::size_t size : {std::size_t{17}, std::size_t{4096}, std::size_t{300000}}) {
                 const fs::path path = d / ("noise" + std::to_string(size) + extension);
                 testmedia::WriteBytes(path, RandomBytes(size, seed++));
                 files.push_back(path);
             }
         }
         return files;
     },
     "not a music file"},
    {"Damaged", Damaged, nullptr},
    {"Folder",
     [](const fs::path& d) {
         fs::create_directory(d / "album.mp3");
         return std::vector<fs::path>{d / "album.mp3", d};
     },
     "folder"},
    {"Fifo",
     [](const fs::path& d) {
         ::mkfifo((d / "pipe.mp3").c_str(), 0600);
         return std::vector<fs::path>{d / "pipe.mp3"};
     },
     "not an ordinary file"},
    // Root reads through permission bits, so this row only runs for other users.
    {"Unreadable",
     [](const fs::path& d) {
         const fs::path path = d / "locked.mp3";
         fs::copy_file(d.parent_path() / "good song ü.mp3", path);
         ::chmod(path.c_str(), 0);
         return ::geteuid() == 0 ? std::vector<fs::path>{} : std::vector<fs::path>{path};
     },
     "permission denied"},
};

class MusicBadInput : public MusicReliability, public testing::WithParamInterface<MusicRow> {};

TEST_P(MusicBadInput, RefusedWithAReasonInTimeAndTheNextSongPlays) {
    const fs::path folder = s_folder / GetParam().name;
    fs::create_directory(folder);
    const std::vector<fs::path> files = GetParam().make(folder);
    if (files.empty()) {
        GTEST_SKIP() << "cannot be set up for this user";
    }

    ReliabilityRow report(std::string("music: ") + GetParam().name,
                          GetParam().expectedText ? "LoadMusic False + reason within 4 s, silent"
                                                  : "plays what is there or False + reason within 4 s");
    MusicControl music = MakeMusic(false);
    int turn = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file);
        report.AddCase();
        const auto start = Clock::now();
        const VbBool loaded = music.LoadMusic(file);
        const auto took = Clock::now() - start;
        // Taken after the load: the previous song's graph is gone by then, and nothing else may sound.
        const std::uint64_t heardBefore = g_bytesHeard.load();
        report.Worst(took);
        EXPECT_LT(took, kLoadBound);
        if (GetParam().expectedText) {
            EXPECT_EQ(loaded, kFalse);
            EXPECT_THAT(music.LoadErrorText(), HasSubstr(GetParam().expectedText));
            EXPECT_EQ(music.PlayMusic(), kFalse);
            // Silence cannot be polled for: give a stream that wrongly started a moment to show itself.
            g_usleep(20000);
            EXPECT_EQ(g_bytesHeard.load(), heardBefore) << "a refused file made sound";
        } else if (loaded == kTrue) {
            EXPECT_EQ(music.PlayMusic(), kTrue);
        } else {
            EXPECT_FALSE(music.LoadErrorText().empty());
        }
        // A file on a working disk is answered on its merits, never by running out the load bound.
        EXPECT_THAT(music.LoadErrorText(), Not(HasSubstr("did not become ready")));
        ExpectAGoodSongPlays(music, turn++);
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, MusicBadInput, testing::ValuesIn(kMusicRows),
                         [](const auto& row) { return std::string(row.param.name); });

// --- Trouble while playing -----------------------------------------------------------------------

TEST_F(MusicReliability, ASongDeletedWhilePlayingPlaysOnAndTheNextLoads) {
    ReliabilityRow report("music: deleted while playing", "keeps playing; next song loads");
    MusicControl music = MakeMusic(true);
    for (const char* extension : {".wav", ".ogg", ".mp3"}) {
        SCOPED_TRACE(extension);
        report.AddCase();
        const fs::path copy = s_folder / (std::string("doomed") + extension);
        fs::copy_file(Good(extension), copy, fs::copy_options::overwrite_existing);
        ASSERT_EQ(music.LoadMusic(copy), kTrue) << music.LoadErrorText();
        ASSERT_EQ(music.PlayMusic(), kTrue);
        ASSERT_TRUE(WaitForAudioAbove(g_bytesHeard.load(), kHeardDeadline));
        fs::remove(copy);
        // Still heard after the name is gone: the open file outlives it.
        const std::uint64_t afterDelete = g_bytesHeard.load();
        EXPECT_TRUE(WaitForAudioAbove(afterDelete + 4096, kHeardDeadline));
        EXPECT_EQ(music.StopMusic(), kTrue);
        EXPECT_EQ(music.PlayMusic(), kTrue);
        EXPECT_EQ(music.CloseMusic(), kTrue);
        // Loading it again now fails cleanly; another song plays.
        EXPECT_EQ(music.LoadMusic(copy), kFalse);
        EXPECT_THAT(music.LoadErrorText(), HasSubstr("does not exist"));
        ExpectAGoodSongPlays(music, 0);
    }
}

}  // namespace
}  // namespace zorvik::reliability
