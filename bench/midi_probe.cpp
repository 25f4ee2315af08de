// MIDI timing of the drums, on PipeWire's own clock: a node that plays notes into Zorvik's MIDI input and
// listens to Zorvik's drum output in the same graph, so a note's frame and the frame its sound starts at
// are counted on one clock with no capture or timestamps in between. bench/midi.sh links it up.
//
// It strikes the Hi Hat (note 42) COUNT times, SPACING_MS apart, each at a frame offset that moves
// through the cycle, and prints per note the delay from the note's frame to its sound's onset, in frames
// and in graph cycles, and the spacing error of the onsets against the notes' own spacing, then a
// summary line. An onset is the first frame over -16 dBFS after 5 ms under -30 dBFS: the hi-hat has
// died down that far before the next note, and reaches that level within its first frames, the same
// few for every hit, so the spacing is exact and the delay over by those frames at most.
//
//   bench_midi_probe COUNT SPACING_MS

#include <pipewire/filter.h>
#include <pipewire/pipewire.h>
#include <spa/control/control.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr float kLoud = 0.15f;
constexpr float kQuiet = 0.03f;
constexpr std::uint32_t kQuietFrames = 240;
constexpr std::uint64_t kLead = 48000;  // a second for the links before the first note

struct Probe {
    pw_main_loop* loop = nullptr;
    pw_filter* filter = nullptr;
    void* midiOut = nullptr;
    void* audioIn = nullptr;
    long count = 0;
    std::uint64_t spacing = 0;
    std::uint64_t first = 0;  // the frame of the first note; 0 until the first cycle
    long sent = 0;
    std::vector<std::uint64_t> notes;   // the frame each note was placed at
    std::vector<std::uint64_t> sounds;  // the frame each sound started at
    std::vector<std::uint32_t> quanta;  // the cycle length when each sound started
    std::uint32_t quietRun = kQuietFrames;
};

void Process(void* data, spa_io_position* position) {
    auto* probe = static_cast<Probe*>(data);
    const auto frames = static_cast<std::uint32_t>(position->clock.duration);
    const std::uint64_t now = position->clock.position;
    if (probe->first == 0) {
        probe->first = now + kLead;
    }

    if (pw_buffer* buffer = pw_filter_dequeue_buffer(probe->midiOut)) {
        spa_data& out = buffer->buffer->datas[0];
        spa_pod_builder builder;
        spa_pod_builder_init(&builder, out.data, out.maxsize);
        spa_pod_frame frame;
        spa_pod_builder_push_sequence(&builder, &frame, 0);
        while (probe->sent < probe->count) {
            // Each note a little later in its cycle than the last, so every offset is tried.
            const std::uint64_t at = probe->first + static_cast<std::uint64_t>(probe->sent) * probe->spacing +
                                     static_cast<std::uint64_t>(probe->sent * 37 % 64);
            if (at >= now + frames) {
                break;
            }
            const std::uint8_t hit[3] = {0x99, 42, 127};
            spa_pod_builder_control(&builder, static_cast<std::uint32_t>(at > now ? at - now : 0),
                                    SPA_CONTROL_Midi);
            spa_pod_builder_bytes(&builder, hit, sizeof hit);
            probe->notes.push_back(std::max(at, now));
            ++probe->sent;
        }
        spa_pod_builder_pop(&builder, &frame);
        out.chunk->offset = 0;
        out.chunk->size = builder.state.offset;
        pw_filter_queue_buffer(probe->midiOut, buffer);
    }

    const auto* in = static_cast<const float*>(pw_filter_get_dsp_buffer(probe->audioIn, frames));
    if (in == nullptr) {
        return;
    }
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float level = std::fabs(in[i]);
        if (level > kLoud && probe->quietRun >= kQuietFrames && probe->sounds.size() < probe->notes.size()) {
            probe->sounds.push_back(now + i);
            probe->quanta.push_back(frames);
        }
        probe->quietRun = level < kQuiet ? probe->quietRun + 1 : 0;
    }
    if (static_cast<long>(probe->sounds.size()) == probe->count) {
        pw_main_loop_quit(probe->loop);
    }
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_midi_probe COUNT SPACING_MS\n");
        return 2;
    }
    pw_init(&argc, &argv);
    Probe probe;
    probe.count = std::atol(argv[1]);
    probe.spacing = static_cast<std::uint64_t>(std::atol(argv[2])) * 48;
    probe.notes.reserve(static_cast<std::size_t>(probe.count));
    probe.sounds.reserve(static_cast<std::size_t>(probe.count));
    probe.quanta.reserve(static_cast<std::size_t>(probe.count));
    probe.loop = pw_main_loop_new(nullptr);
    pw_filter_events events{};
    events.version = PW_VERSION_FILTER_EVENTS;
    events.process = Process;
    probe.filter = pw_filter_new_simple(
        pw_main_loop_get_loop(probe.loop), "zorvik-midi-probe",
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Midi", PW_KEY_MEDIA_CATEGORY, "Duplex", PW_KEY_MEDIA_ROLE,
                          "DSP", PW_KEY_NODE_ALWAYS_PROCESS, "true", nullptr),
        &events, &probe);
    probe.midiOut = pw_filter_add_port(
        probe.filter, PW_DIRECTION_OUTPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
        pw_properties_new(PW_KEY_FORMAT_DSP, "8 bit raw midi", PW_KEY_PORT_NAME, "notes", nullptr), nullptr,
        0);
    probe.audioIn = pw_filter_add_port(
        probe.filter, PW_DIRECTION_INPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
        pw_properties_new(PW_KEY_FORMAT_DSP, "32 bit float mono audio", PW_KEY_PORT_NAME, "heard", nullptr),
        nullptr, 0);
    if (pw_filter_connect(probe.filter, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0) < 0) {
        std::fprintf(stderr, "bench_midi_probe: PipeWire refused the node\n");
        return 1;
    }
    pw_main_loop_run(probe.loop);
    pw_filter_destroy(probe.filter);
    pw_main_loop_destroy(probe.loop);
    pw_deinit();

    std::vector<double> cycles, spacingErrors;
    for (std::size_t i = 0; i < probe.sounds.size(); ++i) {
        const double delay = static_cast<double>(probe.sounds[i]) - static_cast<double>(probe.notes[i]);
        cycles.push_back(delay / probe.quanta[i]);
        double error = 0;
        if (i > 0) {
            const double heard = static_cast<double>(probe.sounds[i] - probe.sounds[0]);
            const double played = static_cast<double>(probe.notes[i] - probe.notes[0]);
            error = (heard - played) / 48.0;
            spacingErrors.push_back(std::fabs(error));
        }
        std::printf("note %2zu: delay %5.0f frames = %.3f cycles of %u; spacing error %+.3f ms\n", i, delay,
                    cycles.back(), probe.quanta[i], error);
    }
    std::printf(
        "MIDI %zu notes: delay median %.3f cycles, max %.3f; onset spacing error p95 %.3f ms, max %.3f ms\n",
        probe.sounds.size(), Percentile(cycles, 0.5), Percentile(cycles, 1.0),
        Percentile(spacingErrors, 0.95), Percentile(spacingErrors, 1.0));
    return 0;
}
