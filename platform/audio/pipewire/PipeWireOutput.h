#pragma once
// A native PipeWire playback node for the drum pads, with no PulseAudio layer in between.
// pipewire-pulse gives PulseAudio clients a 256-frame quantum at best and takes no rewrite, so a hit
// waited 24 ms there; a node of our own asks the graph for 64 frames and is pulled straight from the
// graph's real-time data thread.
//
// It is a pw_stream rather than a pw_filter: the session manager links a stream to the default sink
// and moves it when the default changes, while a filter's ports would have to be linked, and relinked,
// by us. The MIDI input is therefore a node of its own, "<app> <stream> MIDI" with a port "midi_in":
// a filter on the same connection, so its cycle runs on the same data thread as the drums' own, and in
// the same node group, so the same driver runs both and their graph clocks agree. A note is played in
// the drums' next cycle at its own frame offset: one cycle after its time, never more, never less,
// whichever of the two nodes the graph runs first. Hardware MIDI sources (the ports the ALSA sequencer
// bridge marks physical) are linked to the input as they appear, at start and when plugged in later.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "AudioOutput.h"
#include "OutputTiming.h"
#include "SpscRing.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct pw_filter;
struct spa_loop;
struct spa_io_position;

namespace zorvik::platform::audio {

class PipeWireOutput final : public AudioOutput {
  public:
    // The graph period the node asks for first; the graph may grant more. A data thread that misses a
    // cycle (no real-time priority, a busy machine) makes the node ask for twice as much, up to
    // kMaxQuantum, so a machine that cannot keep up settles where it plays cleanly; after kCalmNs
    // without a miss it asks for half again, so one stall costs latency for seconds, not the session.
    static constexpr int kQuantum = 64;
    static constexpr int kMaxQuantum = 1024;
    static constexpr std::int64_t kCalmNs = 4'000'000'000;

    // Connects to the PipeWire daemon and starts a node named "<appName> <streamName>" linked to the
    // default sink, and with `options.midi` its MIDI input node; nullptr when no daemon answers within
    // the connect timeout or it refuses the drums' node. A MIDI node the daemon refuses leaves the drums
    // without MIDI.
    static std::unique_ptr<AudioOutput> Open(const OutputFormat& format, RenderCallback render,
                                             const OpenOptions& options);
    ~PipeWireOutput() override;
    PipeWireOutput(const PipeWireOutput&) = delete;
    PipeWireOutput& operator=(const PipeWireOutput&) = delete;

    bool Alive() const override { return alive_.load(std::memory_order_relaxed); }
    const char* Name() const override { return NameOf(OutputKind::kPipeWire); }
    std::chrono::microseconds Latency() const override;
    bool HasMidiInput() const override { return midiNode_ != nullptr; }

  private:
    // A MIDI message and the graph frame it plays at.
    struct MidiEvent {
        std::uint64_t frame = 0;
        std::uint8_t size = 0;
        std::uint8_t bytes[3]{};
    };

    PipeWireOutput(const OutputFormat& format, RenderCallback render, MidiCallback midi);
    bool Connect(const std::string& appName, const std::string& streamName,
                 std::chrono::milliseconds timeout);
    void AddMidiNode(const std::string& nodeName, const std::string& group);
    // Loop thread: links every hardware MIDI source seen to the input, once the input's port is known.
    void LinkMidiSources();

    struct Hooks;
    static void OnProcess(void* self);
    static void OnMidiProcess(void* self, spa_io_position* position);
    // Renders `frames` frames into `out`, handing over the MIDI messages due in them at their frames.
    void RenderWithMidi(float* out, uint32_t frames);
    // Runs in the data thread: takes the position area `data` points to.
    static int SetPosition(struct spa_loop* loop, bool async, uint32_t seq, const void* data,
                           std::size_t size, void* self);
    // Runs in the loop thread: asks the graph for the quantum the data thread settled on.
    static int AskForQuantum(struct spa_loop* loop, bool async, uint32_t seq, const void* data,
                             std::size_t size, void* self);

    const OutputFormat format_;
    const RenderCallback render_;
    const MidiCallback midi_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    pw_filter* midiNode_ = nullptr;
    void* midiPort_ = nullptr;
    std::unique_ptr<Hooks> hooks_;
    std::atomic<bool> alive_{false};
    // Frames from the one rendered last to the sink, as the graph said at the last cycle.
    std::atomic<long long> latencyUs_{0};
    // Data thread only: the graph's clock at the last cycle, the frames it asked for then, and the
    // period the drums want.
    GraphClock lastClock_{};
    uint32_t lastFrames_ = 0;
    PeriodKeeper period_{kQuantum, kMaxQuantum, kCalmNs};
    // Written by the data thread, read by the loop thread.
    std::atomic<int> quantum_{kQuantum};
    int asked_ = kQuantum;  // loop thread only: the period asked for last
    // The graph's position, set by the graph for the drums' node; data thread only.
    spa_io_position* position_ = nullptr;
    // From the MIDI node's cycle to the drums'. Data thread only: the message taken but not yet due.
    SpscRing<MidiEvent, 512> midiEvents_;
    MidiEvent pending_{};
    bool havePending_ = false;
};

}  // namespace zorvik::platform::audio
