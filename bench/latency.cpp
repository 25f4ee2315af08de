// Key-to-sound latency of the drum pads, measured where a listener would hear it: at the sound server.
// A real key press goes to the focused Zorvik window through XTest, and the sink's monitor is captured
// in small fragments; a hit's latency is the time from just before the key press to the moment the
// sink plays the first sample of the hit over a threshold. The same capture then times `paplay` (or on
// PipeWire `pw-play`) spawned per hit, as the baseline, and the same player with a copy of the file behind
// known leading silence, which must come out later by exactly that silence: a check of the onset detection
// and of the time conversion.
//
// Each captured fragment is stamped on arrival; the server's latency figure for the stream at that
// moment (negative for a monitor, which hands out what the sink has rendered but not yet played) turns
// the stamp into the time the sink plays the fragment's frames. A hit is timed by the median of these
// over the half second around it, which no late wake-up of the capture thread or single glitch of the
// timing can move.
//
// Run by bench/latency.sh, which sets up the display, the sound server and the program; see there.

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <pulse/pulseaudio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr double kDeviceOpening = 2.0;  // the longest the first hit may take to sound
// Each hit's frames are put on the clock by the fragments captured within this span either side of it.
constexpr double kFitSpan = 0.25;
// How much those fragments may disagree (10th to 90th percentile) on the frame-to-time line. The null
// sink's clock gains about 0.07 % on the system's (it rounds each block's duration down): 0.3 ms over
// the span. libpulse's timing while it settles disagrees with itself by tens of milliseconds.
constexpr double kMaxSpread = 0.001;
// How far from the time it is played a settled capture gets its soonest fragment: about the sink's
// latency, which the capture's small fragments hold to a few milliseconds. libpulse's timing can also
// hold steady while still hundreds of milliseconds off, which only this shows.
constexpr double kMaxLead = 0.01;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void SleepUntil(double t) {
    const double left = t - Now();
    if (left > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(left));
    }
}

struct Options {
    std::string source = "testsink.monitor";
    std::string key = "3";
    int hits = 200;
    double gap = 0.3;
    std::string baselineFile;
    int baselineHits = 50;
    std::string delayedFile;
    double threshold = 0.01;
    double fragment = 0.002;
    // The per-hit reference player: paplay on PulseAudio, pw-play on PipeWire.
    std::string player = "paplay";
};

// A fragment of the captured monitor, put on the clock.
struct Mark {
    std::int64_t endFrame;  // frames captured up to and including this fragment
    double played;          // when the sink plays frame endFrame (steady clock, seconds)
    double arrived;         // when the fragment reached this program
};

enum class Miss { kNone, kNoisy, kSilent, kUncovered, kUnsteady };

// Frame f of the capture plays at `played + f / kRate` and reached this program at
// `arrived + f / kRate`, near one moment.
struct Clock {
    double played;
    double arrived;
    double spread;  // how much the fragments disagree on `played` (10th to 90th percentile)
};

// The clock near time t: the median over the fragments played within kFitSpan of t, which no single
// fragment's timing glitch can move, and which needs no straight line over longer spans (the sink's
// clock drifts).
std::optional<Clock> ClockAround(const std::vector<Mark>& marks, double t, Miss& miss) {
    std::vector<double> played, arrived;
    double lead = -1e9;
    const auto from =
        std::lower_bound(marks.begin(), marks.end(), t - kFitSpan,
                         [](const Mark& candidate, double at) { return candidate.played < at; });
    for (auto m = from; m != marks.end() && m->played <= t + kFitSpan; ++m) {
        const double frames = static_cast<double>(m->endFrame) / kRate;
        played.push_back(m->played - frames);
        arrived.push_back(m->arrived - frames);
        lead = std::max(lead, m->played - m->arrived);
    }
    // The server delivers in pieces of a fragment or less: a covered span holds hundreds of them.
    if (played.size() < 50 || marks.back().played < t + kFitSpan) {
        miss = Miss::kUncovered;
        return std::nullopt;
    }
    auto quantile = [](std::vector<double>& v, double q) {
        auto at = v.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(v.size() - 1));
        std::nth_element(v.begin(), at, v.end());
        return *at;
    };
    const double spread = quantile(played, 0.9) - quantile(played, 0.1);
    if (spread > kMaxSpread || std::fabs(lead) > kMaxLead) {
        miss = Miss::kUnsteady;
        return std::nullopt;
    }
    return Clock{quantile(played, 0.5), quantile(arrived, 0.5), spread};
}

// The sink's monitor, captured on a thread of its own, every fragment marked with its frame count and
// times.
class MonitorCapture {
  public:
    ~MonitorCapture() { Stop(); }

    bool Start(const Options& options) {
        loop_ = pa_threaded_mainloop_new();
        if (loop_ == nullptr) {
            return Fail("no main loop");
        }
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "zorvik latency bench");
        if (context_ == nullptr) {
            return Fail("cannot make a sound server context");
        }
        pa_context_set_state_callback(context_, &MonitorCapture::Signal, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            return Fail("cannot reach the sound server");
        }
        pa_threaded_mainloop_lock(loop_);
        if (pa_threaded_mainloop_start(loop_) < 0) {
            pa_threaded_mainloop_unlock(loop_);
            return Fail("cannot start the main loop");
        }
        running_ = true;
        bool ok = WaitContext() && Connect(options);
        if (ok) {
            const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream_);
            fragmentBytes_ = attr != nullptr ? attr->fragsize : 0;
        }
        pa_threaded_mainloop_unlock(loop_);
        return ok;
    }

    void Stop() {
        if (loop_ == nullptr) {
            return;
        }
        if (running_) {
            pa_threaded_mainloop_lock(loop_);
            if (stream_ != nullptr) {
                pa_stream_disconnect(stream_);
                pa_stream_unref(stream_);
                stream_ = nullptr;
            }
            if (context_ != nullptr) {
                pa_context_disconnect(context_);
            }
            pa_threaded_mainloop_unlock(loop_);
            pa_threaded_mainloop_stop(loop_);
            running_ = false;
        }
        if (context_ != nullptr) {
            pa_context_unref(context_);
        }
        context_ = nullptr;
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }

    // The latest time the capture covers, in the sink's playing time.
    double CoveredUntil() {
        pa_threaded_mainloop_lock(loop_);
        const double t = marks_.empty() ? 0 : marks_.back().played;
        pa_threaded_mainloop_unlock(loop_);
        return t;
    }

    // Waits (polling, with a deadline) until the capture covers time t.
    bool WaitCovered(double t, double deadline) {
        while (CoveredUntil() < t) {
            if (Now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Waits (polling, with a deadline) until the capture can be timed. libpulse's interpolation starts
    // off by hundreds of milliseconds, may hold that error steadily for a while, and then closes in
    // gradually rather than jumping: the first second or two of a capture cannot be timed.
    bool WaitSettled(double deadline) {
        for (;;) {
            pa_threaded_mainloop_lock(loop_);
            Miss miss = Miss::kNone;
            // Two spans in a row, as the tail of the closing-in can pass for steady in one.
            const bool settled = !marks_.empty() &&
                                 ClockAround(marks_, marks_.back().played - kFitSpan, miss) &&
                                 ClockAround(marks_, marks_.back().played - 3 * kFitSpan, miss);
            pa_threaded_mainloop_unlock(loop_);
            if (settled) {
                return true;
            }
            if (Now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Only after Stop(): the per-frame peak of both channels, and the fragment marks.
    const std::vector<float>& Peaks() const { return peaks_; }
    const std::vector<Mark>& Marks() const { return marks_; }
    std::size_t FragmentBytes() const { return fragmentBytes_; }
    int Overflows() const { return overflows_; }
    const std::string& Error() const { return error_; }

  private:
    bool Fail(const char* what) {
        error_ = what;
        if (context_ != nullptr && pa_context_errno(context_) != 0) {
            error_ += std::string(": ") + pa_strerror(pa_context_errno(context_));
        }
        return false;
    }

    static void Signal(pa_context*, void* self) {
        pa_threaded_mainloop_signal(static_cast<MonitorCapture*>(self)->loop_, 0);
    }
    static void StreamSignal(pa_stream*, void* self) {
        pa_threaded_mainloop_signal(static_cast<MonitorCapture*>(self)->loop_, 0);
    }
    static void Overflow(pa_stream*, void* self) { ++static_cast<MonitorCapture*>(self)->overflows_; }
    static void Read(pa_stream* stream, std::size_t, void* self) {
        static_cast<MonitorCapture*>(self)->Take(stream);
    }

    bool WaitContext() {
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) {
                return true;
            }
            if (!PA_CONTEXT_IS_GOOD(state)) {
                return Fail("cannot reach the sound server");
            }
            pa_threaded_mainloop_wait(loop_);
        }
    }

    bool Connect(const Options& options) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, kChannels};
        stream_ = pa_stream_new(context_, "latency monitor", &spec, nullptr);
        if (stream_ == nullptr) {
            return Fail("cannot make the capture stream");
        }
        pa_stream_set_state_callback(stream_, &MonitorCapture::StreamSignal, this);
        pa_stream_set_read_callback(stream_, &MonitorCapture::Read, this);
        pa_stream_set_overflow_callback(stream_, &MonitorCapture::Overflow, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(
            pa_usec_to_bytes(static_cast<pa_usec_t>(options.fragment * PA_USEC_PER_SEC), &spec));
        // Interpolated timing keeps the latency figure current between the server's timing updates,
        // which would otherwise make it stale by up to their interval.
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_record(stream_, options.source.c_str(), &attr, flags) < 0) {
            return Fail("cannot capture the monitor");
        }
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) {
                return true;
            }
            if (!PA_STREAM_IS_GOOD(state)) {
                return Fail("cannot capture the monitor");
            }
            pa_threaded_mainloop_wait(loop_);
        }
    }

    void Take(pa_stream* stream) {
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
                return;
            }
            const std::size_t frames = bytes / (sizeof(float) * kChannels);
            const auto* samples = static_cast<const float*>(data);
            for (std::size_t f = 0; f < frames; ++f) {
                // A hole in the stream (no data) is silence.
                const float peak = samples == nullptr ? 0.0f
                                                      : std::max(std::fabs(samples[f * kChannels]),
                                                                 std::fabs(samples[f * kChannels + 1]));
                peaks_.push_back(peak);
            }
            pa_stream_drop(stream);
            // After the drop the latency is that of the next frame to be read: the one after this
            // fragment, which the sink plays `latency` after now.
            const double stamp = Now();
            pa_usec_t latency = 0;
            int negative = 0;
            if (pa_stream_get_latency(stream, &latency, &negative) < 0) {
                continue;  // no timing yet
            }
            const double seconds = static_cast<double>(latency) / PA_USEC_PER_SEC * (negative ? -1 : 1);
            marks_.push_back({static_cast<std::int64_t>(peaks_.size()), stamp - seconds, stamp});
        }
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool running_ = false;
    std::string error_;
    std::size_t fragmentBytes_ = 0;
    int overflows_ = 0;
    std::vector<float> peaks_;
    std::vector<Mark> marks_;
};

// One hit's result: latency to the sink playing the first sample over the threshold, and to that
// sample reaching this program (no latency correction), in seconds.
struct Onset {
    double played;
    double arrived;
    double spread;  // of the clock that timed it
};

// Finds the first sample over the threshold within `longest` after t0, in the sink's playing time;
// the stretch just before t0 must be silent, or an earlier hit is still sounding and the onset could
// not be told.
std::optional<Onset> FindOnset(const MonitorCapture& capture, double t0, double longest, double threshold,
                               Miss& miss) {
    constexpr double kSilenceBefore = 0.05;
    const auto clock = ClockAround(capture.Marks(), t0, miss);
    if (!clock) {
        return std::nullopt;
    }
    const auto& peaks = capture.Peaks();
    auto frameAt = [&](double t) {
        return static_cast<std::int64_t>(std::ceil((t - clock->played) * kRate));
    };
    const std::int64_t quiet = frameAt(t0 - kSilenceBefore);
    const std::int64_t start = frameAt(t0);
    const std::int64_t end = frameAt(t0 + longest);
    if (quiet < 0 || end > static_cast<std::int64_t>(peaks.size())) {
        miss = Miss::kUncovered;
        return std::nullopt;
    }
    auto loud = [&](std::int64_t f) { return peaks[static_cast<std::size_t>(f)] >= threshold; };
    for (std::int64_t f = quiet; f < start; ++f) {
        if (loud(f)) {
            miss = Miss::kNoisy;
            return std::nullopt;
        }
    }
    for (std::int64_t f = start; f < end; ++f) {
        if (!loud(f)) {
            continue;
        }
        const double frames = static_cast<double>(f) / kRate;
        // A late onset (the device opening) is timed by the clock around itself.
        const auto there = ClockAround(capture.Marks(), clock->played + frames, miss);
        if (!there) {
            return std::nullopt;
        }
        return Onset{there->played + frames - t0, there->arrived + frames - t0, there->spread};
    }
    miss = Miss::kSilent;
    return std::nullopt;
}

struct Series {
    Series(std::string title, double longestWait) : name(std::move(title)), longest(longestWait) {}

    std::string name;
    double longest;
    std::vector<double> t0s;
    std::vector<Onset> onsets;
    int noisy = 0, silent = 0, uncovered = 0, unsteady = 0;

    void Analyse(const MonitorCapture& capture, double threshold) {
        for (double t0 : t0s) {
            Miss miss = Miss::kNone;
            if (auto onset = FindOnset(capture, t0, longest, threshold, miss)) {
                onsets.push_back(*onset);
            } else {
                noisy += miss == Miss::kNoisy;
                silent += miss == Miss::kSilent;
                uncovered += miss == Miss::kUncovered;
                unsteady += miss == Miss::kUnsteady;
            }
        }
    }
};

struct Stats {
    double median = NAN, p95 = NAN, min = NAN, max = NAN;
};

Stats Summarise(std::vector<double> values) {
    Stats s;
    if (values.empty()) {
        return s;
    }
    std::sort(values.begin(), values.end());
    auto rank = [&](double q) {
        return values[std::min(values.size() - 1,
                               static_cast<std::size_t>(std::ceil(q * values.size())) - 1)];
    };
    s.median = values.size() % 2 ? values[values.size() / 2]
                                 : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
    s.p95 = rank(0.95);
    s.min = values.front();
    s.max = values.back();
    return s;
}

Stats PlayedStats(const Series& series) {
    std::vector<double> v;
    for (const Onset& o : series.onsets) {
        v.push_back(o.played * 1000);
    }
    return Summarise(v);
}

void Print(const Series& series) {
    const Stats played = PlayedStats(series);
    std::vector<double> arrived;
    for (const Onset& o : series.onsets) {
        arrived.push_back(o.arrived * 1000);
    }
    const Stats got = Summarise(arrived);
    std::printf(
        "%-34s %4zu hits  median %6.2f ms  p95 %6.2f ms  min %6.2f  max %6.2f   (arrival: median %6.2f)\n",
        series.name.c_str(), series.onsets.size(), played.median, played.p95, played.min, played.max,
        got.median);
    if (series.noisy + series.silent + series.uncovered + series.unsteady > 0) {
        std::printf(
            "%-34s left out: %d not silent before the hit, %d without sound, %d not captured, %d with "
            "the capture's timing unsteady\n",
            "", series.noisy, series.silent, series.uncovered, series.unsteady);
    }
}

// The gap between hits gets a random part, so that hits do not lock to the period of the player's or
// the sink's buffers and the figures cover every phase.
class Pacer {
  public:
    explicit Pacer(double gap) : gap_(gap) {}
    double Next(double from) { return from + gap_ + jitter_(random_); }

  private:
    double gap_;
    std::mt19937 random_{42};
    std::uniform_real_distribution<double> jitter_{0.0, 0.02};
};

class KeyPresser {
  public:
    ~KeyPresser() {
        if (display_ != nullptr) {
            XCloseDisplay(display_);
        }
    }

    bool Open(const std::string& key) {
        display_ = XOpenDisplay(nullptr);
        if (display_ == nullptr) {
            return Fail("no X display");
        }
        int event = 0, error = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
            return Fail("no XTest on the display");
        }
        const KeySym sym = XStringToKeysym(key.c_str());
        keycode_ = sym == NoSymbol ? 0 : XKeysymToKeycode(display_, sym);
        if (keycode_ == 0) {
            return Fail("the key is not on the keyboard");
        }
        return true;
    }

    // Returns the time just before the press went out.
    double Hit() {
        const double t0 = Now();
        XTestFakeKeyEvent(display_, keycode_, True, CurrentTime);
        XTestFakeKeyEvent(display_, keycode_, False, CurrentTime);
        XFlush(display_);
        return t0;
    }

    const std::string& Error() const { return error_; }

  private:
    bool Fail(const char* what) {
        error_ = what;
        return false;
    }

    Display* display_ = nullptr;
    KeyCode keycode_ = 0;
    std::string error_;
};

// Plays a file through `player` (paplay, pw-play) and waits for it to end; returns the time just before
// the fork.
double SpawnPlayer(const std::string& player, const std::string& file) {
    const double t0 = Now();
    const pid_t child = fork();
    if (child == 0) {
        execlp(player.c_str(), player.c_str(), file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (child > 0) {
        waitpid(child, nullptr, 0);
    }
    return t0;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--source") {
            o.source = value;
        } else if (name == "--key") {
            o.key = value;
        } else if (name == "--hits") {
            o.hits = std::atoi(value);
        } else if (name == "--gap-ms") {
            o.gap = std::atof(value) / 1000;
        } else if (name == "--baseline") {
            o.baselineFile = value;
        } else if (name == "--baseline-hits") {
            o.baselineHits = std::atoi(value);
        } else if (name == "--delayed") {
            o.delayedFile = value;
        } else if (name == "--threshold") {
            o.threshold = std::atof(value);
        } else if (name == "--player") {
            o.player = value;
        } else if (name == "--fragment-ms") {
            o.fragment = std::atof(value) / 1000;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && o.hits > 0 && o.gap > 0 && o.baselineHits >= 0 && o.threshold > 0 &&
           o.fragment > 0;
}

void PrintCaptureQuality(const MonitorCapture& capture, const std::vector<const Series*>& all) {
    std::vector<double> lead, spread;
    for (const Mark& m : capture.Marks()) {
        lead.push_back((m.played - m.arrived) * 1000);
    }
    for (const Series* series : all) {
        for (const Onset& o : series->onsets) {
            spread.push_back(o.spread * 1000);
        }
    }
    const Stats l = Summarise(lead);
    const Stats s = Summarise(spread);
    std::printf("capture: fragment size %.2f ms, %zu deliveries, %d overflows\n",
                static_cast<double>(capture.FragmentBytes()) / (sizeof(float) * kChannels) / kRate * 1000,
                capture.Marks().size(), capture.Overflows());
    std::printf(
        "capture: the sink plays a frame %.2f ms (median) after it reaches this program; the capture "
        "thread ran up to %.1f ms late, which the latency correction takes out\n",
        l.median, -l.min);
    std::printf(
        "capture: around a hit the fragments agree on the time of a frame within %.3f ms (median), "
        "%.3f ms (worst hit), 10th to 90th percentile\n",
        s.median, s.max);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: bench_latency [--key 3] [--hits 200] [--gap-ms 300] [--baseline FILE] "
                     "[--baseline-hits 50] [--delayed FILE] [--threshold 0.01] [--fragment-ms 2] "
                     "[--source testsink.monitor] [--player paplay|pw-play]\n");
        return 2;
    }
    KeyPresser keys;
    if (!keys.Open(options.key)) {
        std::fprintf(stderr, "%s\n", keys.Error().c_str());
        return 1;
    }
    MonitorCapture capture;
    if (!capture.Start(options)) {
        std::fprintf(stderr, "%s\n", capture.Error().c_str());
        return 1;
    }
    const double runDeadline = Now() + 60 + (options.hits + 3.0 * options.baselineHits) * (options.gap + 1);
    if (!capture.WaitSettled(Now() + 10)) {
        std::fprintf(stderr, "the capture's timing does not settle\n");
        return 1;
    }

    Pacer pacer(options.gap);
    Series first("first key hit (opens the device)", kDeviceOpening);
    Series zorvik("key -> sound, Zorvik", 1.0);
    first.t0s.push_back(keys.Hit());
    // Opening the device takes its time; give the first hit all of it before the next one.
    SleepUntil(first.t0s.back() + kDeviceOpening);
    double next = Now();
    for (int i = 0; i < options.hits; ++i) {
        SleepUntil(next);
        zorvik.t0s.push_back(keys.Hit());
        next = pacer.Next(zorvik.t0s.back());
    }

    Series baseline("spawn -> sound, " + options.player, 1.0);
    Series delayed("spawn -> sound, " + options.player + ", delayed file", 1.0);
    for (int i = 0; i < options.baselineHits && !options.baselineFile.empty(); ++i) {
        // Alternating the two files spreads any drift of the server over both alike.
        for (auto* series : {&baseline, &delayed}) {
            const std::string& file = series == &baseline ? options.baselineFile : options.delayedFile;
            if (file.empty()) {
                continue;
            }
            SleepUntil(next);
            series->t0s.push_back(SpawnPlayer(options.player, file));
            // The player returns once its stream has drained, so the sound is over; the gap still applies
            // from the start, and a short pause lets the sink's tail clear.
            next = std::max(pacer.Next(series->t0s.back()), Now() + 0.05);
        }
    }

    if (!capture.WaitCovered(next + 1.0, runDeadline)) {
        std::fprintf(stderr, "the capture fell behind\n");
    }
    capture.Stop();

    for (auto* series : {&first, &zorvik, &baseline, &delayed}) {
        series->Analyse(capture, options.threshold);
    }
    PrintCaptureQuality(capture, {&first, &zorvik, &baseline, &delayed});
    for (auto* series : {&first, &zorvik, &baseline, &delayed}) {
        if (!series->t0s.empty()) {
            Print(*series);
        }
    }
    const Stats z = PlayedStats(zorvik);
    if (!baseline.onsets.empty()) {
        const Stats b = PlayedStats(baseline);
        std::printf("%s / Zorvik, medians: %.1f x\n", options.player.c_str(), b.median / z.median);
        if (!delayed.onsets.empty()) {
            const Stats d = PlayedStats(delayed);
            std::printf(
                "delayed file minus plain file: %.2f ms between the fastest hits, %.2f ms between "
                "the medians\n",
                d.min - b.min, d.median - b.median);
        }
    }
    return zorvik.onsets.empty() ? 1 : 0;
}
