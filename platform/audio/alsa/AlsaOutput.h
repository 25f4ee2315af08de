#pragma once
// Playback straight to an ALSA device, for machines with no sound server. The device is kept a few
// short periods ahead by a thread of our own, at real-time priority where the user may have it.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AudioOutput.h"

struct _snd_pcm;

namespace zorvik::platform::audio {

class AlsaOutput final : public AudioOutput {
  public:
    static constexpr unsigned kPeriodFrames = 128;
    static constexpr unsigned kPeriods = 3;

    // Opens `device` ("default" unless ZORVIK_ALSA_DEVICE names another) for interleaved float at
    // `format`; nullptr when it is missing or busy, or refuses the format.
    static std::unique_ptr<AlsaOutput> Open(const OutputFormat& format, RenderCallback render,
                                            const std::string& device);
    ~AlsaOutput() override;
    AlsaOutput(const AlsaOutput&) = delete;
    AlsaOutput& operator=(const AlsaOutput&) = delete;

    bool Alive() const override { return alive_.load(std::memory_order_relaxed); }
    const char* Name() const override { return "alsa"; }
    std::chrono::microseconds Latency() const override { return latency_; }

    // The device named by ZORVIK_ALSA_DEVICE, else "default".
    static std::string DefaultDevice();

  private:
    AlsaOutput(const OutputFormat& format, RenderCallback render);
    bool Configure(const std::string& device);
    void Run();

    const OutputFormat format_;
    const RenderCallback render_;
    _snd_pcm* pcm_ = nullptr;
    unsigned long period_ = kPeriodFrames;
    std::chrono::microseconds latency_{0};
    std::vector<float> buffer_;  // one period, allocated before the thread starts
    std::atomic<bool> alive_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace zorvik::platform::audio
