#pragma once
// The one-voice sample player behind the drum pads.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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
    // plays sounds calls it when it opens.
    virtual void Prepare() {}
};

using SamplePlayerFactory = std::function<std::unique_ptr<SamplePlayer>()>;

}  // namespace zorvik::platform
