#pragma once
// A drum kit as data: instruments, each with velocity layers of samples, a level and pan, a mute group
// and the MIDI notes that play it. The eight rows of the main window are eight of its instruments.
//
// The default kit's names live here too: each is the caption of its row in the main window and the
// name of its sample, Sounds/<name>.wav in the application folder. kit/CMakeLists.txt reads this list
// for the files the build makes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvik::kit {

// In row order, top to bottom.
inline constexpr std::array<const char*, 8> kDrumNames{"Kick",     "Snare",   "Hi Hat",  "Open Hi Hat",
                                                       "High Tom", "Mid Tom", "Low Tom", "Crash"};
inline constexpr std::size_t kRows = kDrumNames.size();
inline constexpr int kNotes = 128;

// What an instrument is on a drum kit, read from its name; it decides the General MIDI notes it gets
// and which row of the window it can take.
enum class Role : std::uint8_t {
    kOther,
    kKick,
    kSideStick,
    kSnare,
    kClap,
    kClosedHiHat,
    kPedalHiHat,
    kHalfOpenHiHat,
    kOpenHiHat,
    kTom,
    kCrash,
    kChina,
    kSplash,
    kRide,
    kRideBell,
};

// One sample file, by its name inside the kit (a path relative to the kit's folder or archive).
struct SampleRef {
    std::string file;
    float gain = 1.0f;
};

// The samples for a range of velocities (0..1, both ends included). Several samples in one range are
// played in turn.
struct Layer {
    float min = 0.0f;
    float max = 1.0f;
    std::vector<SampleRef> samples;
};

struct Instrument {
    std::string name;
    Role role = Role::kOther;
    // For toms, 0 for the highest; instruments of other roles leave it at 0.
    int height = 0;
    float volume = 1.0f;
    float panLeft = 1.0f;  // channel gains, 1 for full
    float panRight = 1.0f;
    int muteGroup = -1;  // instruments of one group >= 0 cut each other
    int givenNote = -1;  // the note the kit itself gives the instrument, -1 for none
    bool muted = false;  // kept in the kit, never played
    std::vector<Layer> layers;
    std::vector<std::uint8_t> notes;  // the notes that play it, from AssignNotes()
};

struct Kit {
    std::string name;
    std::vector<Instrument> instruments;
    // Filled by AssignNotes(): the instrument each window row and each MIDI note plays, -1 for none.
    std::array<int, kRows> rows{};
    std::array<int, kNotes> byNote{};
};

// Limits that keep a broken or hostile kit from eating the machine.
inline constexpr std::size_t kMaxInstruments = 256;
inline constexpr std::size_t kMaxLayers = 32;                      // per instrument
inline constexpr std::size_t kMaxSamplesPerLayer = 32;             // played in turn
inline constexpr std::size_t kMaxKitSamples = 2048;                // in the whole kit
inline constexpr std::size_t kMaxKitBytes = std::size_t{2} << 30;  // decoded, at the output's format

}  // namespace zorvik::kit
