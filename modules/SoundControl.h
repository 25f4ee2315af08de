#pragma once
// The one sample-playback call of the drum pads, bound to the platform's sample player when the window
// that plays them opens (Prepare) or at the first hit, so the program starts without waiting for audio.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SamplePlayer.h"

namespace zorvik {

class SoundControl {
  public:
    static constexpr std::uint32_t SND_ASYNC = platform::kSndAsync;
    static constexpr std::uint32_t SND_NODEFAULT = platform::kSndNoDefault;

    explicit SoundControl(platform::SamplePlayerFactory makePlayer);
    ~SoundControl();
    SoundControl(const SoundControl&) = delete;
    SoundControl& operator=(const SoundControl&) = delete;

    // Starts the named sound (a UTF-8 path) and returns at once; true when a sound was started.
    bool sndPlaySound(const std::string& soundName, std::uint32_t flags);

    // Gets the audio output opening in the background; returns at once.
    void Prepare();

    // MIDI: the kit a MIDI input plays, a sample path per row, given before Prepare(); the descriptor
    // that turns readable when rows were hit from it (-1 when there is no MIDI input); and those rows.
    void SetKit(const std::vector<std::string>& paths);
    int MidiHitsFd() const;
    bool TakeMidiHit(int& row);

  private:
    platform::SamplePlayer* player();

    platform::SamplePlayerFactory makePlayer_;
    std::unique_ptr<platform::SamplePlayer> player_;
};

}  // namespace zorvik
