// A song slowed down or sped up through our stretch element, offline and as fast as it goes, written as
// a 32-bit float WAV at the song's own rate: what the real-recordings bench scores against Rubber Band's
// own command-line tool.
//
//   build/bench/stretch_file IN OUT SPEED [plain]     plain: the stretcher alone, no attack splice

#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "StretchElement.h"

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    if (argc < 4 || (argc == 5 && std::string(argv[4]) != "plain") || argc > 5) {
        std::fprintf(stderr, "usage: %s IN OUT SPEED [plain]\n", argv[0]);
        return 2;
    }
    if (!zorvik::platform::RegisterStretchElement()) return 1;
    const std::string description = std::string("filesrc name=in ! decodebin ! audioconvert ! ") +
                                    zorvik::platform::kStretchElementName +
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
    g_object_set(in, "location", argv[1], nullptr);
    g_object_set(out, "location", argv[2], nullptr);
    g_object_set(stretch, "speed", std::atof(argv[3]), "keep-attacks", argc < 5, nullptr);
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
        std::fprintf(stderr, "%s: %s\n", argv[1], failure->message);
        g_error_free(failure);
    }
    gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok ? 0 : 1;
}
