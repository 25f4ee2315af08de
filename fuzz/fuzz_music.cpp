// libFuzzer target: arbitrary bytes loaded as a song through the real GStreamer media graph, as the music
// engine does it: written to a file, rendered, played for a moment, sped up, rewound, stopped and
// destroyed, into a fakesink that takes the audio as fast as it comes. Must never crash or hang; a hang
// shows as libFuzzer's per-input timeout.

#include <gst/gst.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "GstMusicEngine.h"

using namespace zorvik::platform;
using namespace zorvik::platform::gst;

namespace {

// Within libFuzzer's default per-input timeout, with room for the teardown after a stalled load.
constexpr auto kLoadTimeout = std::chrono::milliseconds(2000);

std::string& InputPath() {
    static std::string path = [] {
        char pattern[] = "/tmp/zorvik-fuzz-music-XXXXXX";
        const char* folder = mkdtemp(pattern);
        return std::string(folder ? folder : "/tmp") + "/song";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // GStreamer's own SIGSEGV trap would stand between a crash and libFuzzer's report of it.
    gst_segtrap_set_enabled(FALSE);
    gst_init(nullptr, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = InputPath();
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    } else {
        return 0;
    }
    auto engine = GstMusicEngine::Create({.makeAudioSink =
                                              [] {
                                                  GstElement* sink =
                                                      gst_element_factory_make("fakesink", nullptr);
                                                  g_object_set(sink, "sync", FALSE, nullptr);
                                                  return sink;
                                              },
                                          .loadTimeout = kLoadTimeout});
    if (!engine) {
        __builtin_trap();
    }
    const Status loaded = engine->Load(path);
    // The promise every caller relies on: a failure always says why.
    if (!loaded && loaded.Reason().empty()) {
        __builtin_trap();
    }
    if (loaded) {
        (void)engine->Play();
        g_usleep(5000);
        (void)engine->SetSpeed(1.5);
        (void)engine->SetLoop(0.0, 1.0);
        (void)engine->Seek(0.0);
        (void)engine->SetGain(0.1);
        (void)engine->Stop();
    }
    engine.reset();
    unlink(path.c_str());
    return 0;
}
