// Memory across many loads of damaged songs: does anything a load builds (graph, bus, plug-in state)
// outlive it? Loads every file of a folder in turn, as the music fuzzer does (render, play a moment,
// change speed, rewind, stop, destroy), into a fakesink, and prints resident memory as it goes.
// Usage: load_memory FOLDER [LOADS]   (build without sanitizers: their quarantine hides the answer)

#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "GstMusicEngine.h"
#include "ProcessStats.h"

namespace fs = std::filesystem;
using namespace zorvik::platform;
using namespace zorvik::platform::gst;

// A load that takes longer than this is named, since a user waits for it with the dialog closed.
constexpr std::chrono::milliseconds kSlowLoad(500);

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [LOADS]\n", argv[0]);
        return 2;
    }
    const long loads = argc > 2 ? std::atol(argv[2]) : 1000;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(argv[1])) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no files in %s\n", argv[1]);
        return 2;
    }
    const GstEngineOptions options{.makeAudioSink =
                                       [] {
                                           GstElement* sink = gst_element_factory_make("fakesink", nullptr);
                                           g_object_set(sink, "sync", FALSE, nullptr);
                                           return sink;
                                       },
                                   .loadTimeout = std::chrono::milliseconds(2000)};
    long rssAt100 = 0;
    long played = 0;
    for (long i = 1; i <= loads; ++i) {
        auto engine = GstMusicEngine::Create(options);
        if (!engine) {
            return 1;
        }
        const fs::path& file = files[static_cast<std::size_t>(i - 1) % files.size()];
        const auto start = std::chrono::steady_clock::now();
        const Status loaded = engine->Load(file);
        const auto took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
        if (took > kSlowLoad) {
            std::printf("slow load: %.0f ms for %s\n", took.count(), file.filename().c_str());
        }
        if (loaded) {
            ++played;
            (void)engine->Play();
            (void)engine->SetSpeed(1.5);
            (void)engine->Seek(0.0);
            (void)engine->Stop();
        }
        engine.reset();
        if (i % 100 == 0) {
            const long rss = zorvik::reliability::ReadProcessStats().rssKiB;
            if (i == 100) {
                rssAt100 = rss;
            }
            std::printf("after %5ld loads: RSS %6ld KiB\n", i, rss);
        }
    }
    const long rss = zorvik::reliability::ReadProcessStats().rssKiB;
    std::printf("%zu files, %ld loads (%ld played); RSS after %ld loads minus after 100: %+ld KiB\n",
                files.size(), loads, played, loads, rss - rssAt100);
    return 0;
}
