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

#include "GstMediaGraph.h"
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
        if (!found && g_str_equal(G_OBJECT_TYPE_NAME(t->data), "GstLeaksTracer"))
            found = GST_TRACER(gst_object_ref(t->data));
    }
    g_list_free_full(tracers, gst_object_unref);
    return found;
}

std::size_t LiveObjects(GstTracer* tracer) {
    GstStructure* info = nullptr;
    g_signal_emit_by_name(tracer, "get-live-objects", &info);
    const GValue* list = info ? gst_structure_get_value(info, "live-objects-list") : nullptr;
    const std::size_t count = list ? gst_value_list_get_size(list) : 0;
    if (info) gst_structure_free(info);
    return count;
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
    if (!tracer) GTEST_SKIP() << "run with GST_TRACERS=leaks (ctest does)";
    ReliabilityRow report("music: GStreamer objects left after load-play-destroy cycles",
                          "live objects after 10 more cycles = after 5");
    MusicControl music([] {
        return platform::GstMediaGraph::Create({.makeAudioSink = [] { return MakeCountingSink(false); }});
    });
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
    for (int i = 0; i < 5; ++i) cycle(i);
    const std::size_t settled = LiveObjects(tracer);
    for (int i = 0; i < 10; ++i) cycle(i);
    // Streaming threads hand their last buffers back a moment after the pipeline stops.
    std::size_t live = LiveObjects(tracer);
    for (const auto deadline = Clock::now() + std::chrono::seconds(5);
         live > settled && Clock::now() < deadline;) {
        g_usleep(20000);
        live = LiveObjects(tracer);
    }
    report.Measured("live objects " + std::to_string(settled) + " -> " + std::to_string(live));
    EXPECT_LE(live, settled);
    gst_object_unref(tracer);
}

}  // namespace
}  // namespace zorvik::reliability
