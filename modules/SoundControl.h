#pragma once
// The one sample-playback call of the drum pads, bound to the platform's sample player when the window
// that plays them opens (Prepare) or at the first hit, so the program starts without waiting for audio.

#include <atomic>
#include <cstddef>
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
    // Reads the sounds at these paths in the background, so that their first hits need not.
    void Preload(std::vector<std::string> soundNames);

    // The kit: LoadKit() reads and decodes one and may run on any thread once Prepare() has run (it
    // stops early, refused, when `cancelled` turns true); UseKit() plays it from MIDI and from the
    // rows PlayRow() plays, which is false for a row left to its Sounds file.
    platform::KitLoad LoadKit(const std::string& path, const std::atomic<bool>& cancelled) const;
    void UseKit(platform::samples::KitPtr kit);
    bool PlayRow(std::size_t row);
    // MIDI: the descriptor that turns readable when a MIDI input brought news (-1 when there is none),
    // and that news.
    int MidiEventsFd() const;
    bool TakeMidiEvent(platform::MidiEvent& event);

  private:
    platform::SamplePlayer* Player();

    platform::SamplePlayerFactory makePlayer_;
    std::unique_ptr<platform::SamplePlayer> player_;
};

}  // namespace zorvik
