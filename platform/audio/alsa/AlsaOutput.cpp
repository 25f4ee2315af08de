#include "AlsaOutput.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <cstdlib>

namespace zorvik::platform::audio {

AlsaOutput::AlsaOutput(const OutputFormat& format, RenderCallback render)
    : format_(format), render_(std::move(render)) {}

std::string AlsaOutput::DefaultDevice() {
    const char* named = std::getenv("ZORVIK_ALSA_DEVICE");
    return named != nullptr && named[0] != '\0' ? named : "default";
}

std::unique_ptr<AlsaOutput> AlsaOutput::Open(const OutputFormat& format, RenderCallback render,
                                             const std::string& device) {
    std::unique_ptr<AlsaOutput> output(new AlsaOutput(format, std::move(render)));
    if (!output->Configure(device)) {
        return nullptr;
    }
    output->alive_ = true;
    output->thread_ = std::thread(&AlsaOutput::Run, output.get());
    return output;
}

bool AlsaOutput::Configure(const std::string& device) {
    // Non-blocking open: a device held by another program must not hold the caller.
    if (snd_pcm_open(&pcm_, device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        pcm_ = nullptr;
        return false;
    }
    snd_pcm_nonblock(pcm_, 0);
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = static_cast<unsigned>(format_.rate);
    snd_pcm_uframes_t period = kPeriodFrames;
    snd_pcm_uframes_t buffer = kPeriodFrames * kPeriods;
    int dir = 0;
    if (snd_pcm_hw_params_any(pcm_, hw) < 0 ||
        snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_FLOAT) < 0 ||
        snd_pcm_hw_params_set_channels(pcm_, hw, static_cast<unsigned>(format_.channels)) < 0 ||
        snd_pcm_hw_params_set_rate(pcm_, hw, rate, 0) < 0 ||
        snd_pcm_hw_params_set_period_size_near(pcm_, hw, &period, &dir) < 0 ||
        snd_pcm_hw_params_set_buffer_size_near(pcm_, hw, &buffer) < 0 || snd_pcm_hw_params(pcm_, hw) < 0) {
        return false;
    }
    snd_pcm_hw_params_get_period_size(hw, &period, &dir);
    snd_pcm_hw_params_get_buffer_size(hw, &buffer);
    period_ = period;
    latency_ = std::chrono::microseconds(static_cast<long long>(buffer) * 1'000'000 / format_.rate);
    buffer_.assign(period * static_cast<std::size_t>(format_.channels), 0.0f);
    return snd_pcm_prepare(pcm_) >= 0;
}

void AlsaOutput::Run() {
    // Real-time priority where the user may have it (audio group, rtprio limit); plain priority works
    // too, with more margin lost to a busy machine.
    sched_param param{};
    param.sched_priority = 70;
    (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);

    while (!stop_.load(std::memory_order_relaxed)) {
        render_(buffer_.data(), period_);
        const float* at = buffer_.data();
        snd_pcm_uframes_t left = period_;
        while (left > 0 && !stop_.load(std::memory_order_relaxed)) {
            const snd_pcm_sframes_t written = snd_pcm_writei(pcm_, at, left);
            if (written >= 0) {
                left -= static_cast<snd_pcm_uframes_t>(written);
                at += static_cast<std::size_t>(written) * static_cast<std::size_t>(format_.channels);
                continue;
            }
            // An underrun (-EPIPE) or a resume after suspend is recovered; anything else (a card
            // unplugged: -ENODEV) ends this output.
            if (snd_pcm_recover(pcm_, static_cast<int>(written), 1) < 0) {
                alive_ = false;
                return;
            }
        }
    }
}

AlsaOutput::~AlsaOutput() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (pcm_ != nullptr) {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
    }
}

}  // namespace zorvik::platform::audio
