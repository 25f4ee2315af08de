#include "PipeWireOutput.h"

#include <pipewire/filter.h>
#include <pipewire/pipewire.h>
#include <spa/control/control.h>
#include <spa/node/io.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/iter.h>
#include <spa/utils/result.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>
#include <vector>

#include "Identity.h"
#include "MidiChunk.h"
#include "MidiPorts.h"

namespace zorvik::platform::audio {

// The listeners and their state, kept apart so the header needs no PipeWire types.
struct PipeWireOutput::Hooks {
    PipeWireOutput* owner = nullptr;
    spa_hook coreListener{};
    spa_hook streamListener{};
    spa_hook midiListener{};
    pw_core_events coreEvents{};
    pw_stream_events streamEvents{};
    pw_filter_events midiEvents{};
    // Loop thread only: the registry, the MIDI ports it shows and the links we made to them.
    pw_registry* registry = nullptr;
    spa_hook registryListener{};
    pw_registry_events registryEvents{};
    MidiPorts<pw_proxy*> midiPorts;
    int syncSeq = -1;
    bool synced = false;   // guarded by the loop's lock
    bool failed = false;   // guarded by the loop's lock
    bool started = false;  // guarded by the loop's lock
};

namespace {

// pw_init keeps a count, so every opening may call it; the library stays loaded for the process.
void InitOnce() {
    static const bool done = [] {
        pw_init(nullptr, nullptr);
        return true;
    }();
    (void)done;
}

bool Is(const spa_dict* props, const char* key, std::string_view value) {
    const char* found = spa_dict_lookup(props, key);
    return found != nullptr && value == found;
}

}  // namespace

// A message further ahead than this is not on the drums' clock (the two nodes were not yet run by one
// driver); it plays at once rather than waiting for a frame that may never come.
constexpr double kMaxMidiLeadSeconds = 2.0 * PipeWireOutput::kMaxQuantum / 48000;

PipeWireOutput::PipeWireOutput(const OutputFormat& format, RenderCallback render, MidiCallback midi)
    : format_(format), render_(std::move(render)), midi_(std::move(midi)), hooks_(std::make_unique<Hooks>()) {
    hooks_->owner = this;
}

std::unique_ptr<AudioOutput> PipeWireOutput::Open(const OutputFormat& format, RenderCallback render,
                                                  const OpenOptions& options) {
    std::unique_ptr<PipeWireOutput> output(new PipeWireOutput(format, std::move(render), options.midi));
    if (!output->Connect(options.appName, options.streamName, options.connectTimeout)) {
        return nullptr;
    }
    return output;
}

bool PipeWireOutput::Connect(const std::string& appName, const std::string& streamName,
                             std::chrono::milliseconds timeout) {
    InitOnce();
    loop_ = pw_thread_loop_new("zorvik-pw", nullptr);
    if (loop_ == nullptr) {
        return false;
    }
    // client-rt.conf loads the rt module, which gives the data thread real-time priority (through
    // RTKit where the user may not raise it alone).
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_),
                              pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (context_ == nullptr) {
        context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    }
    if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) {
        return false;
    }

    pw_thread_loop_lock(loop_);
    // Fails at once when there is no daemon's socket; a daemon that accepts it must still answer.
    core_ = pw_context_connect(context_, nullptr, 0);
    bool ready = core_ != nullptr;
    timespec deadline{};
    pw_thread_loop_get_time(loop_, &deadline, static_cast<int64_t>(timeout.count()) * SPA_NSEC_PER_MSEC);
    auto wait = [&](const bool& done) {
        while (!done && !hooks_->failed) {
            if (pw_thread_loop_timed_wait_full(loop_, &deadline) != 0) {
                return false;
            }
        }
        return done && !hooks_->failed;
    };
    if (ready) {
        hooks_->coreEvents.version = PW_VERSION_CORE_EVENTS;
        hooks_->coreEvents.done = [](void* data, uint32_t id, int seq) {
            auto* hooks = static_cast<Hooks*>(data);
            if (id == PW_ID_CORE && seq == hooks->syncSeq) {
                hooks->synced = true;
                pw_thread_loop_signal(hooks->owner->loop_, false);
            }
        };
        hooks_->coreEvents.error = [](void* data, uint32_t id, int, int res, const char*) {
            auto* hooks = static_cast<Hooks*>(data);
            // An error on the core itself (the daemon went away: -EPIPE) ends the connection.
            if (id == PW_ID_CORE || res == -EPIPE) {
                hooks->failed = true;
                hooks->owner->alive_ = false;
                pw_thread_loop_signal(hooks->owner->loop_, false);
            }
        };
        pw_core_add_listener(core_, &hooks_->coreListener, &hooks_->coreEvents, hooks_.get());
        hooks_->syncSeq = pw_core_sync(core_, PW_ID_CORE, 0);
        ready = wait(hooks_->synced);
    }
    const std::string nodeName = appName + " " + streamName;
    const std::string group = "zorvik-drums-" + std::to_string(getpid());
    if (ready) {
        const std::string latency = std::to_string(kQuantum) + "/" + std::to_string(format_.rate);
        pw_properties* props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Production",
            PW_KEY_APP_NAME, appName.c_str(), PW_KEY_APP_ID, kAppId, PW_KEY_APP_ICON_NAME, kAppId,
            PW_KEY_NODE_NAME, nodeName.c_str(), PW_KEY_NODE_DESCRIPTION, nodeName.c_str(), PW_KEY_MEDIA_NAME,
            streamName.c_str(), PW_KEY_NODE_LATENCY, latency.c_str(), PW_KEY_NODE_GROUP, group.c_str(),
            nullptr);
        stream_ = pw_stream_new(core_, streamName.c_str(), props);
        ready = stream_ != nullptr;
    }
    if (ready) {
        hooks_->streamEvents.version = PW_VERSION_STREAM_EVENTS;
        hooks_->streamEvents.state_changed = [](void* data, pw_stream_state, pw_stream_state state,
                                                const char*) {
            auto* hooks = static_cast<Hooks*>(data);
            if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
                hooks->failed = true;
                hooks->owner->alive_ = false;
            } else if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) {
                hooks->started = true;
            }
            pw_thread_loop_signal(hooks->owner->loop_, false);
        };
        hooks_->streamEvents.process = [](void* data) { OnProcess(static_cast<Hooks*>(data)->owner); };
        // The graph sets the area on the loop thread and may free the old one as soon as this returns,
        // while the data thread reads it every cycle: the pointer is handed over on the data thread
        // itself, between two cycles, and this waits for that.
        hooks_->streamEvents.io_changed = [](void* data, uint32_t id, void* area, uint32_t) {
            if (id != SPA_IO_Position) {
                return;
            }
            PipeWireOutput* owner = static_cast<Hooks*>(data)->owner;
            pw_loop_invoke(pw_data_loop_get_loop(pw_context_get_data_loop(owner->context_)), &SetPosition,
                           SPA_ID_INVALID, &area, sizeof area, true, owner);
        };
        pw_stream_add_listener(stream_, &hooks_->streamListener, &hooks_->streamEvents, hooks_.get());

        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_F32;
        info.rate = static_cast<uint32_t>(format_.rate);
        info.channels = static_cast<uint32_t>(format_.channels);
        if (format_.channels == 2) {
            info.position[0] = SPA_AUDIO_CHANNEL_FL;
            info.position[1] = SPA_AUDIO_CHANNEL_FR;
        }
        uint8_t buffer[1024];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, buffer, sizeof(buffer));
        const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        const auto flags = static_cast<pw_stream_flags>(
            PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
        alive_ = true;
        ready = pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) == 0 &&
                wait(hooks_->started);
    }
    if (ready && midi_) {
        AddMidiNode(nodeName + " MIDI", group);
    }
    latencyUs_ = 2LL * kQuantum * 1'000'000 / format_.rate;
    alive_ = ready;
    pw_thread_loop_unlock(loop_);
    return ready;
}

// With the loop locked. The node takes raw MIDI on one port; it has no media class, so the session
// manager leaves its links to the user and to us.
void PipeWireOutput::AddMidiNode(const std::string& nodeName, const std::string& group) {
    pw_properties* props =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Midi", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE,
                          "DSP", PW_KEY_NODE_NAME, nodeName.c_str(), PW_KEY_NODE_DESCRIPTION,
                          nodeName.c_str(), PW_KEY_NODE_GROUP, group.c_str(), nullptr);
    midiNode_ = pw_filter_new(core_, nodeName.c_str(), props);
    if (midiNode_ == nullptr) {
        return;
    }
    hooks_->midiEvents.version = PW_VERSION_FILTER_EVENTS;
    hooks_->midiEvents.process = [](void* data, spa_io_position* position) {
        OnMidiProcess(static_cast<Hooks*>(data)->owner, position);
    };
    // The input's own port shows up in the registry only once the node is there, so sources seen
    // before it are linked when it is.
    hooks_->midiEvents.state_changed = [](void* data, pw_filter_state, pw_filter_state state, const char*) {
        if (state == PW_FILTER_STATE_PAUSED || state == PW_FILTER_STATE_STREAMING) {
            static_cast<Hooks*>(data)->owner->LinkMidiSources();
        }
    };
    pw_filter_add_listener(midiNode_, &hooks_->midiListener, &hooks_->midiEvents, hooks_.get());
    midiPort_ = pw_filter_add_port(
        midiNode_, PW_DIRECTION_INPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
        pw_properties_new(PW_KEY_FORMAT_DSP, "8 bit raw midi", PW_KEY_PORT_NAME, "midi_in", nullptr), nullptr,
        0);
    if (midiPort_ == nullptr || pw_filter_connect(midiNode_, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0) < 0) {
        spa_hook_remove(&hooks_->midiListener);
        pw_filter_destroy(midiNode_);
        midiNode_ = nullptr;
        midiPort_ = nullptr;
        std::fprintf(stderr,
                     "zorvik: PipeWire refused the MIDI input; the drums play from the keyboard only\n");
        return;
    }
    hooks_->registry = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
    if (hooks_->registry == nullptr) {
        return;
    }
    hooks_->registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    hooks_->registryEvents.global = [](void* data, uint32_t id, uint32_t, const char* type, uint32_t,
                                       const spa_dict* portProps) {
        auto* hooks = static_cast<Hooks*>(data);
        if (portProps == nullptr || std::string_view(type) != PW_TYPE_INTERFACE_Port ||
            !Is(portProps, PW_KEY_FORMAT_DSP, "8 bit raw midi")) {
            return;
        }
        const char* node = spa_dict_lookup(portProps, PW_KEY_NODE_ID);
        if (node == nullptr) {
            return;
        }
        const auto nodeId = static_cast<uint32_t>(std::strtoul(node, nullptr, 10));
        if (Is(portProps, PW_KEY_PORT_DIRECTION, "in")) {
            hooks->midiPorts.AddInput(id, nodeId);
        } else if (Is(portProps, PW_KEY_PORT_DIRECTION, "out") &&
                   Is(portProps, PW_KEY_PORT_PHYSICAL, "true")) {
            const char* serial = spa_dict_lookup(portProps, PW_KEY_OBJECT_SERIAL);
            // A daemon too old to give serials: the id, which it then does not reuse while the port lives.
            hooks->midiPorts.AddSource(
                id, nodeId,
                serial != nullptr ? std::strtoull(serial, nullptr, 10) : (std::uint64_t{1} << 32) + id);
        } else {
            return;
        }
        hooks->owner->LinkMidiSources();
    };
    hooks_->registryEvents.global_remove = [](void* data, uint32_t id) {
        static_cast<Hooks*>(data)->midiPorts.Remove(id, [](pw_proxy* link) { pw_proxy_destroy(link); });
    };
    pw_registry_add_listener(hooks_->registry, &hooks_->registryListener, &hooks_->registryEvents,
                             hooks_.get());
}

void PipeWireOutput::LinkMidiSources() {
    const uint32_t node = midiNode_ != nullptr ? pw_filter_get_node_id(midiNode_) : SPA_ID_INVALID;
    if (node == SPA_ID_INVALID) {
        return;
    }
    hooks_->midiPorts.LinkTo(
        node, [this](uint32_t sourceNode, uint32_t port, uint32_t inputNode, uint32_t input) {
            pw_properties* props = pw_properties_new(PW_KEY_OBJECT_LINGER, "false", nullptr);
            pw_properties_setf(props, PW_KEY_LINK_OUTPUT_NODE, "%u", sourceNode);
            pw_properties_setf(props, PW_KEY_LINK_OUTPUT_PORT, "%u", port);
            pw_properties_setf(props, PW_KEY_LINK_INPUT_NODE, "%u", inputNode);
            pw_properties_setf(props, PW_KEY_LINK_INPUT_PORT, "%u", input);
            auto* link = static_cast<pw_proxy*>(pw_core_create_object(
                core_, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
            pw_properties_free(props);
            return link;
        });
}

// On the data thread. Each message is placed one cycle after its own frame, where the drums' next cycle
// will find it whether it runs before or after this one.
void PipeWireOutput::OnMidiProcess(void* self, spa_io_position* position) {
    auto* output = static_cast<PipeWireOutput*>(self);
    if (position == nullptr) {
        return;
    }
    const uint32_t frames = static_cast<uint32_t>(position->clock.duration);
    pw_buffer* buffer = pw_filter_dequeue_buffer(output->midiPort_);
    if (buffer == nullptr) {
        return;
    }
    if (buffer->buffer->n_datas > 0 && buffer->buffer->datas[0].chunk != nullptr) {
        spa_data& data = buffer->buffer->datas[0];
        ForEachMidiMessage(data.data, data.maxsize, data.chunk->offset, data.chunk->size,
                           [&](uint32_t offset, const std::uint8_t* bytes, uint32_t size) {
                               MidiEvent event;
                               event.frame = position->clock.position + offset + frames;
                               event.size = static_cast<std::uint8_t>(size);
                               std::memcpy(event.bytes, bytes, size);
                               // A full queue means the drums have stopped running; the message could not
                               // be heard anyway.
                               (void)output->midiEvents_.Push(std::move(event));
                           });
    }
    pw_filter_queue_buffer(output->midiPort_, buffer);
}

void PipeWireOutput::RenderWithMidi(float* out, uint32_t frames) {
    const std::size_t channels = static_cast<std::size_t>(format_.channels);
    const std::uint64_t first = position_ != nullptr ? position_->clock.position : 0;
    // The MIDI node's frames are the graph's, which need not run at the drums' rate.
    const std::uint32_t graphRate = position_ != nullptr && position_->clock.rate.num == 1
                                        ? position_->clock.rate.denom
                                        : static_cast<std::uint32_t>(format_.rate);
    std::uint64_t done = 0;
    while (havePending_ || midiEvents_.Pop(pending_)) {
        havePending_ = true;
        // Late (a cycle missed) or not on this clock: at once.
        std::uint64_t at = MidiOffset(pending_.frame, first, graphRate, format_.rate, kMaxMidiLeadSeconds);
        if (at >= frames) {
            break;
        }
        at = std::max(at, done);
        if (at > done) {
            render_(out + done * channels, static_cast<std::size_t>(at - done));
            done = at;
        }
        midi_(pending_.bytes, pending_.size);
        havePending_ = false;
    }
    if (done < frames) {
        render_(out + done * channels, static_cast<std::size_t>(frames - done));
    }
}

void PipeWireOutput::OnProcess(void* self) {
    auto* output = static_cast<PipeWireOutput*>(self);
    pw_buffer* buffer = pw_stream_dequeue_buffer(output->stream_);
    if (buffer == nullptr) {
        return;
    }
    spa_data& data = buffer->buffer->datas[0];
    const auto stride =
        static_cast<uint32_t>(sizeof(float) * static_cast<std::size_t>(output->format_.channels));
    if (data.data == nullptr) {
        pw_stream_queue_buffer(output->stream_, buffer);
        return;
    }
    uint32_t frames = data.maxsize / stride;
    if (buffer->requested != 0 && buffer->requested < frames) {
        frames = static_cast<uint32_t>(buffer->requested);
    }
    if (output->midi_) {
        output->RenderWithMidi(static_cast<float*>(data.data), frames);
    } else {
        output->render_(static_cast<float*>(data.data), frames);
    }
    data.chunk->offset = 0;
    data.chunk->stride = static_cast<int32_t>(stride);
    data.chunk->size = frames * stride;
    pw_stream_queue_buffer(output->stream_, buffer);

    // The frames just rendered reach the sink after the graph's delay; both are in the graph's time.
    pw_time time{};
    if (pw_stream_get_time_n(output->stream_, &time, sizeof(time)) == 0 && time.rate.denom != 0) {
        const long long delayUs = time.delay * 1'000'000LL * time.rate.num / time.rate.denom;
        output->latencyUs_.store(delayUs + frames * 1'000'000LL / output->format_.rate,
                                 std::memory_order_relaxed);
        // The graph's clock moving on by more than one cycle means a cycle went by without this node: the
        // sink played silence there.
        const GraphClock clock{time.ticks, time.rate.num, time.rate.denom, time.now};
        const bool missed = output->lastFrames_ != 0 &&
                            MissedCycle(output->lastClock_, clock, output->lastFrames_, output->format_.rate);
        const int before = output->period_.Period();
        // Our own wake-up time, not the graph's: the cycles a stalled daemon catches up on carry the
        // times they were due, spread over the stall, but come one after another now, and are one burst.
        timespec woke{};
        clock_gettime(CLOCK_MONOTONIC, &woke);
        const int wanted = output->period_.Cycle(std::int64_t{woke.tv_sec} * 1'000'000'000 + woke.tv_nsec,
                                                 static_cast<int>(frames), missed);
        if (wanted != before) {
            output->quantum_.store(wanted, std::memory_order_relaxed);
            // Queues the call for the loop thread without a lock or an allocation.
            pw_loop_invoke(pw_thread_loop_get_loop(output->loop_), &AskForQuantum, 0, nullptr, 0, false,
                           output);
        }
        output->lastClock_ = clock;
        output->lastFrames_ = frames;
    }
}

int PipeWireOutput::SetPosition(spa_loop*, bool, uint32_t, const void* area, std::size_t, void* self) {
    static_cast<PipeWireOutput*>(self)->position_ = *static_cast<spa_io_position* const*>(area);
    return 0;
}

int PipeWireOutput::AskForQuantum(spa_loop*, bool, uint32_t, const void*, std::size_t, void* self) {
    auto* output = static_cast<PipeWireOutput*>(self);
    if (output->stream_ == nullptr) {
        return 0;
    }
    const int quantum = output->quantum_.load(std::memory_order_relaxed);
    const std::string latency = std::to_string(quantum) + "/" + std::to_string(output->format_.rate);
    const spa_dict_item item = SPA_DICT_ITEM_INIT(PW_KEY_NODE_LATENCY, latency.c_str());
    const spa_dict dict = SPA_DICT_INIT(&item, 1);
    pw_stream_update_properties(output->stream_, &dict);
    std::fprintf(
        stderr, "zorvik: %s; asking for %d frames (%.1f ms)\n",
        quantum > output->asked_ ? "the drums missed a PipeWire cycle" : "the drums kept up for a while",
        quantum, quantum * 1000.0 / output->format_.rate);
    output->asked_ = quantum;
    return 0;
}

std::chrono::microseconds PipeWireOutput::Latency() const {
    return std::chrono::microseconds(latencyUs_.load(std::memory_order_relaxed));
}

PipeWireOutput::~PipeWireOutput() {
    if (loop_ == nullptr) {
        return;
    }
    pw_thread_loop_lock(loop_);
    for (const auto& source : hooks_->midiPorts.Sources()) {
        if (source.link != nullptr) {
            pw_proxy_destroy(source.link);
        }
    }
    if (hooks_->registry != nullptr) {
        spa_hook_remove(&hooks_->registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(hooks_->registry));
    }
    if (midiNode_ != nullptr) {
        spa_hook_remove(&hooks_->midiListener);
        pw_filter_destroy(midiNode_);
    }
    if (stream_ != nullptr) {
        spa_hook_remove(&hooks_->streamListener);
        pw_stream_destroy(stream_);
        // A growth the data thread queued may still be run by the loop.
        stream_ = nullptr;
    }
    if (core_ != nullptr) {
        spa_hook_remove(&hooks_->coreListener);
        pw_core_disconnect(core_);
    }
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    if (context_ != nullptr) {
        pw_context_destroy(context_);
    }
    pw_thread_loop_destroy(loop_);
}

}  // namespace zorvik::platform::audio
