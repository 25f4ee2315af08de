#pragma once
// Shared by the reliability tests of the music side: songs made by GStreamer's own encoders, and an audio
// sink that counts what reaches it, so "still plays" and "stays silent" are facts, not assumptions.

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace zorvik::reliability {

// Everything any counting sink has been handed, in bytes of audio.
inline std::atomic<std::uint64_t> g_bytesHeard{0};

// A fakesink that adds every buffer to g_bytesHeard. With sync, it takes the music at the pace of the
// clock, as a sound card would.
inline GstElement* MakeCountingSink(bool sync) {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", sync ? TRUE : FALSE, "signal-handoffs", TRUE, nullptr);
    g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer* buffer, GstPad*, gpointer) {
                         g_bytesHeard += gst_buffer_get_size(buffer);
                     }),
                     nullptr);
    return sink;
}

// Polls g_bytesHeard until it passes `above`; false when the deadline passes first.
inline bool WaitForAudioAbove(std::uint64_t above, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (g_bytesHeard.load() <= above) {
        if (std::chrono::steady_clock::now() >= until) return false;
        g_usleep(2000);
    }
    return true;
}

// Encodes `seconds` of a 440 Hz tone through `encoder` (a gst-launch fragment) into `path`.
inline void MakeTone(const std::filesystem::path& path, const std::string& encoder, double seconds,
                     int rate = 44100) {
    const int buffers = static_cast<int>(seconds * 10);
    const std::string description =
        "audiotestsrc wave=sine freq=440 volume=0.5 samplesperbuffer=" + std::to_string(rate / 10) +
        " num-buffers=" + std::to_string(buffers) + " ! audio/x-raw,rate=" + std::to_string(rate) +
        ",channels=1 ! " + encoder + " ! filesink name=out";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    ASSERT_NE(pipeline, nullptr) << description;
    GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    g_object_set(out, "location", path.c_str(), nullptr);
    gst_object_unref(out);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* done = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(GST_MESSAGE_TYPE(done), GST_MESSAGE_EOS) << "could not make " << path;
    gst_message_unref(done);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

// A fresh folder under /tmp for one suite's media, with GStreamer ready to make them.
inline std::filesystem::path MakeMediaFolder(const std::string& suite) {
    gst_init(nullptr, nullptr);
    std::string pattern = "/tmp/zorvik-rel-" + suite + "-XXXXXX";
    const char* made = mkdtemp(pattern.data());
    if (made == nullptr) throw std::runtime_error("cannot make a folder for the " + suite + " media");
    return made;
}

inline constexpr const char* kWavEncoder = "wavenc";
inline constexpr const char* kOggEncoder = "audioconvert ! vorbisenc ! oggmux";
inline constexpr const char* kMp3Encoder = "lamemp3enc target=bitrate bitrate=128";

}  // namespace zorvik::reliability
