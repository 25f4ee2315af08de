#include "PipelineSetup.h"

#include <gst/pbutils/pbutils.h>

#include <cstring>
#include <mutex>
#include <string>

#include "Identity.h"
#include "MusicFormats.h"
#include "StretchElement.h"

namespace zorvik::platform::gst {

namespace {

// The output's own buffer is the last thing between a speed change and the ear: audio sinks hold 200 ms
// by default, which would be heard as the slider lagging. 80 ms in 10 ms periods leaves the streaming
// thread room for a stall on a busy machine (with 40 ms, a clean-clone test run heard 45 ms of silence in
// the music) and the slider still answers within a tenth of a second.
constexpr gint64 kSinkBufferMicroseconds = 80000;
constexpr gint64 kSinkPeriodMicroseconds = 10000;

// The output autoaudiosink picks, as it is added: a short buffer, and what the sound server's mixer
// shows. PulseAudio and PipeWire spell the icon's key and the roles differently.
void SetUpOutput(GstBin*, GstBin*, GstElement* element, gpointer) {
    GObjectClass* type = G_OBJECT_GET_CLASS(element);
    if (g_object_class_find_property(type, "buffer-time") &&
        g_object_class_find_property(type, "latency-time")) {
        g_object_set(element, "buffer-time", kSinkBufferMicroseconds, "latency-time", kSinkPeriodMicroseconds,
                     nullptr);
    }
    if (g_object_class_find_property(type, "stream-properties")) {
        GstElementFactory* factory = gst_element_get_factory(element);
        const bool pulse = factory && std::strcmp(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)),
                                                  "pulsesink") == 0;
        GstStructure* properties = gst_structure_new(
            "properties", "application.name", G_TYPE_STRING, kAppName, "application.id", G_TYPE_STRING,
            kAppId, pulse ? "application.icon_name" : "application.icon-name", G_TYPE_STRING, kAppId,
            "media.role", G_TYPE_STRING, pulse ? "music" : "Music", nullptr);
        g_object_set(element, "stream-properties", properties, nullptr);
        gst_structure_free(properties);
    }
}

}  // namespace

void InitialiseGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        gst_pb_utils_init();
        KeepAutoplugToMusic();
    });
}

PlaybinParts BuildPlaybin(const std::function<GstElement*()>& makeAudioSink) {
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
    GstElement* sink = makeAudioSink ? makeAudioSink() : gst_element_factory_make("autoaudiosink", nullptr);
    if (!playbin || !output || !sink) {
        for (GstElement* element : {playbin, output, sink}) {
            if (element) {
                gst_object_unref(gst_object_ref_sink(element));
            }
        }
        return {};
    }
    PlaybinParts parts;
    if (!makeAudioSink) {
        parts.defaultSink = GST_ELEMENT(gst_object_ref(sink));
        g_signal_connect(sink, "deep-element-added", G_CALLBACK(SetUpOutput), nullptr);
    }
    gst_bin_add(GST_BIN(output), sink);
    GstElement* tail = gst_bin_get_by_name(GST_BIN(output), "tail");
    const bool linked = gst_element_link(tail, sink);
    gst_object_unref(tail);
    GstPad* input = gst_bin_find_unlinked_pad(GST_BIN(output), GST_PAD_SINK);
    gst_element_add_pad(output, gst_ghost_pad_new("sink", input));
    gst_object_unref(input);
    if (!linked) {
        for (GstElement* element : {playbin, output}) {
            gst_object_unref(gst_object_ref_sink(element));
        }
        if (parts.defaultSink) {
            gst_object_unref(parts.defaultSink);
        }
        return {};
    }
    parts.playbin = playbin;
    parts.stretch = gst_bin_get_by_name(GST_BIN(output), "stretch");
    parts.level = gst_bin_get_by_name(GST_BIN(output), "level");
    parts.panorama = gst_bin_get_by_name(GST_BIN(output), "balance");
    // Audio only: video streams in a file are ignored rather than opening a window.
    gst_util_set_object_arg(G_OBJECT(playbin), "flags", "audio");
    g_object_set(playbin, "audio-sink", output, nullptr);
    return parts;
}

// autoaudiosink picks its output when the stream reaches it. When no real output opens (no sound server,
// no card) it falls back to a fake sink that swallows the music in silence and reports only a warning;
// a load that "succeeds" that way would leave the user wondering why nothing is heard.
bool IsSilentFallback(GstElement* autoSink) {
    if (!autoSink || !GST_IS_BIN(autoSink)) {
        return false;
    }
    bool silent = false;
    GstIterator* children = gst_bin_iterate_elements(GST_BIN(autoSink));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(children, &item) == GST_ITERATOR_OK) {
        GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
        const gchar* name = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : nullptr;
        if (name && (std::strcmp(name, "fakesink") == 0 || std::strcmp(name, "fakeaudiosink") == 0)) {
            silent = true;
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(children);
    return silent;
}

}  // namespace zorvik::platform::gst
