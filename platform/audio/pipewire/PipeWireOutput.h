#pragma once
// A native PipeWire playback node for the drum pads, with no PulseAudio layer in between.
// pipewire-pulse gives PulseAudio clients a 256-frame quantum at best and takes no rewrite, so a hit
// waited 24 ms there; a node of our own asks the graph for 64 frames and is pulled straight from the
// graph's real-time data thread.
//
// It is a pw_stream rather than a pw_filter: the session manager links a stream to the default sink
// and moves it when the default changes, while a filter's ports would have to be linked, and relinked,
// by us. A MIDI input needs a node of its own either way.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "AudioOutput.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct spa_loop;

namespace zorvik::platform::audio {

class PipeWireOutput final : public AudioOutput {
  public:
    // The graph period the node asks for first; the graph may grant more. A data thread that misses a
    // cycle (no real-time priority, a busy machine) makes the node ask for twice as much, up to
    // kMaxQuantum, so a machine that cannot keep up settles where it plays cleanly.
    static constexpr int kQuantum = 64;
    static constexpr int kMaxQuantum = 1024;

    // Connects to the PipeWire daemon and starts a node named "Zorvik <streamName>" linked to the
    // default sink; nullptr when no daemon answers within `timeout` or it refuses the node.
    static std::unique_ptr<PipeWireOutput> Open(const OutputFormat& format, RenderCallback render,
                                                const std::string& appName, const std::string& streamName,
                                                std::chrono::milliseconds timeout);
    ~PipeWireOutput() override;
    PipeWireOutput(const PipeWireOutput&) = delete;
    PipeWireOutput& operator=(const PipeWireOutput&) = delete;

    bool Alive() const override { return alive_.load(std::memory_order_relaxed); }
    const char* Name() const override { return "pipewire"; }
    std::chrono::microseconds Latency() const override;

  private:
    PipeWireOutput(const OutputFormat& format, RenderCallback render);
    bool Connect(const std::string& appName, const std::string& streamName,
                 std::chrono::milliseconds timeout);

    struct Hooks;
    static void OnProcess(void* self);
    // Runs in the loop thread: asks the graph for the quantum the data thread settled on.
    static int AskForQuantum(struct spa_loop* loop, bool async, uint32_t seq, const void* data,
                             std::size_t size, void* self);

    const OutputFormat format_;
    const RenderCallback render_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    std::unique_ptr<Hooks> hooks_;
    std::atomic<bool> alive_{false};
    // Frames from the one rendered last to the sink, as the graph said at the last cycle.
    std::atomic<long long> latencyUs_{0};
    // Data thread only: the graph's clock at the last cycle and the frames it asked for then.
    uint64_t lastTicks_ = 0;
    uint32_t lastFrames_ = 0;
    // Written by the data thread, read by the loop thread.
    std::atomic<int> quantum_{kQuantum};
};

}  // namespace zorvik::platform::audio
