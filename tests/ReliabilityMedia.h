#pragma once
// Shared by the reliability tests of the music side: songs made by GStreamer's own encoders, and an audio
// sink that counts what reaches it, so "still plays" and "stays silent" are facts, not assumptions.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "TestMedia.h"

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
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        g_usleep(2000);
    }
    return true;
}

// Encodes `seconds` of a 440 Hz tone through `encoder` (a gst-launch fragment) into `path`.
inline void MakeTone(const std::filesystem::path& path, const std::string& encoder, double seconds,
                     int rate = 44100) {
    ASSERT_TRUE(testmedia::EncodeTone(path, encoder, {.seconds = seconds, .rate = rate}))
        << "could not make " << path;
}

// A fresh folder under /tmp for one suite's media, with GStreamer ready to make them.
inline std::filesystem::path MakeMediaFolder(const std::string& suite) {
    gst_init(nullptr, nullptr);
    return testmedia::MakeTempFolder("rel-" + suite);
}

using testmedia::kFlacEncoder;
using testmedia::kM4aEncoder;
using testmedia::kMp3Encoder;
using testmedia::kOggEncoder;
using testmedia::kWavEncoder;

}  // namespace zorvik::reliability
