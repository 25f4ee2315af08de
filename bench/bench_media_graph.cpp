// The GStreamer media graph: how long loading a song keeps the GUI thread, how long the sound drops out
// when the speed changes while playing, and how much of a core playing takes at each speed.
//
// LoadMusic, the bare-playbin baseline and the playing CPU run against fakesink (sync=true) and against
// autoaudiosink, the program's default output; with no sound server that falls back to a fake sink, so
// run it once with a server (a null sink will do) for the figures that matter. The gap is measured with
// an appsink that notes when each buffer falls due.

#include <benchmark/benchmark.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "GstGraph.h"
#include "GstMusicEngine.h"
#include "TestMedia.h"

namespace fs = std::filesystem;
using namespace zorvik::platform;
using namespace zorvik::platform::gst;
using namespace zorvik::graph;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSongSeconds = 300;

// A five-minute MP3, made once per run in a private folder.
class Song {
  public:
    Song() {
        gst_init(nullptr, nullptr);
        char pattern[] = "/tmp/zorvik-bench-media-XXXXXX";
        folder_ = mkdtemp(pattern);
        path_ = folder_ / "five minutes.mp3";
        zorvik::testmedia::EncodeTone(path_, "lamemp3enc target=bitrate bitrate=192",
                                      {.seconds = kSongSeconds, .channels = 2, .samplesPerBuffer = 44100});
    }
    ~Song() { fs::remove_all(folder_); }

    const fs::path& Path() const { return path_; }

  private:
    fs::path folder_;
    fs::path path_;
};

const Song& TheSong() {
    static Song instance;
    return instance;
}

GstElement* MakeSink(bool automatic) {
    if (automatic) {
        return gst_element_factory_make("autoaudiosink", nullptr);
    }
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", TRUE, nullptr);
    return sink;
}

GstEngineOptions SinkOptions(bool automatic) {
    GstEngineOptions options;
    if (!automatic) {
        options.makeAudioSink = [] { return MakeSink(false); };
    }
    return options;
}

// What the engine does to load a song: a new graph, the file, then the saved level, balance, speed
// and position. The speed is not 1 so the seek it costs is counted.
void BM_LoadMusic(benchmark::State& state) {
    const bool automatic = state.range(0) != 0;
    const std::string path = TheSong().Path();
    const MediaGraphFactory factory = zorvik::GstGraphs(SinkOptions(automatic));
    factory()->RenderFile(path);  // plug-ins loaded before timing starts
    for (auto _ : state) {
        const auto start = Clock::now();
        std::shared_ptr<IMediaControl> control = factory();
        bool ok = control && !Failed(control->RenderFile(path));
        auto audio = QueryInterface<IBasicAudio>(control);
        auto position = QueryInterface<IMediaPosition>(control);
        ok = ok && !Failed(audio->put_Volume(-1000)) && !Failed(audio->put_Balance(0)) &&
             !Failed(position->put_Rate(1.25)) && !Failed(position->put_CurrentPosition(0.0));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!ok) {
            state.SkipWithError(control ? control->LastErrorText().c_str() : "no graph");
        }
        control.reset();
        audio.reset();
        position.reset();
    }
}
BENCHMARK(BM_LoadMusic)
    ->ArgName("autoaudiosink")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly();

// The baseline: a playbin with default settings taken to PAUSED.
void BM_BarePlaybinToPaused(benchmark::State& state) {
    const bool automatic = state.range(0) != 0;
    gchar* uri = gst_filename_to_uri(TheSong().Path().c_str(), nullptr);
    for (auto _ : state) {
        const auto start = Clock::now();
        GstElement* playbin = gst_element_factory_make("playbin", nullptr);
        g_object_set(playbin, "uri", uri, "audio-sink", MakeSink(automatic), nullptr);
        gst_element_set_state(playbin, GST_STATE_PAUSED);
        const bool ok =
            gst_element_get_state(playbin, nullptr, nullptr, 5 * GST_SECOND) == GST_STATE_CHANGE_SUCCESS;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!ok) {
            state.SkipWithError("playbin did not reach PAUSED");
        }
        gst_element_set_state(playbin, GST_STATE_NULL);
        gst_object_unref(playbin);
    }
    g_free(uri);
}
BENCHMARK(BM_BarePlaybinToPaused)
    ->ArgName("autoaudiosink")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly();

// A buffer's samples, and how many of them open it in silence.
std::pair<std::size_t, std::size_t> OpeningSilence(GstBuffer* buffer) {
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_READ);
    const auto* samples = reinterpret_cast<const float*>(map.data);
    const std::size_t count = map.size / sizeof(float);
    std::size_t quiet = 0;
    while (quiet < count && std::fabs(samples[quiet]) < 1e-4f) {
        ++quiet;
    }
    gst_buffer_unmap(buffer, &map);
    return {count, quiet};
}

// When each buffer reached a real-time appsink, and whether it starts with silence.
struct Arrivals {
    struct Buffer {
        Clock::time_point at;
        double seconds;
        double leadingSilence;
        double speed;  // the applied rate of the segment it came in
    };
    std::mutex mutex;
    std::vector<Buffer> buffers;

    static GstFlowReturn OnSample(GstAppSink* sink, gpointer data) {
        GstSample* sample = gst_app_sink_pull_sample(sink);
        const auto now = Clock::now();
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        const auto [count, quiet] = OpeningSilence(buffer);
        const double speed = gst_sample_get_segment(sample)->applied_rate;
        gst_sample_unref(sample);
        auto* self = static_cast<Arrivals*>(data);
        std::lock_guard lock(self->mutex);
        self->buffers.push_back({now, count / 2 / 44100.0, quiet / 2 / 44100.0, speed});
        return GST_FLOW_OK;
    }
};

// A real-time appsink that hands each sample to `onSample`.
GstElement* MakeRealTimeSink(GstFlowReturn (*onSample)(GstAppSink*, gpointer), gpointer data) {
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    GstCaps* caps = gst_caps_from_string("audio/x-raw,format=F32LE,rate=44100,channels=2,layout=interleaved");
    g_object_set(sink, "sync", TRUE, "caps", caps, nullptr);
    gst_caps_unref(caps);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, data, nullptr);
    return sink;
}

// The silence heard around a speed change while playing: from when the old sound runs out until the
// first new sound is due, plus any silence the new sound opens
// with. Median and worst over a series of changes. Also how long after the change the first sound made
// at the new speed is played (the appsink plays it when due; a sound card adds its buffer, 40 ms).
void BM_SpeedChangeGap(benchmark::State& state) {
    Arrivals arrivals;
    GstEngineOptions options;
    options.makeAudioSink = [&arrivals] { return MakeRealTimeSink(&Arrivals::OnSample, &arrivals); };
    std::vector<double> gaps, heard;
    for (auto _ : state) {
        auto graph = zorvik::MakeGstGraph(options);
        if (!graph || Failed(graph->RenderFile(TheSong().Path())) || Failed(graph->Run())) {
            state.SkipWithError("could not play");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (double rate : {1.5, 0.5, 1.0, 1.25, 0.75, 1.0, 1.5, 0.5, 1.0, 2.0, 1.0, 0.8}) {
            std::size_t before;
            {
                std::lock_guard lock(arrivals.mutex);
                before = arrivals.buffers.size();
            }
            const auto changedAt = Clock::now();
            graph->put_Rate(rate);
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            std::lock_guard lock(arrivals.mutex);
            // The last buffer that arrived before the change, and the first one after it.
            const Arrivals::Buffer& old = arrivals.buffers[before - 1];
            auto next = std::find_if(arrivals.buffers.begin() + before, arrivals.buffers.end(),
                                     [&](const Arrivals::Buffer& b) { return b.at > changedAt; });
            if (next == arrivals.buffers.end()) {
                continue;
            }
            auto fresh = std::find_if(next, arrivals.buffers.end(), [&](const Arrivals::Buffer& b) {
                return std::fabs(b.speed - rate) < 1e-9;
            });
            if (fresh != arrivals.buffers.end()) {
                heard.push_back(std::chrono::duration<double, std::milli>(fresh->at - changedAt).count());
            }
            const auto oldEnds = old.at + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(old.seconds));
            // Nothing is flushed at a speed change, so the old sound plays out to its end.
            gaps.push_back(
                std::max(0.0, std::chrono::duration<double, std::milli>(next->at - oldEnds).count()) +
                1000.0 * next->leadingSilence);
        }
    }
    std::sort(gaps.begin(), gaps.end());
    state.counters["gap_median_ms"] = gaps.empty() ? -1.0 : gaps[gaps.size() / 2];
    state.counters["gap_max_ms"] = gaps.empty() ? -1.0 : gaps.back();
    state.counters["changes"] = static_cast<double>(gaps.size());
    std::sort(heard.begin(), heard.end());
    state.counters["new_speed_median_ms"] = heard.empty() ? -1.0 : heard[heard.size() / 2];
    state.counters["new_speed_max_ms"] = heard.empty() ? -1.0 : heard.back();
}
BENCHMARK(BM_SpeedChangeGap)->Iterations(1)->Unit(benchmark::kMillisecond);

// A loop played round twenty times at a speed (in hundredths) into a real-time appsink: the silence at
// each seam (the new time round arriving after the last one ran out, plus any silence it opens with),
// how far each time round's length is from (end - start) / speed, and how far the engine's position is
// from the song time being heard when it is asked (what a loop key takes as its point).
void BM_LoopSeam(benchmark::State& state) {
    constexpr double kStart = 62.0, kEnd = 62.6;
    constexpr int kRounds = 20;
    const double speed = state.range(0) / 100.0;
    struct Heard {
        Clock::time_point at;
        double running, stream, seconds, leadingSilence;
    };
    struct Log {
        std::mutex mutex;
        std::vector<Heard> buffers;
    } log;
    GstEngineOptions options;
    options.makeAudioSink = [&log] {
        return MakeRealTimeSink(
            [](GstAppSink* appSink, gpointer data) {
                GstSample* sample = gst_app_sink_pull_sample(appSink);
                const auto now = Clock::now();
                GstBuffer* buffer = gst_sample_get_buffer(sample);
                const GstSegment* segment = gst_sample_get_segment(sample);
                const auto [count, quiet] = OpeningSilence(buffer);
                const GstClockTime pts = GST_BUFFER_PTS(buffer);
                Heard heard{now,
                            double(gst_segment_to_running_time(segment, GST_FORMAT_TIME, pts)) / GST_SECOND,
                            double(gst_segment_to_stream_time(segment, GST_FORMAT_TIME, pts)) / GST_SECOND,
                            count / 2 / 44100.0, quiet / 2 / 44100.0};
                gst_sample_unref(sample);
                auto* into = static_cast<Log*>(data);
                std::lock_guard lock(into->mutex);
                into->buffers.push_back(heard);
                return GST_FLOW_OK;
            },
            &log);
    };
    std::vector<double> silences, lengths, positions;
    for (auto _ : state) {
        auto engine = GstMusicEngine::Create(options);
        if (!engine || !engine->Load(TheSong().Path()) || !engine->SetSpeed(speed) ||
            !engine->Seek(kStart - 0.3) || !engine->SetLoop(kStart, kEnd) || !engine->Play()) {
            state.SkipWithError("could not play");
            return;
        }
        const auto until =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>((0.5 + kRounds * (kEnd - kStart)) / speed));
        std::mt19937 random(7);
        while (Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 50));
            const std::optional<double> position = engine->Position();
            const auto askedAt = Clock::now();
            std::lock_guard lock(log.mutex);
            if (!position || log.buffers.empty()) {
                continue;
            }
            // The song time due now: the buffer playing, and how far into it the clock is.
            const Heard& playing = log.buffers.back();
            const double into = std::chrono::duration<double>(askedAt - playing.at).count();
            if (into > playing.seconds) {
                continue;
            }
            // At a seam the end and the start are the same moment.
            const double off = std::fabs(*position - (playing.stream + into * speed));
            positions.push_back(1000.0 * std::min(off, std::fabs(off - (kEnd - kStart))));
        }
        std::lock_guard lock(log.mutex);
        double lastSeam = -1.0;
        for (std::size_t i = 1; i < log.buffers.size(); ++i) {
            const Heard& before = log.buffers[i - 1];
            const Heard& now = log.buffers[i];
            if (now.stream >= before.stream) {
                continue;  // not a seam: the song time went on
            }
            const double late = std::chrono::duration<double>(now.at - before.at).count() - before.seconds;
            silences.push_back(1000.0 * (std::max(0.0, late) + now.leadingSilence));
            if (lastSeam >= 0.0) {
                lengths.push_back(1000.0 * std::fabs(now.running - lastSeam - (kEnd - kStart) / speed));
            }
            lastSeam = now.running;
        }
    }
    const auto summary = [&state](const char* name, std::vector<double>& values) {
        std::sort(values.begin(), values.end());
        state.counters[std::string(name) + "_median_ms"] = values.empty() ? -1.0 : values[values.size() / 2];
        state.counters[std::string(name) + "_max_ms"] = values.empty() ? -1.0 : values.back();
    };
    state.counters["seams"] = static_cast<double>(silences.size());
    summary("silence", silences);
    summary("length_error", lengths);
    summary("position_error", positions);
}
BENCHMARK(BM_LoopSeam)
    ->ArgName("speed_percent")
    ->Arg(50)
    ->Arg(100)
    ->Arg(150)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The share of one core the whole process uses over five seconds, from a second after playing starts.
void MeasurePlayingCpu(benchmark::State& state) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    state.counters["cpu_percent"] = 100.0 * cpu / wall;
}

// A song playing in real time at a speed (in hundredths), into fakesink sync=true or the default output.
void BM_PlayingCpu(benchmark::State& state) {
    const double rate = state.range(0) / 100.0;
    const bool automatic = state.range(1) != 0;
    for (auto _ : state) {
        auto graph = zorvik::MakeGstGraph(SinkOptions(automatic));
        if (!graph || Failed(graph->RenderFile(TheSong().Path())) || Failed(graph->put_Rate(rate)) ||
            Failed(graph->Run())) {
            state.SkipWithError("could not play");
            return;
        }
        MeasurePlayingCpu(state);
    }
}
BENCHMARK(BM_PlayingCpu)
    ->ArgNames({"rate_percent", "autoaudiosink"})
    ->ArgsProduct({{50, 100, 150}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// The baseline: a playbin with default settings playing the same song into the same sink.
void BM_BarePlaybinPlayingCpu(benchmark::State& state) {
    const bool automatic = state.range(0) != 0;
    gchar* uri = gst_filename_to_uri(TheSong().Path().c_str(), nullptr);
    for (auto _ : state) {
        GstElement* playbin = gst_element_factory_make("playbin", nullptr);
        g_object_set(playbin, "uri", uri, "audio-sink", MakeSink(automatic), nullptr);
        gst_element_set_state(playbin, GST_STATE_PLAYING);
        if (gst_element_get_state(playbin, nullptr, nullptr, 5 * GST_SECOND) != GST_STATE_CHANGE_SUCCESS) {
            state.SkipWithError("playbin did not play");
        } else {
            MeasurePlayingCpu(state);
        }
        gst_element_set_state(playbin, GST_STATE_NULL);
        gst_object_unref(playbin);
    }
    g_free(uri);
}
BENCHMARK(BM_BarePlaybinPlayingCpu)
    ->ArgName("autoaudiosink")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
