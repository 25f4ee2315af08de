#include "AlsaOutput.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <cstdlib>

namespace zorvik::platform::audio {

AlsaOutput::AlsaOutput(const OutputFormat& format, RenderCallback render)
    : m_format(format), m_render(std::move(render)) {}

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
    output->m_alive = true;
    output->m_thread = std::thread(&AlsaOutput::Run, output.get());
    return output;
}

bool AlsaOutput::Configure(const std::string& device) {
    // Non-blocking open: a device held by another program must not hold the caller.
    if (snd_pcm_open(&m_pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        m_pcm = nullptr;
        return false;
    }
    snd_pcm_nonblock(m_pcm, 0);
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = static_cast<unsigned>(m_format.rate);
    snd_pcm_uframes_t period = kPeriodFrames;
    snd_pcm_uframes_t buffer = kPeriodFrames * kPeriods;
    int dir = 0;
    if (snd_pcm_hw_params_any(m_pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(m_pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(m_pcm, hw, SND_PCM_FORMAT_FLOAT) < 0 ||
        snd_pcm_hw_params_set_channels(m_pcm, hw, static_cast<unsigned>(m_format.channels)) < 0 ||
        snd_pcm_hw_params_set_rate(m_pcm, hw, rate, 0) < 0 ||
        snd_pcm_hw_params_set_period_size_near(m_pcm, hw, &period, &dir) < 0 ||
        snd_pcm_hw_params_set_buffer_size_near(m_pcm, hw, &buffer) < 0 || snd_pcm_hw_params(m_pcm, hw) < 0) {
        return false;
    }
    snd_pcm_hw_params_get_period_size(hw, &period, &dir);
    snd_pcm_hw_params_get_buffer_size(hw, &buffer);
    m_period = period;
    m_latency = std::chrono::microseconds(static_cast<long long>(buffer) * 1'000'000 / m_format.rate);
    m_buffer.assign(period * static_cast<std::size_t>(m_format.channels), 0.0f);
    return snd_pcm_prepare(m_pcm) >= 0;
}

void AlsaOutput::Run() {
    // Real-time priority where the user may have it (audio group, rtprio limit); plain priority works
    // too, with more margin lost to a busy machine.
    sched_param param{};
    param.sched_priority = 70;
    (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);

    while (!m_stop.load(std::memory_order_relaxed)) {
        m_render(m_buffer.data(), m_period);
        const float* at = m_buffer.data();
        snd_pcm_uframes_t left = m_period;
        while (left > 0 && !m_stop.load(std::memory_order_relaxed)) {
            const snd_pcm_sframes_t written = snd_pcm_writei(m_pcm, at, left);
            if (written >= 0) {
                left -= static_cast<snd_pcm_uframes_t>(written);
                at += static_cast<std::size_t>(written) * static_cast<std::size_t>(m_format.channels);
                continue;
            }
            // An underrun (-EPIPE) or a resume after suspend is recovered; anything else (a card
            // unplugged: -ENODEV) ends this output.
            if (snd_pcm_recover(m_pcm, static_cast<int>(written), 1) < 0) {
                m_alive = false;
                return;
            }
        }
    }
}

AlsaOutput::~AlsaOutput() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_pcm != nullptr) {
        snd_pcm_drop(m_pcm);
        snd_pcm_close(m_pcm);
    }
}

}  // namespace zorvik::platform::audio
