#include "PulseMonitor.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

#include "Identity.h"

namespace zorvik::recorder {

namespace {

using Clock = std::chrono::steady_clock;

// Long enough to gather a few fragments, short enough that a stop request is seen promptly.
constexpr auto kReadWait = std::chrono::milliseconds(100);
// Small fragments keep the level meter lively; the server buffers plenty behind them.
constexpr pa_usec_t kFragmentUsec = 20000;

std::string ConnectError(pa_context* context) {
    const int code = pa_context_errno(context);
    const std::string reason = pa_strerror(code);
    if (code == PA_ERR_CONNECTIONREFUSED || code == PA_ERR_INVALIDSERVER || code == PA_ERR_NOENTITY) {
        return "No sound server is running, so there is nothing to record (" + reason + ").";
    }
    return "Could not connect to the sound server (" + reason + ").";
}

class PulseMonitor final : public AudioSource {
  public:
    PulseMonitor() = default;
    PulseMonitor(const PulseMonitor&) = delete;
    PulseMonitor& operator=(const PulseMonitor&) = delete;

    ~PulseMonitor() override {
        if (stream_ != nullptr) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_ != nullptr) {
            pa_mainloop_free(loop_);
        }
    }

    bool Open(std::chrono::milliseconds timeout, const std::atomic<bool>& stop, std::string& error) {
        stop_ = &stop;
        const Clock::time_point deadline = Clock::now() + timeout;
        loop_ = pa_mainloop_new();
        if (loop_ == nullptr) {
            error = "Could not set up the connection to the sound server.";
            return false;
        }
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Zorvik Recorder");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, zorvik::platform::kAppId);
        pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, zorvik::platform::kAppId);
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
        context_ = pa_context_new_with_proplist(pa_mainloop_get_api(loop_), "Zorvik Recorder", props);
        pa_proplist_free(props);
        if (context_ == nullptr) {
            error = "Could not set up the connection to the sound server.";
            return false;
        }
        // Starting a server of our own would record a private, silent output: only an existing one
        // carries what the computer plays.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error = ConnectError(context_);
            return false;
        }
        if (!RunUntil([this] { return ContextReady(); }, deadline, error)) {
            return false;
        }

        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, kChannels};
        pa_channel_map map;
        pa_channel_map_init_stereo(&map);
        stream_ = pa_stream_new(context_, "Recording", &spec, &map);
        if (stream_ == nullptr) {
            error = std::string("The sound server refused a recording (") +
                    pa_strerror(pa_context_errno(context_)) + ").";
            return false;
        }
        pa_buffer_attr attr;
        std::memset(&attr, 0xff, sizeof attr);  // (uint32_t)-1 everywhere: the server's defaults.
        attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec));
        if (pa_stream_connect_record(stream_, "@DEFAULT_MONITOR@", &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
            error = std::string("The sound server cannot record what the computer plays (") +
                    pa_strerror(pa_context_errno(context_)) + ").";
            return false;
        }
        return RunUntil([this] { return StreamReady(); }, deadline, error);
    }

    bool Read(std::vector<float>& samples, std::string& error) override {
        const Clock::time_point deadline = Clock::now() + kReadWait;
        for (;;) {
            if (pa_context_get_state(context_) != PA_CONTEXT_READY ||
                pa_stream_get_state(stream_) != PA_STREAM_READY) {
                error = std::string("The sound server stopped the recording (") +
                        pa_strerror(pa_context_errno(context_)) + ").";
                return false;
            }
            const std::size_t before = samples.size();
            for (;;) {
                const void* data = nullptr;
                std::size_t bytes = 0;
                if (pa_stream_peek(stream_, &data, &bytes) < 0) {
                    error = std::string("Reading from the sound server failed (") +
                            pa_strerror(pa_context_errno(context_)) + ").";
                    return false;
                }
                if (bytes == 0) {
                    break;
                }
                const std::size_t count = bytes / sizeof(float);
                if (data == nullptr) {
                    // A gap the server could not fill: keep the timeline by recording silence there.
                    samples.resize(samples.size() + count, 0.0f);
                } else {
                    const auto* first = static_cast<const float*>(data);
                    samples.insert(samples.end(), first, first + count);
                }
                pa_stream_drop(stream_);
            }
            if (samples.size() > before || Clock::now() >= deadline) {
                return true;
            }
            if (!Iterate(deadline - Clock::now())) {
                error = "The connection to the sound server broke.";
                return false;
            }
        }
    }

  private:
    bool ContextReady() const { return pa_context_get_state(context_) == PA_CONTEXT_READY; }
    bool StreamReady() const { return pa_stream_get_state(stream_) == PA_STREAM_READY; }

    bool Failed(std::string& error) const {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            error = ConnectError(context_);
            return true;
        }
        if (stream_ != nullptr && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
            error = std::string("The sound server cannot record what the computer plays (") +
                    pa_strerror(pa_context_errno(context_)) + ").";
            return true;
        }
        return false;
    }

    template <typename Ready>
    bool RunUntil(Ready ready, Clock::time_point deadline, std::string& error) {
        while (!ready()) {
            if (Failed(error)) {
                return false;
            }
            if (stop_->load()) {
                error = "The recording was stopped before the sound server answered.";
                return false;
            }
            const Clock::time_point now = Clock::now();
            if (now >= deadline) {
                error = "The sound server does not answer, so there is nothing to record.";
                return false;
            }
            // In slices, so that a stop is seen while the server keeps quiet.
            if (!Iterate(std::min<Clock::duration>(deadline - now, kStopCheck))) {
                error = "The connection to the sound server broke.";
                return false;
            }
        }
        return true;
    }

    // Runs the main loop once, waiting at most `wait` for something to happen.
    bool Iterate(Clock::duration wait) {
        const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(wait).count();
        return pa_mainloop_prepare(loop_, static_cast<int>(std::max<decltype(usec)>(usec, 0))) >= 0 &&
               pa_mainloop_poll(loop_) >= 0 && pa_mainloop_dispatch(loop_) >= 0;
    }

    static constexpr std::chrono::milliseconds kStopCheck{20};

    const std::atomic<bool>* stop_ = nullptr;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
};

}  // namespace

std::unique_ptr<AudioSource> OpenPulseMonitor(std::chrono::milliseconds timeout,
                                              const std::atomic<bool>& stop, std::string& error) {
    auto monitor = std::make_unique<PulseMonitor>();
    if (!monitor->Open(timeout, stop, error)) {
        return nullptr;
    }
    return monitor;
}

}  // namespace zorvik::recorder
