// A stand-in for a hardware drum kit on PipeWire, for the end-to-end tests: a node whose one MIDI output
// port is marked physical, as the ALSA sequencer bridge marks a kit's, and links itself nowhere. After
// DELAY_MS it strikes NOTE at velocity 127 COUNT times, every INTERVAL_MS, then goes on idling until it
// is killed.
//
//   midisource NODE_NAME NOTE COUNT DELAY_MS INTERVAL_MS

#include <pipewire/filter.h>
#include <pipewire/pipewire.h>
#include <spa/control/control.h>
#include <spa/pod/builder.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Source {
    pw_filter* filter = nullptr;
    void* port = nullptr;
    std::uint8_t note = 36;
    long count = 0;
    std::uint64_t next = 0;  // graph frame of the next strike; 0 until the first cycle
    std::uint64_t delay = 0;
    std::uint64_t interval = 0;
};

void Process(void* data, spa_io_position* position) {
    auto* source = static_cast<Source*>(data);
    const auto frames = static_cast<std::uint32_t>(position->clock.duration);
    pw_buffer* buffer = pw_filter_dequeue_buffer(source->port);
    if (buffer == nullptr) {
        return;
    }
    spa_data& out = buffer->buffer->datas[0];
    spa_pod_builder builder;
    spa_pod_builder_init(&builder, out.data, out.maxsize);
    spa_pod_frame frame;
    spa_pod_builder_push_sequence(&builder, &frame, 0);
    const std::uint64_t now = position->clock.position;
    if (source->next == 0) {
        source->next = now + source->delay;
    }
    while (source->count > 0 && source->next < now + frames) {
        const std::uint8_t hit[3] = {0x99, source->note, 127};
        spa_pod_builder_control(&builder,
                                static_cast<std::uint32_t>(source->next > now ? source->next - now : 0),
                                SPA_CONTROL_Midi);
        spa_pod_builder_bytes(&builder, hit, sizeof hit);
        source->next += source->interval;
        --source->count;
    }
    spa_pod_builder_pop(&builder, &frame);
    out.chunk->offset = 0;
    out.chunk->size = builder.state.offset;
    pw_filter_queue_buffer(source->port, buffer);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: midisource NODE_NAME NOTE COUNT DELAY_MS INTERVAL_MS\n");
        return 2;
    }
    pw_init(&argc, &argv);
    Source source;
    source.note = static_cast<std::uint8_t>(std::atoi(argv[2]));
    source.count = std::atol(argv[3]);
    source.delay = static_cast<std::uint64_t>(std::atol(argv[4])) * 48;
    source.interval = static_cast<std::uint64_t>(std::atol(argv[5])) * 48;
    pw_main_loop* loop = pw_main_loop_new(nullptr);
    pw_filter_events events{};
    events.version = PW_VERSION_FILTER_EVENTS;
    events.process = Process;
    source.filter = pw_filter_new_simple(
        pw_main_loop_get_loop(loop), argv[1],
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Midi", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
                          "DSP", PW_KEY_NODE_NAME, argv[1], PW_KEY_NODE_ALWAYS_PROCESS, "true", nullptr),
        &events, &source);
    source.port = pw_filter_add_port(source.filter, PW_DIRECTION_OUTPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
                                     pw_properties_new(PW_KEY_FORMAT_DSP, "8 bit raw midi", PW_KEY_PORT_NAME,
                                                       "capture", PW_KEY_PORT_PHYSICAL, "true", nullptr),
                                     nullptr, 0);
    if (source.port == nullptr ||
        pw_filter_connect(source.filter, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0) < 0) {
        std::fprintf(stderr, "midisource: PipeWire refused the node\n");
        return 1;
    }
    pw_main_loop_run(loop);
    return 0;
}
