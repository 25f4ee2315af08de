#pragma once
// The sample player behind the drum pads: one voice for the keyboard, and a voice per drum for a MIDI kit.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zorvik::platform {

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

    // MIDI: the kit an e-drum kit or pad controller plays, one sample file per row of the window (the
    // General MIDI drum notes map onto rows). Set it before Prepare(); the input opens with the output.
    virtual void SetKit(const std::vector<std::string>& paths) { (void)paths; }
    // A file descriptor that turns readable when rows were hit from MIDI; -1 with no MIDI input.
    virtual int MidiHitsFd() const { return -1; }
    // The next row hit from MIDI, oldest first; false when there is none. Takes the descriptor's
    // readiness with it.
    virtual bool TakeMidiHit(int& row) {
        (void)row;
        return false;
    }
};

using SamplePlayerFactory = std::function<std::unique_ptr<SamplePlayer>()>;

}  // namespace zorvik::platform
