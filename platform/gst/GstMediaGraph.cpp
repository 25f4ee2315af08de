#include "GstMediaGraph.h"

#include <gst/audio/streamvolume.h>
#include <gst/pbutils/pbutils.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "StretchElement.h"

namespace zorvik::platform {

namespace {

constexpr std::int32_t kSilence = -10000;
constexpr std::int32_t kBalanceLimit = 10000;

// How long the loader sleeps between looks at the pipeline when no message woke it. Messages wake it at
// once; this only bounds the damage should a state change complete without one.
constexpr auto kLoadPollInterval = std::chrono::milliseconds(25);

struct StreamError {
    GQuark domain = 0;
    int code = 0;
    bool fromSink = false;
    std::string message;
};

std::string describeLoadError(const StreamError& error, const std::string& missingDecoder,
                              bool defaultOutput) {
    if (!missingDecoder.empty())
        return "no decoder for this kind of file is installed (" + missingDecoder + ")";
    // The system's default output failing to open almost always means no sound server is running.
    if (error.fromSink && defaultOutput) return std::string(kNoSoundOutputText) + " (" + error.message + ")";
    if (error.fromSink) return "the sound output could not be opened: " + error.message;
    if (error.domain == GST_STREAM_ERROR) {
        switch (error.code) {
            case GST_STREAM_ERROR_TYPE_NOT_FOUND:
            case GST_STREAM_ERROR_WRONG_TYPE:
            case GST_STREAM_ERROR_CODEC_NOT_FOUND:
            case GST_STREAM_ERROR_DECODE:
            case GST_STREAM_ERROR_DEMUX:
            case GST_STREAM_ERROR_FORMAT:
                return "the file is not a music file GStreamer can play";
            default:
                break;
        }
    }
    if (error.domain == GST_RESOURCE_ERROR) return "the file could not be read: " + error.message;
    if (error.domain == GST_CORE_ERROR && error.code == GST_CORE_ERROR_MISSING_PLUGIN)
        return "a GStreamer plug-in needed for this file is missing";
    return "GStreamer could not play the file: " + error.message;
}

std::string describePlaybackError(const StreamError& error) {
    if (error.fromSink) return "the sound output stopped working: " + error.message;
    if (error.domain == GST_RESOURCE_ERROR) return "the file can no longer be read: " + error.message;
    if (error.domain == GST_STREAM_ERROR) return "the file is damaged: " + error.message;
    return "playback stopped: " + error.message;
}

}  // namespace

// What the bus reported, written from GStreamer's threads and read on the caller's. Every message is
// dropped after a look, so nothing queues up on the bus however long a session runs.
class BusRecord {
  public:
    void beginLoad() {
        std::lock_guard lock(m_mutex);
        m_error.reset();
        m_missingDecoder.clear();
        m_textFile = false;
    }

    // Runs on whichever thread posted the message: keep it short and never call back into the graph.
    void note(GstMessage* message) {
        switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_ERROR: {
                GError* error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                GstObject* source = GST_MESSAGE_SRC(message);
                StreamError recorded{
                    error->domain, error->code,
                    GST_IS_ELEMENT(source) && GST_OBJECT_FLAG_IS_SET(source, GST_ELEMENT_FLAG_SINK),
                    error->message ? error->message : ""};
                g_error_free(error);
                std::lock_guard lock(m_mutex);
                // The first error is the cause; the ones after it are elements giving up in its wake.
                if (!m_error) m_error = std::move(recorded);
                ++m_news;
                break;
            }
            case GST_MESSAGE_ELEMENT:
                if (gst_is_missing_plugin_message(message)) {
                    // Text (a web page, a playlist, notes saved as .mp3) is recognised as such and then
                    // "lacks a decoder"; the user should hear that it is no music file instead.
                    const bool text = isTextType(message);
                    gchar* description = text ? nullptr : gst_missing_plugin_message_get_description(message);
                    std::lock_guard lock(m_mutex);
                    if (text) m_textFile = true;
                    if (m_missingDecoder.empty() && description) m_missingDecoder = description;
                    g_free(description);
                }
                return;
            case GST_MESSAGE_ASYNC_DONE:
            case GST_MESSAGE_STATE_CHANGED:
                if (!GST_IS_PIPELINE(GST_MESSAGE_SRC(message))) return;
                {
                    std::lock_guard lock(m_mutex);
                    ++m_news;
                }
                break;
            default:
                return;
        }
        m_changed.notify_all();
    }

    std::uint64_t news() const {
        std::lock_guard lock(m_mutex);
        return m_news;
    }

    void waitForNews(std::uint64_t seen, std::chrono::steady_clock::time_point until) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_until(lock, until, [&] { return m_news != seen; });
    }

    std::optional<StreamError> error() const {
        std::lock_guard lock(m_mutex);
        return m_error;
    }

    std::string missingDecoder() const {
        std::lock_guard lock(m_mutex);
        return m_missingDecoder;
    }

    bool textFile() const {
        std::lock_guard lock(m_mutex);
        return m_textFile;
    }

    static GstBusSyncReply onMessage(GstBus*, GstMessage* message, gpointer data) {
        (*static_cast<std::shared_ptr<BusRecord>*>(data))->note(message);
        // A sync handler that drops a message owns it.
        gst_message_unref(message);
        return GST_BUS_DROP;
    }

    static void release(gpointer data) { delete static_cast<std::shared_ptr<BusRecord>*>(data); }

  private:
    static bool isTextType(GstMessage* message) {
        const GValue* detail = gst_structure_get_value(gst_message_get_structure(message), "detail");
        if (!detail || !GST_VALUE_HOLDS_CAPS(detail)) return false;
        const GstCaps* caps = gst_value_get_caps(detail);
        return caps && gst_caps_get_size(caps) > 0 &&
               g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "text/");
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_news = 0;
    std::optional<StreamError> m_error;
    std::string m_missingDecoder;
    bool m_textFile = false;
};

namespace {

void initialiseGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        gst_pb_utils_init();
    });
}

void detachBus(GstElement* pipeline) {
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
}

// Why a path cannot be handed to GStreamer at all, or nothing when it looks like a readable file. These
// checks come first because GStreamer would block on a pipe and report a folder or empty file vaguely.
std::optional<std::string> checkFile(const std::string& fileName) {
    struct stat info {};
    if (stat(fileName.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "the file does not exist";
        if (errno == EACCES) return "the file cannot be read (permission denied)";
        return std::string("the file cannot be read: ") + std::strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) return "this is a folder, not a music file";
    if (!S_ISREG(info.st_mode)) return "this is not an ordinary file (it is a pipe, device or socket)";
    if (info.st_size == 0) return "the file is empty";
    if (access(fileName.c_str(), R_OK) != 0) return "the file cannot be read (permission denied)";
    return std::nullopt;
}

}  // namespace

std::shared_ptr<GstMediaGraph> GstMediaGraph::Create(GstGraphOptions options) {
    initialiseGStreamer();
    if (!RegisterStretchElement()) return nullptr;
    std::shared_ptr<GstMediaGraph> graph(new GstMediaGraph(std::move(options)));
    if (!graph->buildPipeline()) return nullptr;
    return graph;
}

GstMediaGraph::GstMediaGraph(GstGraphOptions options) : m_options(std::move(options)) {}

GstMediaGraph::~GstMediaGraph() {
    releasePipeline();
}

bool GstMediaGraph::buildPipeline() {
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    // Speed, level and balance all sit behind playbin's queue, in front of the sink, so a change is heard
    // at once rather than after up to a second of already-queued sound. The stretch element takes the
    // speed at its next buffer, so nothing has to be flushed for it. The panorama in "simple" mode turns
    // one side down and leaves the other at full level, which is what a balance control does. playbin
    // finds the volume element here and uses it as its own, instead of adding its soft volume (which in
    // 1.22 leaks an element with every file).
    GstElement* output = gst_parse_bin_from_description(
        (std::string("audioconvert ! ") + kStretchElementName +
         " name=stretch ! audioconvert ! volume name=level ! audiopanorama name=balance method=simple ! "
         "audioconvert ! audioresample name=tail")
            .c_str(),
        FALSE, nullptr);
    GstElement* sink = m_options.makeAudioSink ? m_options.makeAudioSink()
                                               : gst_element_factory_make("autoaudiosink", nullptr);
    m_defaultSink = m_options.makeAudioSink || !sink ? nullptr : GST_ELEMENT(gst_object_ref(sink));
    if (!playbin || !output || !sink) {
        for (GstElement* element : {playbin, output, sink})
            if (element) gst_object_unref(gst_object_ref_sink(element));
        dropDefaultSink();
        return false;
    }
    gst_bin_add(GST_BIN(output), sink);
    GstElement* tail = gst_bin_get_by_name(GST_BIN(output), "tail");
    const bool linked = gst_element_link(tail, sink);
    gst_object_unref(tail);
    GstPad* input = gst_bin_find_unlinked_pad(GST_BIN(output), GST_PAD_SINK);
    gst_element_add_pad(output, gst_ghost_pad_new("sink", input));
    gst_object_unref(input);
    if (!linked) {
        for (GstElement* element : {playbin, output}) gst_object_unref(gst_object_ref_sink(element));
        dropDefaultSink();
        return false;
    }

    m_level = gst_bin_get_by_name(GST_BIN(output), "level");
    m_panorama = gst_bin_get_by_name(GST_BIN(output), "balance");
    m_stretch = gst_bin_get_by_name(GST_BIN(output), "stretch");
    g_object_set(m_stretch, "speed", m_rate, nullptr);
    g_object_set(m_level, "volume", m_linearVolume, nullptr);
    g_object_set(m_panorama, "panorama", m_panoramaValue, nullptr);
    // Audio only: video streams in a file are ignored rather than opening a window.
    gst_util_set_object_arg(G_OBJECT(playbin), "flags", "audio");
    g_object_set(playbin, "audio-sink", output, nullptr);

    m_bus = std::make_shared<BusRecord>();
    GstBus* bus = gst_element_get_bus(playbin);
    gst_bus_set_sync_handler(bus, &BusRecord::onMessage, new std::shared_ptr<BusRecord>(m_bus),
                             &BusRecord::release);
    gst_object_unref(bus);
    m_pipeline = playbin;
    return true;
}

void GstMediaGraph::releasePipeline() {
    if (!m_pipeline) return;
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    detachBus(m_pipeline);
    forgetPipeline();
}

// A pipeline that did not get ready in time may have a streaming thread stuck in a read that will not
// return soon; shutting it down here would block the caller just as long. GStreamer's own worker
// threads take it down instead, and this graph carries on with a fresh pipeline.
void GstMediaGraph::abandonPipeline() {
    gst_element_call_async(
        m_pipeline,
        [](GstElement* pipeline, gpointer) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            detachBus(pipeline);
        },
        nullptr, nullptr);
    forgetPipeline();
    buildPipeline();
}

void GstMediaGraph::dropDefaultSink() {
    if (m_defaultSink) gst_object_unref(m_defaultSink);
    m_defaultSink = nullptr;
}

// autoaudiosink picks its output when the stream reaches it. When no real output opens (no sound server,
// no card) it falls back to a fake sink that swallows the music in silence and reports only a warning;
// a load that "succeeds" that way would leave the user wondering why nothing is heard.
bool GstMediaGraph::defaultOutputIsSilent() const {
    if (!m_defaultSink || !GST_IS_BIN(m_defaultSink)) return false;
    bool silent = false;
    GstIterator* children = gst_bin_iterate_elements(GST_BIN(m_defaultSink));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(children, &item) == GST_ITERATOR_OK) {
        GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
        const gchar* name = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : nullptr;
        if (name && (std::strcmp(name, "fakesink") == 0 || std::strcmp(name, "fakeaudiosink") == 0))
            silent = true;
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(children);
    return silent;
}

void GstMediaGraph::forgetPipeline() {
    dropDefaultSink();
    gst_object_unref(m_level);
    gst_object_unref(m_panorama);
    gst_object_unref(m_stretch);
    gst_object_unref(m_pipeline);
    m_stretch = nullptr;
    m_level = nullptr;
    m_panorama = nullptr;
    m_pipeline = nullptr;
    m_bus.reset();
    m_loaded = false;
}

void GstMediaGraph::unload() {
    m_loaded = false;
    m_rate = 1.0;
    if (m_pipeline) gst_element_set_state(m_pipeline, GST_STATE_NULL);
    if (m_stretch) g_object_set(m_stretch, "speed", m_rate, nullptr);
}

HResult GstMediaGraph::fail(HResult status, std::string text) {
    m_errorText = std::move(text);
    return status;
}

HResult GstMediaGraph::succeed() {
    m_errorText.clear();
    return kOk;
}

HResult GstMediaGraph::requireStream() {
    if (!m_pipeline || !m_loaded) return fail(kFail, "no music file is loaded");
    if (auto error = m_bus->error()) return fail(kFail, describePlaybackError(*error));
    return kOk;
}

HResult GstMediaGraph::RenderFile(const std::string& fileName) {
    unload();
    if (fileName.empty()) return fail(kInvalidArg, "no file name was given");
    if (auto problem = checkFile(fileName)) return fail(kFail, *problem);
    if (!m_pipeline && !buildPipeline()) return fail(kFail, "GStreamer could not set up a player");

    GError* uriError = nullptr;
    gchar* uri = gst_filename_to_uri(fileName.c_str(), &uriError);
    if (!uri) {
        std::string text = std::string("the file name cannot be used: ") + uriError->message;
        g_error_free(uriError);
        return fail(kFail, text);
    }
    g_object_set(m_pipeline, "uri", uri, nullptr);
    g_free(uri);

    m_bus->beginLoad();
    const auto deadline = std::chrono::steady_clock::now() + m_options.loadTimeout;
    GstStateChangeReturn result = gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
    bool timedOut = false;
    // A failing file is usually reported on the bus while the state change still looks pending, so the
    // bus is watched alongside the state rather than waiting for the state alone.
    while (result == GST_STATE_CHANGE_ASYNC) {
        const std::uint64_t seen = m_bus->news();
        if (m_bus->error()) break;
        result = gst_element_get_state(m_pipeline, nullptr, nullptr, 0);
        if (result != GST_STATE_CHANGE_ASYNC) break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            timedOut = true;
            break;
        }
        m_bus->waitForNews(seen, std::min(deadline, now + kLoadPollInterval));
    }

    if (timedOut) {
        abandonPipeline();
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f",
                      std::chrono::duration<double>(m_options.loadTimeout).count());
        return fail(kFail, std::string("the file did not become ready to play within ") + seconds +
                               " s (the drive holding it may not be responding)");
    }
    if (m_bus->textFile()) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        return fail(kFail, "the file is text, not a music file GStreamer can play");
    }
    if (auto error = m_bus->error()) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        return fail(kFail, describeLoadError(*error, m_bus->missingDecoder(), m_defaultSink != nullptr));
    }
    if (result == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        const std::string missing = m_bus->missingDecoder();
        return fail(kFail, missing.empty()
                               ? "GStreamer could not open the file"
                               : "no decoder for this kind of file is installed (" + missing + ")");
    }
    gint audioStreams = 0;
    g_object_get(m_pipeline, "n-audio", &audioStreams, nullptr);
    if (audioStreams <= 0) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        return fail(kFail, "the file is not a music file GStreamer can play");
    }
    if (defaultOutputIsSilent()) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        return fail(kFail, kNoSoundOutputText);
    }
    m_loaded = true;
    return succeed();
}

HResult GstMediaGraph::Run() {
    if (HResult status = requireStream(); failed(status)) return status;
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return fail(kFail, "GStreamer could not start playing");
    return succeed();
}

HResult GstMediaGraph::Stop() {
    // With no file loaded there is nothing to stop. Failing here would leave the music engine unable to
    // close the graph, and so unable to load anything after one bad file.
    if (!m_pipeline || !m_loaded) return succeed();
    // A stream that already failed (its output or its file went away) is halted; that is all stopping
    // can mean for it, and it too must not keep the engine from closing the graph.
    if (m_bus->error()) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        return succeed();
    }
    if (gst_element_set_state(m_pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        return fail(kFail, "GStreamer could not pause");
    return succeed();
}

std::string GstMediaGraph::LastErrorText() const {
    return m_errorText;
}

HResult GstMediaGraph::put_Volume(std::int32_t hundredthsOfDecibel) {
    if (hundredthsOfDecibel < kSilence || hundredthsOfDecibel > 0)
        return fail(kInvalidArg, "the volume must be between -10000 and 0 hundredths of a decibel");
    m_linearVolume =
        hundredthsOfDecibel == kSilence
            ? 0.0
            : gst_stream_volume_convert_volume(GST_STREAM_VOLUME_FORMAT_DB, GST_STREAM_VOLUME_FORMAT_LINEAR,
                                               hundredthsOfDecibel / 100.0);
    if (m_level) g_object_set(m_level, "volume", m_linearVolume, nullptr);
    return succeed();
}

HResult GstMediaGraph::put_Balance(std::int32_t balance) {
    if (balance < -kBalanceLimit || balance > kBalanceLimit)
        return fail(kInvalidArg, "the balance must be between -10000 and 10000");
    m_panoramaValue = static_cast<float>(balance) / kBalanceLimit;
    if (m_panorama) g_object_set(m_panorama, "panorama", m_panoramaValue, nullptr);
    return succeed();
}

// The pipeline always plays at rate 1.0 and the stretch element applies the speed from its next buffer:
// no flush, so no gap, and the new tempo is heard as soon as the sink has played what it holds. The
// element reports song time downstream, so positions, seeks and the end of the song need no conversion
// here. (Following the segment's rate instead would take an instant-rate seek for every slider step,
// which playbin refuses with a filter that changes the amount of audio.)
HResult GstMediaGraph::put_Rate(double rate) {
    if (!std::isfinite(rate) || rate <= 0.0) return fail(kInvalidArg, "the speed must be a positive number");
    if (HResult status = requireStream(); failed(status)) return status;
    m_rate = rate;
    g_object_set(m_stretch, "speed", rate, nullptr);
    return succeed();
}

HResult GstMediaGraph::put_CurrentPosition(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0)
        return fail(kInvalidArg, "the position must be zero or more seconds");
    if (HResult status = requireStream(); failed(status)) return status;
    if (!gst_element_seek(m_pipeline, 1.0, GST_FORMAT_TIME,
                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                          GST_SEEK_TYPE_SET, static_cast<gint64>(std::llround(seconds * GST_SECOND)),
                          GST_SEEK_TYPE_NONE, static_cast<gint64>(GST_CLOCK_TIME_NONE)))
        return fail(kFail, "GStreamer could not move to that point in the file");
    return succeed();
}

MediaGraphFactory MakeGstMediaGraphFactory(GstGraphOptions options) {
    return [options = std::move(options)]() -> std::shared_ptr<IMediaControl> {
        return GstMediaGraph::Create(options);
    };
}

}  // namespace zorvik::platform
