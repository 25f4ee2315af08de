#pragma once
// Our time-stretch element: Rubber Band's real-time stretcher (the finer R3 engine) inside a GStreamer
// element, so a song can be slowed down without doubling its drum attacks or moving them off the beat.
//
// The pipeline around it always plays at rate 1.0. The speed is a property ("speed", 1.0 normal, 0.5 half
// speed) that any thread may set; the streaming thread picks it up at the next buffer, so changing speed
// needs no seek and no flush. The segments the element sends downstream carry the speed as their applied
// rate and the song position as their stream time, so the sink answers position queries in song time;
// durations and seeks pass upstream untouched because they are in song time already.
//
// At exactly 1.0 the element hands the input on sample for sample as it comes, and the stretcher rests: it
// colours a signal it does not stretch by about -43 dB, which a null test would hear, and it costs a
// tenth of a core. When the speed leaves 1.0 the stretcher starts again, primed with the song just heard
// out of the element's own history, and the output cross-fades into it without a gap.

#include <gst/gst.h>

namespace zorvik::platform::gst {

inline constexpr const char* kStretchElementName = "zorvikstretch";

// A loop comes round as a segment seek with no flush, back to this long before the loop's start: the
// element cross-fades those frames in over the loop's end, so the seam neither clicks nor changes the
// loop's length. The element's "loop-start" property says where the loop starts.
inline constexpr double kLoopSeamSeconds = 0.010;

// Registers the element with GStreamer, in this process only; safe to call from any thread, any number
// of times, after gst_init. False when the registration failed.
bool RegisterStretchElement();

}  // namespace zorvik::platform::gst
