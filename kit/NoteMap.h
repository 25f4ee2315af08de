#pragma once
// How a kit is played from MIDI and from the window: the role each instrument's name gives it, the
// General MIDI percussion notes of each role, the window row each role takes, and how hard a hit
// sounds for its velocity.

#include <cstdint>
#include <string_view>

#include "Kit.h"

namespace zorvik::kit {

struct RoleOfName {
    Role role = Role::kOther;
    int height = 0;  // toms: 0 high, 1 mid (or unsaid), 2 low, 3 floor; a number after "tom" counts up
};

// Reads what a drum is from its name as kits write them ("Kick", "BassDrum", "Hi-Hat Semiopen", "Tom
// Floor", "ride-crash20inch", "Crash (Paiste Rude Thin 18\")"); what is in brackets is left out.
RoleOfName ReadRole(std::string_view name);

// Fills each instrument's notes and the kit's rows and byNote:
//  1. a note the kit gives an instrument itself (other than Hydrogen's positional default, 36 + index);
//  2. the General MIDI notes of its role, to the first instruments of that role (toms from high to low);
//  3. note 36 + index, where free, to an instrument still without a note;
//  4. the notes of a role the kit lacks, to the nearest role it has (a ride to the crash, a side stick
//     to the snare, the pedal hi-hat to the closed one).
// Each row takes the first instrument of its role; a row with none is left at -1.
void AssignNotes(Kit& kit);

// The level of a hit for its velocity (1..127): (velocity / 127)^2, so full strength at 127 and about
// -12 dB at 64, close to how loud a struck drum sounds for how hard it is hit.
constexpr float VelocityGain(std::uint8_t velocity) {
    const float v = static_cast<float>(velocity > 127 ? 127 : velocity) / 127.0f;
    return v * v;
}

// The layer of an instrument a hit at `velocity` (0..127) plays: the first whose range holds it, else
// the nearest; -1 for an instrument without layers.
int LayerFor(const Instrument& instrument, std::uint8_t velocity);

// The hi-hat instruments of a kit, -1 where it has none; the pedal (CC 4, 127 = shut) chooses among them.
struct HiHats {
    int closed = -1;
    int halfOpen = -1;
    int open = -1;
    int pedal = -1;

    // Which one a hi-hat note at this pedal position plays.
    int ForPedal(std::uint8_t pedal) const;
    bool IsHiHat(int instrument) const {
        return instrument >= 0 && (instrument == closed || instrument == halfOpen || instrument == open);
    }
};
HiHats FindHiHats(const Kit& kit);
// Pedal positions at and above this are shut.
inline constexpr std::uint8_t kPedalShut = 96;

}  // namespace zorvik::kit
