// libFuzzer target: arbitrary bytes as a buffer of the drums' PipeWire MIDI port, as any client in the
// session may fill it. The first eight bytes are the chunk's offset and size, the rest the buffer. Every
// message read must lie inside the buffer; AddressSanitizer reports any read past it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "MidiChunk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return 0;
    }
    std::uint32_t offset = 0, filled = 0;
    std::memcpy(&offset, data, 4);
    std::memcpy(&filled, data + 4, 4);
    // Exactly the buffer's size, so a read one byte past it is caught.
    std::vector<std::uint8_t> buffer(data + 8, data + size);
    const std::uint8_t* begin = buffer.data();
    const std::uint8_t* end = begin + buffer.size();
    zorvik::platform::audio::ForEachMidiMessage(
        buffer.data(), static_cast<std::uint32_t>(buffer.size()), offset, filled,
        [&](std::uint32_t, const std::uint8_t* bytes, std::uint32_t count) {
            if (count == 0 || count > 3 || bytes < begin || bytes + count > end) {
                __builtin_trap();
            }
        });
    return 0;
}
