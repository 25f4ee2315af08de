#pragma once
// The drum pads' sample player: WAV files decoded with libsndfile and mixed by a VoiceMixer, played
// through a PulseAudio stream of our own when a server is there, otherwise through an SDL audio device.

#include <SDL_audio.h>

#include <chrono>
#include <cstddef>
#include <future>
#include <memory>
#include <mutex>

#include "ClipCache.h"
#include "PulseOutput.h"
#include "SamplePlayer.h"
#include "VoiceMixer.h"

namespace zorvik::platform {

std::unique_ptr<SamplePlayer> MakeSdlSamplePlayer();

namespace sdl {

struct SdlSamplePlayerOptions {
    // When opening the device fails, the next attempt waits this long: a pad hammered with no sound
    // server must not pay for a failed connection on every hit.
    std::chrono::milliseconds retryInterval{500};
    // Only the first opening runs on the caller's thread, so the first hit plays when a sound server is
    // there. Later attempts (after a failure, or to replace a lost device) run in the background, because
    // a failing one can block for over 100 ms in SDL's back-end shutdown. The hit that starts one waits
    // this long for it and plays if it succeeded by then; otherwise the next hit finds the device open.
    std::chrono::milliseconds retryWait{40};
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
    // The mixer and the lock that keeps a hit and the audio thread apart.
    struct LockedMixer {
        std::mutex lock;
        VoiceMixer mixer;

        void Render(float* out, std::size_t frames);
    };

    // The output in use: a PulseAudio stream, or the SDL audio subsystem and the device opened in it.
    // Owned by whichever thread is opening or closing.
    struct Device {
        std::unique_ptr<PulseOutput> pulse;
        bool audioInitialised = false;
        SDL_AudioDeviceID id = 0;

        bool Open() const { return pulse != nullptr || id != 0; }
    };

    bool EnsureDevice();
    bool TakeFinishedReopen();
    // Closes `old` and opens a new device rendering `mixer`; runs on the caller's or a background thread.
    static Device Reopen(Device old, LockedMixer* mixer);
    static void Close(Device& device, LockedMixer& mixer);
    ClipPtr DefaultClip();

    const std::chrono::milliseconds retryInterval_;
    const std::chrono::milliseconds retryWait_;
    ClipCache cache_;
    std::chrono::steady_clock::time_point nextAttempt_{};
    bool attempted_ = false;
    Device device_;
    // A reopening in the background. While it is valid, the device and the mixer belong to it.
    std::future<Device> reopening_;
    LockedMixer mixer_;
    ClipPtr defaultClip_;
};

}  // namespace sdl
}  // namespace zorvik::platform
