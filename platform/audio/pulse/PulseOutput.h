#pragma once
// A playback stream straight to a PulseAudio server, for the drum pads. SDL's PulseAudio back end
// refills its stream only once the server has drained it, so whatever buffer it is given, the margin
// against a late audio thread is just the server's own few milliseconds: on a busy machine that
// crackles. This stream is topped up at every request from the server, and when the server still runs
// dry it asks for a longer buffer, so a machine that cannot keep up settles at the lowest latency it
// can play cleanly. On a PulseAudio server a hit need not wait behind that buffer: the queued frames
// the sink cannot have reached yet are written again, with the hit in them.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "AudioOutput.h"
#include "OutputTiming.h"
#include "PulseContext.h"

struct pa_stream;

namespace zorvik::platform::audio {

class PulseOutput final : public AudioOutput {
  public:
    struct Options {
        // The first buffer asked for, the server's share included. A hit waits all of it where the
        // server does not take rewrites, and about the sink's share of it where it does.
        std::chrono::microseconds target{15'000};
        // What Rewrite() leaves of the queued audio beyond what the sink may have taken, for the time
        // the rewrite takes to reach the server. Cut too fine, a hit loses its first fraction of a
        // millisecond where the sink's monitor records it. Every millisecond of it is a millisecond
        // on every hit: at 3 ms a hit came 1.6 ms after a per-hit paplay's (median, bench/latency.sh);
        // at 2 ms, 0.2 ms after, within paplay's own spread from run to run.
        std::chrono::microseconds rewriteMargin{2'000};
        // Each time the server runs dry the buffer grows by half, never past this; after `calm` without
        // running dry it shrinks again, step by step, back to `target`.
        std::chrono::microseconds maxTarget{40'000};
        std::chrono::milliseconds calm{4'000};
    };

    // Connects to the default server and starts a stereo float stream at `rate` frames per second;
    // nullptr when there is no server or it refuses. `render` runs on the stream's own thread, and in
    // Rewrite() on the caller's.
    // Only stereo: the server converts for the sink.
    static std::unique_ptr<AudioOutput> Open(const OutputFormat& format, RenderCallback render,
                                             const OpenOptions& options) {
        return Open(format, std::move(render), options, Options{});
    }
    static std::unique_ptr<PulseOutput> Open(const OutputFormat& format, RenderCallback render,
                                             const OpenOptions& options, const Options& tuning);
    ~PulseOutput() override;
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    // Holds the stream still (the loop's lock) while `change` runs, telling it 0 when the server does not
    // say where it reads or may not take audio written back. Always true: the render is held.
    bool Rewrite(const Change& change) override;

    bool Alive() const override { return alive_.load(std::memory_order_relaxed) && context_->Alive(); }
    const char* Name() const override { return NameOf(OutputKind::kPulse); }
    std::chrono::microseconds Latency() const override;

  private:
    PulseOutput(int rate, RenderCallback render, const Options& options);
    bool Connect(const char* appName, const char* streamName, std::chrono::milliseconds timeout);
    bool TakesRewrites();
    std::size_t FramesNotTaken() const;
    std::uint32_t BytesFor(long long us) const;

    static void OnStreamState(pa_stream* stream, void* self);
    static void OnWrite(pa_stream* stream, std::size_t bytes, void* self);
    void KeepBuffer(pa_stream* stream, bool ranDry);
    static void OnUnderflow(pa_stream* stream, void* self);

    const int rate_;
    const RenderCallback render_;
    const Options options_;
    std::unique_ptr<PulseContext> context_;
    pa_stream* stream_ = nullptr;
    bool rewritable_ = false;  // set before the stream starts
    std::atomic<bool> alive_{false};
    long long targetUs_;   // the buffer asked for now; guarded by the loop's lock
    PeriodKeeper buffer_;  // the buffer wanted, in microseconds; guarded by the loop's lock
    std::atomic<long long> latencyUs_{0};
};

}  // namespace zorvik::platform::audio
