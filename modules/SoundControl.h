#pragma once
// The one sample-playback call of the drum pads, bound to the platform's sample player at its first use
// (so the audio device opens at the first hit, not at start-up).

#include <cstdint>
#include <memory>
#include <string>

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

  private:
    platform::SamplePlayerFactory makePlayer_;
    std::unique_ptr<platform::SamplePlayer> player_;
};

}  // namespace zorvik
