#pragma once
// The last resort: an SDL audio device, through whatever driver SDL picks (or SDL_AUDIODRIVER names).
// SDL's own back ends drop out under load where ours do not, so it only plays when nothing else can;
// opened after our own outputs failed, it is left only the drivers they do not cover (OSS).

#include <chrono>
#include <memory>

#include "AudioOutput.h"

namespace zorvik::platform::audio {

class SdlOutput final : public AudioOutput {
  public:
    // Where `options.kinds` (or the order of choice) also holds our own outputs, SDL is opened after
    // they failed: it is then left only the drivers they do not cover.
    static std::unique_ptr<AudioOutput> Open(const OutputFormat& format, RenderCallback render,
                                             const OpenOptions& options);
    ~SdlOutput() override;
    SdlOutput(const SdlOutput&) = delete;
    SdlOutput& operator=(const SdlOutput&) = delete;

    bool Alive() const override;
    const char* Name() const override { return NameOf(OutputKind::kSdl); }
    std::chrono::microseconds Latency() const override { return latency_; }

  private:
    explicit SdlOutput(RenderCallback render) : render_(std::move(render)) {}
    bool Start(const OutputFormat& format, const char* appName, const char* streamName, bool afterOurOwn);

    const RenderCallback render_;
    int channels_ = 2;
    bool initialised_ = false;
    unsigned device_ = 0;
    std::chrono::microseconds latency_{0};
};

}  // namespace zorvik::platform::audio
