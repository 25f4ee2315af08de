#pragma once
// A playback stream straight to a PulseAudio server (or PipeWire's PulseAudio service), for the drum
// pads. SDL's PulseAudio back end refills its stream only once the server has drained it, so whatever
// buffer it is given, the margin against a late audio thread is just the server's own few milliseconds:
// on a busy machine that crackles. This stream is topped up at every request from the server, and
// when the server still runs dry it asks for a longer buffer, so a machine that cannot keep up settles
// at the lowest latency it can play cleanly. On a PulseAudio server a hit need not wait behind that
// buffer: the queued frames the sink cannot have reached yet are written again, with the hit in them.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace zorvik::platform::sdl {

class PulseOutput {
  public:
    // Writes the next `frames` interleaved stereo float frames. Runs on the stream's own thread, and in
    // Rewrite() on the caller's.
    using Render = std::function<void(float* out, std::size_t frames)>;
    // Given how many written frames may be taken back, steps the audio back over up to that many and
    // returns how many; what it changes after stepping back is then heard that much sooner.
    using Change = std::function<std::size_t(std::size_t maxBack)>;

    struct Options {
        // The first buffer asked for, the server's share included. A hit waits all of it where the
        // server does not take rewrites, and about the sink's share of it where it does.
        std::chrono::microseconds target{15'000};
        // What Rewrite() leaves of the queued audio beyond what the sink may have taken, for the time
        // the rewrite takes to reach the server. Cut too fine, a hit loses its first fraction of a
        // millisecond where the sink's monitor records it.
        std::chrono::microseconds rewriteMargin{3'000};
        // The buffer never grows past this, however often the server runs dry.
        std::chrono::microseconds maxTarget{40'000};
        // A server that neither answers nor refuses within this long counts as absent.
        std::chrono::milliseconds connectTimeout{2'000};
    };

    // Connects to the default server and starts a stereo float stream at `rate` frames per second;
    // nullptr when there is no server or it refuses. Never starts a server of its own.
    static std::unique_ptr<PulseOutput> Open(const char* appName, const char* streamName, int rate,
                                             Render render, const Options& options);
    static std::unique_ptr<PulseOutput> Open(const char* appName, const char* streamName, int rate,
                                             Render render) {
        return Open(appName, streamName, rate, std::move(render), Options{});
    }
    ~PulseOutput();
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    // Runs `change` with the stream held still, then writes the frames it stepped back over again. Tells
    // it 0 when the server does not say where it reads, or may not take audio written back.
    void Rewrite(const Change& change);

    // False once the server has gone or dropped the stream; the stream never comes back by itself.
    bool Alive() const { return alive_.load(std::memory_order_relaxed); }

  private:
    PulseOutput(int rate, Render render, const Options& options);
    bool Connect(const char* appName, const char* streamName);
    bool WaitUntilReady();
    bool TakesRewrites();
    std::size_t FramesNotTaken() const;
    std::uint32_t BytesFor(long long us) const;

    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void OnUnderflow(pa_stream* stream, void* self);

    const int rate_;
    const Render render_;
    const Options options_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool timedOut_ = false;    // guarded by the loop's lock
    bool rewritable_ = false;  // set before the stream starts
    std::atomic<bool> alive_{false};
    long long targetUs_;  // the buffer asked for now; guarded by the loop's lock
};

}  // namespace zorvik::platform::sdl
