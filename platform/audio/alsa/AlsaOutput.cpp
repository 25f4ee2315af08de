#include "AlsaOutput.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace zorvik::platform::audio {

struct AlsaOutput::Device {
    OutputFormat format;
    RenderCallback render;
    snd_pcm_t* pcm = nullptr;
    snd_pcm_uframes_t period = kPeriodFrames;
    std::vector<float> buffer;  // one period, allocated before the thread starts
    std::atomic<bool> alive{false};
    std::atomic<bool> stop{false};
    // Set around each render: once the destructor has seen `stop` set and this clear, the thread never
    // calls the render callback again, wherever it is stuck.
    std::atomic<bool> rendering{false};
    std::mutex lock;
    std::condition_variable ended;
    bool finished = false;  // the thread has closed the device

    ~Device() {
        if (pcm != nullptr) {
            snd_pcm_close(pcm);  // only when the thread never started
        }
    }

    bool Configure(const std::string& device);
    bool RenderPeriod();
    void Run();
    void Close();
};

bool AlsaOutput::Device::Configure(const std::string& device) {
    // Non-blocking, the opening and every write: a device held by another program must not hold the
    // caller, nor a stalled one the thread.
    if (snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        pcm = nullptr;
        return false;
    }
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = static_cast<unsigned>(format.rate);
    snd_pcm_uframes_t frames = kPeriodFrames;
    snd_pcm_uframes_t size = kPeriodFrames * kPeriods;
    int dir = 0;
    if (snd_pcm_hw_params_any(pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_FLOAT) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(format.channels)) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) < 0 ||
        snd_pcm_hw_params_set_period_size_near(pcm, hw, &frames, &dir) < 0 ||
        snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &size) < 0 || snd_pcm_hw_params(pcm, hw) < 0) {
        return false;
    }
    snd_pcm_hw_params_get_period_size(hw, &frames, &dir);
    period = frames;
    buffer.assign(period * static_cast<std::size_t>(format.channels), 0.0f);
    return snd_pcm_prepare(pcm) >= 0;
}

bool AlsaOutput::Device::RenderPeriod() {
    rendering.store(true);
    if (stop.load()) {
        rendering.store(false);
        return false;
    }
    render(buffer.data(), period);
    rendering.store(false);
    return true;
}

void AlsaOutput::Device::Run() {
    // Real-time priority where the user may have it (audio group, rtprio limit); plain priority works
    // too, with more margin lost to a busy machine.
    sched_param param{};
    param.sched_priority = 70;
    (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);

    constexpr int kWaitMs = 100;  // how often a wait for room looks at `stop`
    auto lastTaken = std::chrono::steady_clock::now();
    while (RenderPeriod()) {
        const float* at = buffer.data();
        snd_pcm_uframes_t left = period;
        while (left > 0 && !stop.load(std::memory_order_relaxed)) {
            const snd_pcm_sframes_t written = snd_pcm_writei(pcm, at, left);
            if (written > 0) {
                left -= static_cast<snd_pcm_uframes_t>(written);
                at += static_cast<std::size_t>(written) * static_cast<std::size_t>(format.channels);
                lastTaken = std::chrono::steady_clock::now();
                continue;
            }
            int error = static_cast<int>(written);
            if (written == 0 || written == -EAGAIN) {
                if (std::chrono::steady_clock::now() - lastTaken > kStallLimit) {
                    alive = false;
                    return Close();
                }
                error = snd_pcm_wait(pcm, kWaitMs);
                if (error >= 0) {
                    continue;
                }
            }
            // An underrun (-EPIPE) or a resume after suspend is recovered; anything else (a card
            // unplugged: -ENODEV) ends this output.
            if (snd_pcm_recover(pcm, error, 1) < 0) {
                alive = false;
                return Close();
            }
        }
    }
    Close();
}

void AlsaOutput::Device::Close() {
    snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
    pcm = nullptr;
    std::lock_guard hold(lock);
    finished = true;
    ended.notify_all();
}

AlsaOutput::AlsaOutput(std::shared_ptr<Device> device) : device_(std::move(device)) {
    const auto& format = device_->format;
    latency_ = std::chrono::microseconds(static_cast<long long>(device_->period * kPeriods) * 1'000'000 /
                                         format.rate);
}

std::string AlsaOutput::DefaultDevice() {
    const char* named = std::getenv("ZORVIK_ALSA_DEVICE");
    return named != nullptr && named[0] != '\0' ? named : "default";
}

std::unique_ptr<AudioOutput> AlsaOutput::Open(const OutputFormat& format, RenderCallback render,
                                              const OpenOptions& options) {
    auto shared = std::make_shared<Device>();
    shared->format = format;
    shared->render = std::move(render);
    if (!shared->Configure(options.alsaDevice.empty() ? DefaultDevice() : options.alsaDevice)) {
        return nullptr;
    }
    shared->alive = true;
    std::thread([shared] { shared->Run(); }).detach();
    return std::unique_ptr<AlsaOutput>(new AlsaOutput(std::move(shared)));
}

bool AlsaOutput::Alive() const {
    return device_->alive.load(std::memory_order_relaxed);
}

AlsaOutput::~AlsaOutput() {
    device_->stop.store(true);
    // A render takes microseconds; after it, the callback's owner may go.
    while (device_->rendering.load()) {
        std::this_thread::yield();
    }
    std::unique_lock hold(device_->lock);
    device_->ended.wait_for(hold, kStopWait, [this] { return device_->finished; });
}

}  // namespace zorvik::platform::audio
