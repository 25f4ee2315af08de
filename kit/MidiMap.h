#pragma once
// How an e-drum kit or a pad controller plays the kit: the General MIDI percussion notes each row of
// the kit answers to (on every channel, since kits differ in which one they send on), and how hard a
// hit sounds for its velocity.

#include <array>
#include <cstdint>
#include <string_view>

#include "Kit.h"

namespace zorvik::kit {

// The row of the drum named `name` in kDrumNames; a name that is not there does not compile.
consteval int RowOf(std::string_view name) {
    for (std::size_t row = 0; row < kDrumNames.size(); ++row)
        if (name == kDrumNames[row]) return static_cast<int>(row);
    throw "no drum of that name in the kit";
}

struct MidiNote {
    std::uint8_t note;
    int row;
};

// The rides have no row of their own; a ride cymbal is the nearest thing to the crash the kit has.
inline constexpr std::array kMidiNotes{
    MidiNote{35, RowOf("Kick")},     MidiNote{36, RowOf("Kick")},     MidiNote{38, RowOf("Snare")},
    MidiNote{40, RowOf("Snare")},    MidiNote{37, RowOf("Snare")},    MidiNote{39, RowOf("Snare")},
    MidiNote{42, RowOf("Hi Hat")},   MidiNote{44, RowOf("Hi Hat")},   MidiNote{46, RowOf("Open Hi Hat")},
    MidiNote{48, RowOf("High Tom")}, MidiNote{50, RowOf("High Tom")}, MidiNote{45, RowOf("Mid Tom")},
    MidiNote{47, RowOf("Mid Tom")},  MidiNote{41, RowOf("Low Tom")},  MidiNote{43, RowOf("Low Tom")},
    MidiNote{49, RowOf("Crash")},    MidiNote{57, RowOf("Crash")},    MidiNote{52, RowOf("Crash")},
    MidiNote{55, RowOf("Crash")},    MidiNote{51, RowOf("Crash")},    MidiNote{53, RowOf("Crash")},
    MidiNote{59, RowOf("Crash")},
};

// The row a note plays, or -1 for a note the kit ignores.
constexpr int RowOfNote(std::uint8_t note) {
    for (const MidiNote& entry : kMidiNotes)
        if (entry.note == note) return entry.row;
    return -1;
}

// A closed or pedalled hi-hat stops an open one that is still ringing, as the real pedal does.
inline constexpr int kOpenHiHatRow = RowOf("Open Hi Hat");
constexpr bool ChokesOpenHiHat(std::uint8_t note) {
    return RowOfNote(note) == RowOf("Hi Hat");
}

// The level of a hit for its velocity (1..127): (velocity / 127)^2, so full strength at 127 and about
// -12 dB at 64, close to how loud a struck drum sounds for how hard it is hit.
constexpr float VelocityGain(std::uint8_t velocity) {
    const float v = static_cast<float>(velocity > 127 ? 127 : velocity) / 127.0f;
    return v * v;
}

}  // namespace zorvik::kit
