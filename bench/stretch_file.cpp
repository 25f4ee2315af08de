// A song slowed down or sped up through our stretch element, offline and as fast as it goes, written as
// a 32-bit float WAV at the song's own rate: what the real-recordings bench scores against Rubber Band's
// own command-line tool, and how a speed changed while a song plays is placed.
//
//   build/bench/stretch_file IN OUT SPEED [AT NEWSPEED] [plain]
//     AT NEWSPEED  the speed becomes NEWSPEED as the song's frame at AT seconds reaches the element
//     plain        the stretcher alone, no attack splice

#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "StretchElement.h"

namespace {

struct Change {
    GstClockTime at = GST_CLOCK_TIME_NONE;
    double speed = 1.0;
    bool done = false;
};

// On the streaming thread, as each buffer reaches the element: the change goes in with the first buffer
// at or past its time.
GstPadProbeReturn ChangeSpeed(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* change = static_cast<Change*>(data);
    const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
    if (!change->done && GST_CLOCK_TIME_IS_VALID(pts) && pts >= change->at) {
        change->done = true;
        GstObject* element = gst_pad_get_parent(pad);
        g_object_set(element, "speed", change->speed, nullptr);
        gst_object_unref(element);
    }
    return GST_PAD_PROBE_OK;
}

}  // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool plain = !args.empty() && args.back() == "plain";
    if (plain) {
        args.pop_back();
    }
    if (args.size() != 3 && args.size() != 5) {
        std::fprintf(stderr, "usage: %s IN OUT SPEED [AT NEWSPEED] [plain]\n", argv[0]);
        return 2;
    }
    if (!zorvik::platform::gst::RegisterStretchElement()) {
        return 1;
    }
    const std::string description = std::string("filesrc name=in ! decodebin ! audioconvert ! ") +
                                    zorvik::platform::gst::kStretchElementName +
                                    " name=stretch ! audioconvert ! audio/x-raw,format=F32LE ! wavenc ! "
                                    "filesink name=out";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr) {
        std::fprintf(stderr, "%s\n", error->message);
        return 1;
    }
    GstElement* in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
    GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    GstElement* stretch = gst_bin_get_by_name(GST_BIN(pipeline), "stretch");
    g_object_set(in, "location", args[0].c_str(), nullptr);
    g_object_set(out, "location", args[1].c_str(), nullptr);
    g_object_set(stretch, "speed", std::atof(args[2].c_str()), "keep-attacks", !plain, nullptr);
    Change change;
    if (args.size() == 5) {
        change.at = static_cast<GstClockTime>(std::atof(args[3].c_str()) * GST_SECOND);
        change.speed = std::atof(args[4].c_str());
        GstPad* pad = gst_element_get_static_pad(stretch, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, ChangeSpeed, &change, nullptr);
        gst_object_unref(pad);
    }
    gst_object_unref(in);
    gst_object_unref(out);
    gst_object_unref(stretch);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, GST_CLOCK_TIME_NONE, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (!ok) {
        GError* failure = nullptr;
        gst_message_parse_error(message, &failure, nullptr);
        std::fprintf(stderr, "%s: %s\n", args[0].c_str(), failure->message);
        g_error_free(failure);
    }
    gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok ? 0 : 1;
}
