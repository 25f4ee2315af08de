#pragma once
// The drum pads' sample player: WAV files decoded with libsndfile, played through one SDL audio device
// by a VoiceMixer.

#include <SDL_audio.h>

#include <chrono>
#include <cstddef>
#include <memory>

#include "ClipCache.h"
#include "SamplePlayer.h"
#include "VoiceMixer.h"

namespace zorvik::platform {

std::unique_ptr<SamplePlayer> MakeSdlSamplePlayer();

namespace sdl {

struct SdlSamplePlayerOptions {
    // When opening the device fails, the next attempt waits this long: a pad hammered with no sound
    // server must not pay for a failed connection on every hit.
    std::chrono::milliseconds retryInterval{500};
    // Converted audio kept for the next hits; 0 reads and decodes the file at every hit.
    std::size_t cacheBytes = std::size_t{64} << 20;
};

class SdlSamplePlayer final : public SamplePlayer {
  public:
    explicit SdlSamplePlayer(const SdlSamplePlayerOptions& options = {});
    ~SdlSamplePlayer() override;
    SdlSamplePlayer(const SdlSamplePlayer&) = delete;
    SdlSamplePlayer& operator=(const SdlSamplePlayer&) = delete;

    // Every play is asynchronous, so kSndAsync changes nothing.
    bool Play(const std::string& path, std::uint32_t flags) override;

  private:
    bool EnsureDevice();
    void CloseDevice();
    ClipPtr DefaultClip();

    const std::chrono::milliseconds retryInterval_;
    ClipCache cache_;
    std::chrono::steady_clock::time_point nextAttempt_{};
    bool audioInitialised_ = false;
    SDL_AudioDeviceID device_ = 0;
    VoiceMixer mixer_;  // shared with the audio callback, guarded by the device lock
    ClipPtr defaultClip_;
};

}  // namespace sdl
}  // namespace zorvik::platform
