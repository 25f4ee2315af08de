#pragma once
// Playback straight to an ALSA device, for machines with no sound server. The device is kept a few
// short periods ahead by a thread of our own, at real-time priority where the user may have it.
//
// The device is written without blocking, so a server stalled behind ALSA's plugin, or a device that
// stops taking frames, ends the output (Alive() turns false) instead of holding the thread. A write that
// blocks all the same, inside a plugin, does not hold up the destructor either: after a short wait the
// thread is left to close the device by itself, and it renders nothing more.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "AudioOutput.h"

struct _snd_pcm;

namespace zorvik::platform::audio {

class AlsaOutput final : public AudioOutput {
  public:
    static constexpr unsigned kPeriodFrames = 128;
    static constexpr unsigned kPeriods = 3;

    // Opens `options.alsaDevice` (empty: DefaultDevice()) for interleaved float at `format`; nullptr
    // when it is missing or busy, or refuses the format.
    static std::unique_ptr<AudioOutput> Open(const OutputFormat& format, RenderCallback render,
                                             const OpenOptions& options);
    ~AlsaOutput() override;
    AlsaOutput(const AlsaOutput&) = delete;
    AlsaOutput& operator=(const AlsaOutput&) = delete;

    bool Alive() const override;
    const char* Name() const override { return NameOf(OutputKind::kAlsa); }
    std::chrono::microseconds Latency() const override { return latency_; }

    // The device named by ZORVIK_ALSA_DEVICE, else "default".
    static std::string DefaultDevice();

    // A device that takes no frame for this long has stopped.
    static constexpr std::chrono::milliseconds kStallLimit{1'000};
    // How long the destructor waits for the thread before leaving it behind.
    static constexpr std::chrono::milliseconds kStopWait{300};

  private:
    // What the thread works on; it outlives the output when the thread is left behind.
    struct Device;

    explicit AlsaOutput(std::shared_ptr<Device> device);

    std::shared_ptr<Device> device_;
    std::chrono::microseconds latency_{0};
};

}  // namespace zorvik::platform::audio
