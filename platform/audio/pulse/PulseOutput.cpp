#include "PulseOutput.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace zorvik::platform::audio {
namespace {

constexpr std::size_t kFrameBytes = 2 * sizeof(float);
constexpr std::uint32_t kServerDefault = static_cast<std::uint32_t>(-1);

// A target of `tlength` bytes, the whole latency with the server's part included; the server picks
// how often it asks for more, a fraction of it, so the stream is kept nearly full.
pa_buffer_attr BufferOf(std::uint32_t tlength) {
    pa_buffer_attr attr{};
    attr.maxlength = kServerDefault;
    attr.tlength = tlength;
    attr.prebuf = kServerDefault;
    attr.minreq = kServerDefault;
    attr.fragsize = kServerDefault;
    return attr;
}

}  // namespace

PulseOutput::PulseOutput(int rate, RenderCallback render, const Options& options)
    : rate_(rate),
      render_(std::move(render)),
      options_(options),
      targetUs_(options.target.count()),
      buffer_(static_cast<int>(options.target.count()), static_cast<int>(options.maxTarget.count()),
              std::chrono::duration_cast<std::chrono::nanoseconds>(options.calm).count(), 150) {}

std::unique_ptr<PulseOutput> PulseOutput::Open(const OutputFormat& format, RenderCallback render,
                                               const OpenOptions& options, const Options& tuning) {
    if (format.channels != 2) {
        return nullptr;
    }
    std::unique_ptr<PulseOutput> output(new PulseOutput(format.rate, std::move(render), tuning));
    if (!output->Connect(options.appName.c_str(), options.streamName.c_str(), options.connectTimeout)) {
        return nullptr;
    }
    return output;
}

std::uint32_t PulseOutput::BytesFor(long long us) const {
    const long long frames = us * rate_ / 1'000'000;
    return static_cast<std::uint32_t>(std::max(1LL, frames) * static_cast<long long>(kFrameBytes));
}

bool PulseOutput::Connect(const char* appName, const char* streamName, std::chrono::milliseconds timeout) {
    context_ = PulseContext::Connect(appName, timeout);
    if (!context_) {
        return false;
    }
    PulseContext::Lock lock(*context_);
    rewritable_ = TakesRewrites();
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(rate_), 2};
    stream_ = pa_stream_new(context_->Context(), streamName, &spec, nullptr);
    bool ready = stream_ != nullptr;
    if (ready) {
        pa_stream_set_state_callback(stream_, &OnStreamState, this);
        pa_stream_set_write_callback(stream_, &OnWrite, this);
        pa_stream_set_underflow_callback(stream_, &OnUnderflow, this);
        const pa_buffer_attr attr = BufferOf(BytesFor(targetUs_));
        // Timing from the server, interpolated between updates, tells Rewrite() where the sink is.
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
        ready = pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) == 0 &&
                context_->WaitUntil([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; },
                                    [this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); });
    }
    context_->EndDeadline();
    latencyUs_ = targetUs_;
    alive_ = ready;
    return ready;
}

// Whether the server is PulseAudio itself, which takes audio written back over what it has queued and
// makes its sink render again what the rewrite replaced. Other servers speaking its protocol may not;
// there a hit waits behind the buffer instead.
bool PulseOutput::TakesRewrites() {
    struct Query {
        pa_threaded_mainloop* loop;
        bool done = false;
        bool pulseAudio = false;
    } query{context_->Loop()};
    pa_operation* op = pa_context_get_server_info(
        context_->Context(),
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* q = static_cast<Query*>(data);
            q->pulseAudio = info != nullptr && info->server_name != nullptr &&
                            std::strcmp(info->server_name, "pulseaudio") == 0;
            q->done = true;
            pa_threaded_mainloop_signal(q->loop, 0);
        },
        &query);
    if (op == nullptr) {
        return false;
    }
    context_->WaitUntil([&] { return query.done; },
                        [&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    if (!query.done) {
        pa_operation_cancel(op);
    }
    pa_operation_unref(op);
    return query.pulseAudio;
}

// The written frames that the sink cannot have reached yet; 0 while the server has not said.
std::size_t PulseOutput::FramesNotTaken() const {
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    pa_usec_t latency = 0;
    int negative = 0;
    if (timing == nullptr || timing->write_index_corrupt || timing->read_index_corrupt ||
        pa_stream_get_latency(stream_, &latency, &negative) != 0 || negative != 0) {
        return 0;
    }
    // What the server holds ahead of the sink: the library's latency less the sink's part. The library
    // smooths its clock over the server's reports, and after the server stalls (a loaded machine, a
    // resume) that clock lags the truth by 20-40 ms for seconds; written back that far, a hit lands
    // where the sink has read already and is lost whole. So it is held to what the server's own indices
    // say: what was written, less what the server had read when it last reported, less what it has read
    // since at the stream's pace.
    const long long frameBytes = static_cast<long long>(kFrameBytes);
    const long long sinceReportUs =
        timing->playing != 0 ? static_cast<long long>(pa_timeval_age(&timing->timestamp)) : 0;
    const long long unreadFrames =
        (timing->write_index - timing->read_index) / frameBytes - sinceReportUs * rate_ / 1'000'000;
    const long long heldUs =
        std::min(static_cast<long long>(latency) - static_cast<long long>(timing->sink_usec),
                 unreadFrames * 1'000'000 / rate_);
    // The sink takes the queue in blocks of up to its configured latency, so that much past the frame
    // heard may be taken already.
    const long long sinkAheadUs = std::max(0LL, static_cast<long long>(timing->configured_sink_usec) -
                                                    static_cast<long long>(timing->sink_usec));
    const long long queuedUs = heldUs - sinkAheadUs - options_.rewriteMargin.count();
    return queuedUs > 0 ? static_cast<std::size_t>(queuedUs * rate_ / 1'000'000) : 0;
}

std::chrono::microseconds PulseOutput::Latency() const {
    return std::chrono::microseconds(latencyUs_.load(std::memory_order_relaxed));
}

bool PulseOutput::Rewrite(const Change& change) {
    PulseContext::Lock lock(*context_);
    const std::size_t back = change(rewritable_ && Alive() ? FramesNotTaken() : 0);
    if (back == 0) {
        return true;
    }
    std::vector<float> frames(back * 2);
    render_(frames.data(), back);
    const auto bytes = static_cast<std::int64_t>(back * kFrameBytes);
    pa_stream_write(stream_, frames.data(), static_cast<std::size_t>(bytes), nullptr, -bytes,
                    PA_SEEK_RELATIVE);
    return true;
}

PulseOutput::~PulseOutput() {
    if (!context_) {
        return;
    }
    {
        PulseContext::Lock lock(*context_);
        if (stream_ != nullptr) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
    }
    context_.reset();
}

void PulseOutput::OnStreamState(pa_stream* stream, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        output->alive_ = false;
    }
    pa_threaded_mainloop_signal(output->context_->Loop(), 0);
}

void PulseOutput::OnWrite(pa_stream* stream, std::size_t bytes, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    void* data = nullptr;
    std::size_t size = bytes;
    if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) {
        return;
    }
    const std::size_t frames = size / kFrameBytes;
    if (frames == 0) {
        pa_stream_cancel_write(stream);
        return;
    }
    output->render_(static_cast<float*>(data), frames);
    pa_stream_write(stream, data, frames * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
    output->KeepBuffer(stream, false);
}

void PulseOutput::OnUnderflow(pa_stream* stream, void* self) {
    static_cast<PulseOutput*>(self)->KeepBuffer(stream, true);
}

// On the loop's thread, at every write and every underflow: the buffer follows what the server keeps
// up with, so one stall costs latency for a few seconds, not for the session.
void PulseOutput::KeepBuffer(pa_stream* stream, bool ranDry) {
    const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    const long long wanted = buffer_.Cycle(now, static_cast<int>(targetUs_), ranDry);
    if (wanted == targetUs_) {
        return;
    }
    targetUs_ = wanted;
    latencyUs_ = wanted;
    const pa_buffer_attr attr = BufferOf(BytesFor(wanted));
    if (pa_operation* op = pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr)) {
        pa_operation_unref(op);
    }
}

}  // namespace zorvik::platform::audio
