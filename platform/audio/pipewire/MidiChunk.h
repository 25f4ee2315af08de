#pragma once
// The MIDI messages in one buffer of a PipeWire MIDI port: a sequence pod of controls, each a message at a
// frame offset in the cycle. Any client in the session can link to the drums' MIDI input, so nothing in
// the buffer is taken on trust: the pod must lie within the chunk the buffer says is filled, the chunk
// within the buffer's mapping, and every control within the pod. Header-only (SPA's pod readers are), so
// the fuzzer reads buffers exactly as the real-time thread does; it neither allocates nor locks.

#include <spa/control/control.h>
#include <spa/pod/iter.h>

#include <cstddef>
#include <cstdint>

namespace zorvik::platform::audio {

// Calls take(offset, bytes, size) for each MIDI message of one to three bytes (notes, controllers and the
// like; system-exclusive messages say nothing to a drum kit), in order. False when the chunk holds no
// sequence that fits.
template <typename Take>
bool ForEachMidiMessage(void* data, std::uint32_t maxsize, std::uint32_t offset, std::uint32_t size,
                        Take&& take) {
    if (data == nullptr || offset % 8 != 0) {
        return false;
    }
    auto* pod = static_cast<spa_pod*>(spa_pod_from_data(data, maxsize, offset, size));
    if (pod == nullptr || !spa_pod_is_sequence(pod)) {
        return false;
    }
    spa_pod_control* control = nullptr;
    SPA_POD_SEQUENCE_FOREACH(reinterpret_cast<spa_pod_sequence*>(pod), control) {
        const std::uint32_t bytes = SPA_POD_BODY_SIZE(&control->value);
        if (control->type != SPA_CONTROL_Midi || bytes == 0 || bytes > 3) {
            continue;
        }
        take(control->offset, static_cast<const std::uint8_t*>(SPA_POD_BODY(&control->value)), bytes);
    }
    return true;
}

}  // namespace zorvik::platform::audio
