#pragma once
// Setting GStreamer up for the graph: the library itself once per process, and the parts of one playbin.

#include <gst/gst.h>

#include <functional>

namespace zorvik::platform::gst {

// gst_init and everything the graph needs registered before its first pipeline; once per process.
void InitialiseGStreamer();

// A playbin for audio only, playing through our output bin: stretch, level, balance, then the sink.
// Every member holds a reference of its own; all are empty when something could not be made.
struct PlaybinParts {
    GstElement* playbin = nullptr;
    GstElement* stretch = nullptr;
    GstElement* level = nullptr;
    GstElement* panorama = nullptr;
    GstElement* defaultSink = nullptr;  // the autoaudiosink, when playing to the default output
};
// `makeAudioSink` empty: the system's default output.
PlaybinParts BuildPlaybin(const std::function<GstElement*()>& makeAudioSink);

// True when the default output fell back to a sink that plays nothing.
bool IsSilentFallback(GstElement* autoSink);

}  // namespace zorvik::platform::gst
