#pragma once
// The sample player behind the drum pads: one voice for the keyboard, and the voices of a kit for MIDI.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zorvik::platform {
namespace samples {
struct LoadedKit;
using KitPtr = std::shared_ptr<const LoadedKit>;
}  // namespace samples

// A kit read and decoded, ready for UseKit(); or why it cannot be played.
struct KitLoad {
    samples::KitPtr kit;  // null when refused
    std::string name;     // the kit's own name
    std::string error;
    std::vector<std::string> warnings;  // what was left out of it, one line each
};

// What MIDI tells the window: a row's drum was hit (light its pad), or a Program Change chose a kit.
struct MidiEvent {
    enum class Kind : std::uint8_t { kRowHit, kProgram };
    Kind kind = Kind::kRowHit;
    int value = 0;  // the row, or the program (0 for the first kit)
};

inline constexpr std::uint32_t kSndAsync = 1;
inline constexpr std::uint32_t kSndNoDefault = 2;

class SamplePlayer {
  public:
    virtual ~SamplePlayer() = default;
    // Starts the WAV file at `path` (UTF-8) and returns without waiting for it to end. A new call cuts
    // the sound that is playing and starts the new one from its beginning. A file that cannot be read
    // or decoded plays the built-in default sound, unless kSndNoDefault is set. Returns true when a
    // sound was started; false (quietly) when nothing could be played, e.g. with no audio device.
    virtual bool Play(const std::string& path, std::uint32_t flags) = 0;
    // Gets the audio output ready without waiting for it, so the first hit need not; the window that
    // plays sounds calls it when it opens, and again now and then so that an output lost with its sound
    // server, and the MIDI input with it, comes back without waiting for a key.
    virtual void Prepare() {}
    // Reads and decodes these files in the background, so that their first Play() finds them ready; a
    // Play() of one not ready yet reads it itself. Returns at once.
    virtual void Preload(std::vector<std::string> paths) { (void)paths; }

    // Reads and decodes the kit at `path` (the eight WAVs of a Sounds folder, or a Hydrogen kit). Blocks
    // for as long as that takes, and stops early, refused, once `cancelled` turns true; any thread, so a
    // caller runs it in the background.
    virtual KitLoad LoadKit(const std::string& path, const std::atomic<bool>& cancelled) const {
        (void)path;
        (void)cancelled;
        return {nullptr, {}, "kits cannot be played here", {}};
    }
    // The kit a MIDI input plays: from the next render block on, while the kit before it rings out.
    // Keys play it through PlayRow().
    virtual void UseKit(samples::KitPtr kit) { (void)kit; }
    // Plays the instrument of a window row of the kit in use at full velocity, through the one voice
    // the keys share, as Play() does. False, playing nothing, where the kit leaves that row to the
    // Sounds file (the kit of Sounds itself, or a kit without an instrument for the row).
    virtual bool PlayRow(std::size_t row) {
        (void)row;
        return false;
    }
    // A file descriptor that turns readable when MIDI brought news for the window; -1 with no MIDI input.
    virtual int MidiEventsFd() const { return -1; }
    // The next piece of news, oldest first; false when there is none. Takes the descriptor's readiness
    // with it.
    virtual bool TakeMidiEvent(MidiEvent& event) {
        (void)event;
        return false;
    }
};

using SamplePlayerFactory = std::function<std::unique_ptr<SamplePlayer>()>;

}  // namespace zorvik::platform
