#pragma once
// Whether any streaming thread of a pipeline is still at work. A pipeline on its way to PAUSED makes
// progress only in its streaming threads (reading, typefinding, demuxing, waiting to preroll); when none
// of them runs any more and the state change is still pending, nothing will ever complete it. That
// happens when a demuxer fails on a damaged file while decodebin is still trying it out: decodebin keeps
// the demuxer's error to itself and then waits for pads that never come.

#include <gst/gst.h>

namespace zorvik::platform::gst {

// True while some pad of the pipeline, or of any bin inside it, has a started task. A thread blocked in
// a read (a slow or hung disk) still counts as started.
bool AnyStreamingTaskRunning(GstElement* pipeline);

}  // namespace zorvik::platform::gst
