// GStreamer objects the media graph leaves behind. LeakSanitizer cannot attribute GLib's allocations (see
// tests/lsan.supp), so this asks GStreamer's own leaks tracer instead: ctest runs the test with
// GST_TRACERS=leaks, and the count of live GstObjects and mini objects (buffers, caps, events, messages)
// must be the same after many load-play-destroy cycles as after the first, for good and bad files alike.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "GstGraph.h"
#include "MusicControl.h"
#include "ReliabilityMedia.h"
#include "ReliabilityRow.h"

namespace zorvik::reliability {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

GstTracer* LeaksTracer() {
    GList* tracers = gst_tracing_get_active_tracers();
    GstTracer* found = nullptr;
    for (GList* t = tracers; t; t = t->next) {
        if (!found && g_str_equal(G_OBJECT_TYPE_NAME(t->data), "GstLeaksTracer")) {
            found = GST_TRACER(gst_object_ref(t->data));
        }
    }
    g_list_free_full(tracers, gst_object_unref);
    return found;
}

// The tracer's "get-live-objects" hands the caller the tracer's own reference to every live object (it is
// meant for the end of a run), so calling it while the graph still runs would free objects in use. Its
// activity checkpoints name objects made and destroyed since the last one and hold no references.
long long ObjectsGainedSinceCheckpoint(GstTracer* tracer) {
    GstStructure* checkpoint = nullptr;
    g_signal_emit_by_name(tracer, "activity-get-checkpoint", &checkpoint);
    if (!checkpoint) {
        return 0;
    }
    const auto count = [checkpoint](const char* field) {
        const GValue* list = gst_structure_get_value(checkpoint, field);
        return list ? static_cast<long long>(gst_value_list_get_size(list)) : 0LL;
    };
    const long long gained = count("objects-created-list") - count("objects-removed-list");
    gst_structure_free(checkpoint);
    return gained;
}

class GraphLeaks : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_folder = MakeMediaFolder("gstleaks");
        MakeTone(s_folder / "song.ogg", kOggEncoder, 0.5);
        MakeTone(s_folder / "song.mp3", kMp3Encoder, 0.5);
        std::ofstream(s_folder / "notes.mp3") << "not a song\n";
        std::ofstream(s_folder / "cut.ogg", std::ios::binary) << std::string(200, 'O');
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }
    static inline fs::path s_folder;
};

TEST_F(GraphLeaks, LoadPlayDestroyCyclesLeaveNoGStreamerObjects) {
    GstTracer* tracer = LeaksTracer();
    if (!tracer) {
        GTEST_SKIP() << "run with GST_TRACERS=leaks (ctest does)";
    }
    ReliabilityRow report("music: GStreamer objects left after load-play-destroy cycles",
                          "no more live objects after 10 more cycles than after 5");
    MusicControl music(
        [] { return MakeGstGraph({.makeAudioSink = [] { return MakeCountingSink(false); }}); });
    const std::function<void(int)> cycle = [&](int i) {
        report.AddCase();
        const fs::path files[] = {s_folder / "song.ogg", s_folder / "song.mp3", s_folder / "notes.mp3",
                                  s_folder / "cut.ogg", s_folder / "missing.wav"};
        const fs::path& file = files[i % 5];
        if (music.LoadMusic(file) == kTrue) {
            const std::uint64_t before = g_bytesHeard.load();
            ASSERT_EQ(music.PlayMusic(), kTrue);
            ASSERT_TRUE(WaitForAudioAbove(before, std::chrono::seconds(10)));
            ASSERT_EQ(music.SetMusicSpeed(1.25f), kTrue);
        }
        ASSERT_EQ(music.CloseMusic(), kTrue);
    };
    for (int i = 0; i < 5; ++i) {
        cycle(i);
    }
    g_signal_emit_by_name(tracer, "activity-start-tracking");
    for (int i = 0; i < 10; ++i) {
        cycle(i);
    }
    // Streaming threads hand their last buffers back a moment after the pipeline stops.
    long long gained = ObjectsGainedSinceCheckpoint(tracer);
    for (const auto deadline = Clock::now() + std::chrono::seconds(5);
         gained > 0 && Clock::now() < deadline;) {
        g_usleep(20000);
        gained += ObjectsGainedSinceCheckpoint(tracer);
    }
    g_signal_emit_by_name(tracer, "activity-stop-tracking");
    report.Measured("objects gained over 10 cycles: " + std::to_string(gained));
    EXPECT_LE(gained, 0);
    gst_object_unref(tracer);
}

}  // namespace
}  // namespace zorvik::reliability
