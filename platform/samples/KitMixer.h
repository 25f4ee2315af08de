#pragma once
// The voices of a kit played from MIDI. Each instrument rings in up to kPerInstrument voices of its own,
// so a new hit does not cut a ringing cymbal, and the oldest gives way to a fifth; instruments of one
// mute group cut each other, as the closed and pedal hi-hats cut the open one; all together at most
// kVoices sound, the quietest giving way. A voice that gives way fades over kFadeFrames, never stops dead.
//
// Threading: everything runs on the render side. Nothing here allocates, frees or locks: the mixer
// holds plain pointers into kits the caller keeps alive for as long as Holds() says a voice plays them.

#include <array>
#include <cstddef>
#include <cstdint>

#include "KitLoader.h"

namespace zorvik::platform::samples {

class KitMixer {
  public:
    static constexpr std::size_t kVoices = 64;
    static constexpr std::size_t kPerInstrument = 4;
    static constexpr std::size_t kFadeFrames = VoiceMixer::kFadeFrames;

    // Plays `kit` from the next hit on; what the kit before it rings fades out.
    void Use(const LoadedKit* kit);
    const LoadedKit* Kit() const { return kit_; }

    // Starts `instrument` of the kit in use at `velocity` (1..127): the layer whose range holds it, and
    // of several samples in that range the next in turn.
    void Hit(int instrument, std::uint8_t velocity);
    // Fades every voice of `instrument`.
    void Choke(int instrument);
    bool Ringing(int instrument) const;

    // Adds the next `frames` interleaved stereo frames to `out`. The caller keeps the sum in range.
    void Mix(float* out, std::size_t frames);
    bool Sounding() const;
    // Whether any voice still plays a sample of `kit`.
    bool Holds(const LoadedKit* kit) const;

  private:
    struct Voice {
        const StereoClip* clip = nullptr;
        const LoadedKit* kit = nullptr;
        std::size_t position = 0;
        float left = 0.0f;
        float right = 0.0f;
        int instrument = -1;
        std::uint32_t age = 0;   // when it started: lower is older
        std::uint32_t fade = 0;  // frames of fade left; 0 while it rings freely

        float Level() const;
    };
    // Fading voices keep their slot for kFadeFrames; these slots are for them.
    static constexpr std::size_t kSlots = kVoices + 16;

    void FadeOut(Voice& voice);
    Voice& FreeSlot();

    const LoadedKit* kit_ = nullptr;
    std::array<Voice, kSlots> voices_{};
    std::uint32_t clock_ = 0;
    // The next sample in turn, by instrument and layer.
    std::array<std::uint8_t, kit::kMaxInstruments * kit::kMaxLayers> turn_{};
};

}  // namespace zorvik::platform::samples
