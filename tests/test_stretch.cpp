// Our stretch element on its own: appsrc ! zorvikstretch ! appsink, fed as fast as it takes it, so what
// comes out can be compared frame by frame with what went in.

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "StretchElement.h"

namespace {

using zorvik::platform::kStretchElementName;
using zorvik::platform::RegisterStretchElement;

constexpr std::size_t kPushFrames = 1024;
constexpr double kTone = 440.0;

struct Sent {
    GstClockTime pts;
    GstClockTime duration;
    GstClockTime streamTime;
};

struct Heard {
    std::vector<float> samples;  // interleaved
    std::vector<Sent> buffers;
    bool ended = false;
};

// Pushes `input` (interleaved) through the element. `speedAt(frame)` is asked before each push and the
// speed property set to its answer.
Heard stretch(const std::vector<float>& input, int rate, int channels,
              const std::function<double(std::size_t)>& speedAt) {
    EXPECT_TRUE(RegisterStretchElement());
    const std::string caps = "audio/x-raw,format=F32LE,layout=interleaved,rate=" + std::to_string(rate) +
                             ",channels=" + std::to_string(channels);
    const std::string description = "appsrc name=in format=time block=true max-bytes=65536 caps=\"" + caps +
                                    "\" ! " + kStretchElementName +
                                    " name=stretch ! appsink name=out sync=false";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    EXPECT_NE(pipeline, nullptr);
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "in");
    GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline), "stretch");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    g_object_set(element, "speed", speedAt(0), nullptr);

    Heard heard;
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* appSink, gpointer data) {
        auto* into = static_cast<Heard*>(data);
        GstSample* sample = gst_app_sink_pull_sample(appSink);
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        into->buffers.push_back({GST_BUFFER_PTS(buffer), GST_BUFFER_DURATION(buffer),
                                 gst_segment_to_stream_time(gst_sample_get_segment(sample), GST_FORMAT_TIME,
                                                            GST_BUFFER_PTS(buffer))});
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_READ);
        const auto* data32 = reinterpret_cast<const float*>(map.data);
        into->samples.insert(into->samples.end(), data32, data32 + map.size / sizeof(float));
        gst_buffer_unmap(buffer, &map);
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, &heard, nullptr);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);

    const std::size_t frames = input.size() / channels;
    for (std::size_t at = 0; at < frames; at += kPushFrames) {
        g_object_set(element, "speed", speedAt(at), nullptr);
        const std::size_t count = std::min(kPushFrames, frames - at);
        GstBuffer* buffer =
            gst_buffer_new_memdup(input.data() + at * channels, count * channels * sizeof(float));
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale_int(at, GST_SECOND, rate);
        GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale_int(count, GST_SECOND, rate);
        EXPECT_EQ(gst_app_src_push_buffer(GST_APP_SRC(source), buffer), GST_FLOW_OK);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* done = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    heard.ended = done && GST_MESSAGE_TYPE(done) == GST_MESSAGE_EOS;
    if (done) gst_message_unref(done);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    for (GstElement* object : {source, element, sink, pipeline}) gst_object_unref(object);
    return heard;
}

// A quiet tone with a burst of noise every quarter second: something to hear the pitch of, and attacks.
std::vector<float> music(int rate, int channels, double seconds) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> samples(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::size_t sinceHit = i % static_cast<std::size_t>(rate / 4);
        const float hit = sinceHit < static_cast<std::size_t>(rate / 50)
                              ? 0.4f * noise(random) * std::exp(-static_cast<float>(sinceHit) * 200.0f / rate)
                              : 0.0f;
        const float tone = 0.3f * static_cast<float>(std::sin(2.0 * M_PI * kTone * i / rate));
        for (int c = 0; c < channels; ++c) samples[i * channels + c] = tone + (c == 0 ? hit : -hit);
    }
    return samples;
}

std::vector<float> tone(int rate, int channels, double seconds) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> samples(frames * channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[i * channels + c] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * kTone * i / rate));
    return samples;
}

// The tone's frequency from the rising zero crossings of the first channel, over the middle half.
double pitch(const std::vector<float>& samples, int rate, int channels) {
    const std::size_t frames = samples.size() / channels;
    double first = -1.0, last = 0.0;
    int crossings = 0;
    for (std::size_t i = frames / 4; i + 1 < frames * 3 / 4; ++i) {
        const float a = samples[i * channels], b = samples[(i + 1) * channels];
        if (a < 0.0f && b >= 0.0f) {
            const double at = i + a / (a - b);
            if (first < 0.0) first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

class StretchTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }
};

TEST_F(StretchTest, LengthFollowsTheSpeedAndThePitchStays) {
    struct Row {
        double speed;
        int rate;
        int channels;
    };
    for (const Row& row : {Row{0.5, 44100, 2}, Row{1.0, 44100, 2}, Row{1.5, 44100, 2}, Row{0.5, 96000, 2},
                           Row{0.75, 44100, 1}, Row{1.25, 22050, 1}}) {
        SCOPED_TRACE(::testing::Message()
                     << "speed " << row.speed << ", " << row.rate << " Hz, " << row.channels << " channels");
        const std::vector<float> input = tone(row.rate, row.channels, 2.0);
        const Heard heard = stretch(input, row.rate, row.channels, [&](std::size_t) { return row.speed; });
        ASSERT_TRUE(heard.ended);
        const double expected = input.size() / row.speed;
        EXPECT_NEAR(double(heard.samples.size()), expected, 0.01 * expected);
        EXPECT_NEAR(pitch(heard.samples, row.rate, row.channels), kTone, 0.005 * kTone);
    }
}

TEST_F(StretchTest, AtNormalSpeedTheSoundPassesUntouched) {
    const std::vector<float> input = music(44100, 2, 1.5);
    const Heard heard = stretch(input, 44100, 2, [](std::size_t) { return 1.0; });
    ASSERT_TRUE(heard.ended);
    ASSERT_EQ(heard.samples.size(), input.size());
    EXPECT_EQ(heard.samples, input);
    ASSERT_FALSE(heard.buffers.empty());
    EXPECT_EQ(heard.buffers.front().pts, 0u);
}

// Speeds changing every 100 ms of music, to and from 1.0 and between others: the output's timestamps
// run on without a gap or an overlap, its song position never goes back, and no change is a click.
TEST_F(StretchTest, SpeedChangesKeepTimeContinuousAndClickFree) {
    struct Row {
        const char* name;
        std::vector<double> speeds;  // one per 100 ms, repeated
    };
    const Row rows[] = {
        {"to and from normal", {1.0, 0.75, 1.0, 1.5, 1.0, 0.5}},
        {"slider sweep", {0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.1, 1.2, 1.3, 1.4, 1.5}},
    };
    constexpr int kRate = 44100;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<float> input = tone(kRate, 2, 3.0);
        const Heard heard = stretch(input, kRate, 2, [&](std::size_t frame) {
            return row.speeds[(frame / (kRate / 10)) % row.speeds.size()];
        });
        ASSERT_TRUE(heard.ended);
        ASSERT_GT(heard.buffers.size(), 10u);
        for (std::size_t i = 1; i < heard.buffers.size(); ++i) {
            const Sent& before = heard.buffers[i - 1];
            ASSERT_EQ(heard.buffers[i].pts, before.pts + before.duration) << "buffer " << i;
            ASSERT_GE(heard.buffers[i].streamTime, before.streamTime) << "buffer " << i;
        }
        // The tone moves at most 0.07 per sample; a seam between unaligned signals jumps much further.
        float worst = 0.0f;
        for (std::size_t i = 2; i < heard.samples.size(); i += 2)
            worst = std::max(worst, std::fabs(heard.samples[i] - heard.samples[i - 2]));
        EXPECT_LT(worst, 0.15f);
        // All of the song is heard, up to its end and not beyond.
        const double lastSeconds = double(heard.buffers.back().streamTime) / GST_SECOND;
        EXPECT_GT(lastSeconds, 2.8);
        EXPECT_LE(lastSeconds, 3.0);
    }
}

}  // namespace
