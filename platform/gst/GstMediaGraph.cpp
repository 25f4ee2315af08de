#include "GstMediaGraph.h"

#include <gst/audio/streamvolume.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "BusRecord.h"
#include "ErrorText.h"
#include "FileCheck.h"
#include "PipelineSetup.h"
#include "StreamingTasks.h"
#include "StretchElement.h"

namespace zorvik::platform {

namespace {

constexpr std::int32_t kSilence = -10000;
constexpr std::int32_t kBalanceLimit = 10000;

// How long the loader sleeps between looks at the pipeline when no message woke it. Messages wake it at
// once; this only bounds the damage should a state change complete without one.
constexpr auto kLoadPollInterval = std::chrono::milliseconds(25);
// Quiet polls in a row with no streaming thread at work after which a load is taken as stalled.
constexpr int kStalledLooks = 2;

}  // namespace

std::shared_ptr<GstMediaGraph> GstMediaGraph::Create(GstGraphOptions options) {
    initialiseGStreamer();
    if (!RegisterStretchElement()) return nullptr;
    std::shared_ptr<GstMediaGraph> graph(new GstMediaGraph(std::move(options)));
    if (!graph->buildPipeline()) return nullptr;
    return graph;
}

GstMediaGraph::GstMediaGraph(GstGraphOptions options) : options_(std::move(options)) {}

GstMediaGraph::~GstMediaGraph() {
    releasePipeline();
}

bool GstMediaGraph::buildPipeline() {
    PlaybinParts parts = buildPlaybin(options_.makeAudioSink);
    if (!parts.playbin) return false;
    pipeline_ = parts.playbin;
    stretch_ = parts.stretch;
    level_ = parts.level;
    panorama_ = parts.panorama;
    defaultSink_ = parts.defaultSink;
    g_object_set(stretch_, "speed", rate_, nullptr);
    g_object_set(level_, "volume", linearVolume_, nullptr);
    g_object_set(panorama_, "panorama", panoramaValue_, nullptr);
    bus_ = std::make_shared<BusRecord>();
    attachBusRecord(pipeline_, bus_);
    return true;
}

void GstMediaGraph::releasePipeline() {
    if (!pipeline_) return;
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    detachBus(pipeline_);
    forgetPipeline();
}

// A pipeline that did not get ready in time may have a streaming thread stuck in a read that will not
// return soon; shutting it down here would block the caller just as long. GStreamer's own worker
// threads take it down instead, and this graph carries on with a fresh pipeline.
void GstMediaGraph::abandonPipeline() {
    gst_element_call_async(
        pipeline_,
        [](GstElement* pipeline, gpointer) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            detachBus(pipeline);
        },
        nullptr, nullptr);
    forgetPipeline();
    buildPipeline();
}

void GstMediaGraph::dropDefaultSink() {
    if (defaultSink_) gst_object_unref(defaultSink_);
    defaultSink_ = nullptr;
}

void GstMediaGraph::forgetPipeline() {
    dropDefaultSink();
    gst_object_unref(level_);
    gst_object_unref(panorama_);
    gst_object_unref(stretch_);
    gst_object_unref(pipeline_);
    stretch_ = nullptr;
    level_ = nullptr;
    panorama_ = nullptr;
    pipeline_ = nullptr;
    bus_.reset();
    loaded_ = false;
}

void GstMediaGraph::unload() {
    loaded_ = false;
    uri_.clear();
    resumeAt_.reset();
    pausedAt_.reset();
    rate_ = 1.0;
    if (pipeline_) gst_element_set_state(pipeline_, GST_STATE_NULL);
    if (stretch_) g_object_set(stretch_, "speed", rate_, nullptr);
}

HResult GstMediaGraph::fail(HResult status, std::string text) {
    errorText_ = std::move(text);
    return status;
}

HResult GstMediaGraph::succeed() {
    errorText_.clear();
    return kOk;
}

HResult GstMediaGraph::requireStream() {
    if (!pipeline_ || !loaded_) return fail(kFail, "no music file is loaded");
    if (auto error = bus_->error()) return fail(kFail, describePlaybackError(*error));
    return kOk;
}

HResult GstMediaGraph::RenderFile(const std::string& fileName) {
    unload();
    if (fileName.empty()) return fail(kInvalidArg, "no file name was given");
    if (auto problem = checkFile(fileName)) return fail(kFail, *problem);
    if (!pipeline_ && !buildPipeline()) return fail(kFail, "GStreamer could not set up a player");

    GError* uriError = nullptr;
    gchar* uri = gst_filename_to_uri(fileName.c_str(), &uriError);
    if (!uri) {
        std::string text = std::string("the file name cannot be used: ") + uriError->message;
        g_error_free(uriError);
        return fail(kFail, text);
    }
    uri_ = uri;
    g_free(uri);
    return prepare();
}

// Takes the pipeline to the first frame of uri_, ready to play, and says what went wrong if it cannot.
HResult GstMediaGraph::prepare() {
    g_object_set(pipeline_, "uri", uri_.c_str(), nullptr);
    bus_->beginLoad();
    const auto deadline = std::chrono::steady_clock::now() + options_.loadTimeout;
    GstStateChangeReturn result = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    bool timedOut = false;
    // A failing file is usually reported on the bus while the state change still looks pending, so the
    // bus is watched alongside the state rather than waiting for the state alone.
    // A load can also stall for good with nothing said (see StreamingTasks.h); that shows as quiet polls
    // with no streaming thread left at work, seen twice in a row so a hand-over between two threads is
    // not mistaken for it. A thread stuck reading a slow disk still runs, and is left to the deadline.
    int stalledLooks = 0;
    bool stalled = false;
    while (result == GST_STATE_CHANGE_ASYNC) {
        const std::uint64_t seen = bus_->news();
        if (bus_->error()) break;
        result = gst_element_get_state(pipeline_, nullptr, nullptr, 0);
        if (result != GST_STATE_CHANGE_ASYNC) break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            timedOut = true;
            break;
        }
        bus_->waitForNews(seen, std::min(deadline, now + kLoadPollInterval));
        const bool quiet = bus_->news() == seen;
        stalledLooks = quiet && !AnyStreamingTaskRunning(pipeline_) ? stalledLooks + 1 : 0;
        if (stalledLooks >= kStalledLooks) {
            stalled = true;
            break;
        }
    }

    if (timedOut) {
        abandonPipeline();
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f",
                      std::chrono::duration<double>(options_.loadTimeout).count());
        return fail(kFail, std::string("the file did not become ready to play within ") + seconds +
                               " s (the drive holding it may not be responding)");
    }
    if (bus_->textFile()) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        return fail(kFail, "the file is text, not a music file GStreamer can play");
    }
    if (stalled) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        const std::string missing = bus_->missingDecoder();
        return fail(kFail, missing.empty() ? "the file is damaged, or not a music file GStreamer can play"
                                           : describeMissingDecoder(missing, bus_->missingType()));
    }
    if (auto error = bus_->error()) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        return fail(kFail, describeLoadError(*error, bus_->missingDecoder(), bus_->missingType(),
                                             defaultSink_ != nullptr));
    }
    if (result == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        const std::string missing = bus_->missingDecoder();
        return fail(kFail, missing.empty() ? "GStreamer could not open the file"
                                           : describeMissingDecoder(missing, bus_->missingType()));
    }
    gint audioStreams = 0;
    g_object_get(pipeline_, "n-audio", &audioStreams, nullptr);
    if (audioStreams <= 0) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        return fail(kFail, "the file is not a music file GStreamer can play");
    }
    if (isSilentFallback(defaultSink_)) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        return fail(kFail, kNoSoundOutputText);
    }
    loaded_ = true;
    pausedAt_ = 0.0;
    return succeed();
}

// The output a song plays to can go away under it (its sound server stopped or restarted) while the file
// is as good as ever. The graph then notes where the sound stopped and halts, and the next Run builds the
// pipeline again, which finds the server if it is back, and carries on from there. Until then a position
// or a speed that is set is kept for that Run.
bool GstMediaGraph::outputLost() {
    if (resumeAt_) return true;
    if (!pipeline_ || !loaded_) return false;
    const auto error = bus_->error();
    if (!error || !error->fromSink) return false;
    gint64 position = 0;
    resumeAt_ = gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position) && position > 0
                    ? static_cast<double>(position) / GST_SECOND
                    : 0.0;
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    return true;
}

// A failure leaves the place to carry on from noted, so a later Run tries again.
HResult GstMediaGraph::resume() {
    const double at = *resumeAt_;
    releasePipeline();
    if (!buildPipeline()) return fail(kFail, "GStreamer could not set up a player");
    if (HResult status = prepare(); failed(status)) return status;
    resumeAt_.reset();
    return at > 0.0 ? put_CurrentPosition(at) : kOk;
}

HResult GstMediaGraph::Run() {
    if (outputLost()) {
        if (HResult status = resume(); failed(status)) return status;
    }
    if (HResult status = requireStream(); failed(status)) return status;
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return fail(kFail, "GStreamer could not start playing");
    pausedAt_.reset();
    return succeed();
}

HResult GstMediaGraph::Stop() {
    // A lost output has halted the stream already.
    if (outputLost()) return succeed();
    // With no file loaded there is nothing to stop. Failing here would leave the music engine unable to
    // close the graph, and so unable to load anything after one bad file.
    if (!pipeline_ || !loaded_) return succeed();
    // A stream that already failed (its output or its file went away) is halted; that is all stopping
    // can mean for it, and it too must not keep the engine from closing the graph.
    if (bus_->error()) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        return succeed();
    }
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        return fail(kFail, "GStreamer could not pause");
    if (!pausedAt_) {
        gint64 position = 0;
        pausedAt_ = gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position) && position > 0
                        ? static_cast<double>(position) / GST_SECOND
                        : 0.0;
    }
    return succeed();
}

std::string GstMediaGraph::LastErrorText() const {
    return errorText_;
}

HResult GstMediaGraph::put_Volume(std::int32_t hundredthsOfDecibel) {
    if (hundredthsOfDecibel < kSilence || hundredthsOfDecibel > 0)
        return fail(kInvalidArg, "the volume must be between -10000 and 0 hundredths of a decibel");
    linearVolume_ =
        hundredthsOfDecibel == kSilence
            ? 0.0
            : gst_stream_volume_convert_volume(GST_STREAM_VOLUME_FORMAT_DB, GST_STREAM_VOLUME_FORMAT_LINEAR,
                                               hundredthsOfDecibel / 100.0);
    if (level_) g_object_set(level_, "volume", linearVolume_, nullptr);
    return succeed();
}

HResult GstMediaGraph::put_Balance(std::int32_t balance) {
    if (balance < -kBalanceLimit || balance > kBalanceLimit)
        return fail(kInvalidArg, "the balance must be between -10000 and 10000");
    panoramaValue_ = static_cast<float>(balance) / kBalanceLimit;
    if (panorama_) g_object_set(panorama_, "panorama", panoramaValue_, nullptr);
    return succeed();
}

// The pipeline always plays at rate 1.0 and the stretch element applies the speed from its next buffer:
// no flush, so no gap, and the new tempo is heard as soon as the sink has played what it holds. The
// element reports song time downstream, so positions, seeks and the end of the song need no conversion
// here. Following the segment's rate instead would take an instant-rate seek for every slider step, which
// playbin refused with a tempo filter inside, and would put every element at rates other than 1.0.
HResult GstMediaGraph::put_Rate(double rate) {
    if (!std::isfinite(rate) || rate <= 0.0) return fail(kInvalidArg, "the speed must be a positive number");
    if (outputLost()) {
        rate_ = rate;
        return succeed();
    }
    if (HResult status = requireStream(); failed(status)) return status;
    const bool changed = rate != rate_;
    rate_ = rate;
    g_object_set(stretch_, "speed", rate, nullptr);
    // Paused (just loaded, or stopped), the sink already holds the first audio to play, made at the speed
    // before; played, a slowed song's first beat would come at the old speed and every later one a few
    // tens of milliseconds off it. Making it again costs nothing heard.
    if (changed && pausedAt_) return seekTo(*pausedAt_);
    return succeed();
}

HResult GstMediaGraph::put_CurrentPosition(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0)
        return fail(kInvalidArg, "the position must be zero or more seconds");
    if (outputLost()) {
        resumeAt_ = seconds;
        return succeed();
    }
    if (HResult status = requireStream(); failed(status)) return status;
    return seekTo(seconds);
}

HResult GstMediaGraph::seekTo(double seconds) {
    if (!gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME,
                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                          GST_SEEK_TYPE_SET, static_cast<gint64>(std::llround(seconds * GST_SECOND)),
                          GST_SEEK_TYPE_NONE, static_cast<gint64>(GST_CLOCK_TIME_NONE)))
        return fail(kFail, "GStreamer could not move to that point in the file");
    if (pausedAt_) pausedAt_ = seconds;
    return succeed();
}

MediaGraphFactory MakeGstMediaGraphFactory(GstGraphOptions options) {
    return [options = std::move(options)]() -> std::shared_ptr<IMediaControl> {
        return GstMediaGraph::Create(options);
    };
}

}  // namespace zorvik::platform
