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

#include "AttackKeeper.h"
#include "StretchElement.h"
#include "TestMedia.h"

namespace {

using zorvik::platform::gst::AttackKeeper;
using zorvik::platform::gst::kStretchElementName;
using zorvik::platform::gst::RegisterStretchElement;

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

// What a test does to the element while the song goes through it. `speedAt(frame)` is asked before each
// push, from the test's thread, and the speed property set to its answer (with no `inside`, which sets
// every speed after the first); `inside(element, index)` runs on
// the streaming thread as buffer `index` reaches the element, after every event before it and before the
// element sees the buffer, so a test can place a speed change or a flush exactly there.
struct Drive {
    std::function<double(std::size_t)> speedAt;
    std::function<void(GstElement*, int)> inside;
    std::size_t pushFrames = kPushFrames;
};

Heard Stretch(const std::vector<float>& input, int rate, int channels, const Drive& drive);

// Pushes `input` (interleaved) through the element, at the speeds `speedAt(frame)` asks for.
Heard Stretch(const std::vector<float>& input, int rate, int channels,
              const std::function<double(std::size_t)>& speedAt) {
    return Stretch(input, rate, channels, Drive{speedAt, nullptr});
}

Heard Stretch(const std::vector<float>& input, int rate, int channels, const Drive& drive) {
    const auto& speedAt = drive.speedAt;
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
    struct Probe {
        const Drive* drive;
        GstElement* element;
        int index;
    } probe{&drive, element, 0};
    GstPad* sinkPad = gst_element_get_static_pad(element, "sink");
    if (drive.inside) {
        gst_pad_add_probe(
            sinkPad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad*, GstPadProbeInfo*, gpointer data) {
                auto* at = static_cast<Probe*>(data);
                at->drive->inside(at->element, at->index++);
                return GST_PAD_PROBE_OK;
            },
            &probe, nullptr);
    }
    gst_object_unref(sinkPad);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);

    const std::size_t frames = input.size() / channels;
    for (std::size_t at = 0; at < frames; at += drive.pushFrames) {
        if (!drive.inside) {
            g_object_set(element, "speed", speedAt(at), nullptr);
        }
        const std::size_t count = std::min(drive.pushFrames, frames - at);
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
    if (done) {
        gst_message_unref(done);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    for (GstElement* object : {source, element, sink, pipeline}) {
        gst_object_unref(object);
    }
    return heard;
}

std::vector<float> Tone(int rate, int channels, double seconds) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> samples(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            samples[i * channels + c] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * kTone * i / rate));
        }
    }
    return samples;
}

// The tone's frequency from the rising zero crossings of the first channel, over the middle half.
double Pitch(const std::vector<float>& samples, int rate, int channels) {
    const std::size_t frames = samples.size() / channels;
    double first = -1.0, last = 0.0;
    int crossings = 0;
    for (std::size_t i = frames / 4; i + 1 < frames * 3 / 4; ++i) {
        const float a = samples[i * channels], b = samples[(i + 1) * channels];
        if (a < 0.0f && b >= 0.0f) {
            const double at = i + a / (a - b);
            if (first < 0.0) {
                first = at;
            }
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
        const std::vector<float> input = Tone(row.rate, row.channels, 2.0);
        const Heard heard = Stretch(input, row.rate, row.channels, [&](std::size_t) { return row.speed; });
        ASSERT_TRUE(heard.ended);
        const double expected = input.size() / row.speed;
        EXPECT_NEAR(double(heard.samples.size()), expected, 0.01 * expected);
        EXPECT_NEAR(Pitch(heard.samples, row.rate, row.channels), kTone, 0.005 * kTone);
    }
}

TEST_F(StretchTest, AtNormalSpeedTheSoundPassesUntouched) {
    const std::vector<float> input = zorvik::testmedia::Bursts(44100, 2, 1.5);
    const Heard heard = Stretch(input, 44100, 2, [](std::size_t) { return 1.0; });
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
        const std::vector<float> input = Tone(kRate, 2, 3.0);
        const Heard heard = Stretch(input, kRate, 2, [&](std::size_t frame) {
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
        for (std::size_t i = 2; i < heard.samples.size(); i += 2) {
            worst = std::max(worst, std::fabs(heard.samples[i] - heard.samples[i - 2]));
        }
        EXPECT_LT(worst, 0.15f);
        // All of the song is heard, up to its end and not beyond.
        const double lastSeconds = double(heard.buffers.back().streamTime) / GST_SECOND;
        EXPECT_GT(lastSeconds, 2.8);
        EXPECT_LE(lastSeconds, 3.0);
    }
}

// Slowed down, every attack is the song's own: the frames that follow a burst come out exactly as they
// went in, and the burst lands where the slowed song puts it.
TEST_F(StretchTest, SlowedAttacksAreTheSongsOwnAndOnTheBeat) {
    constexpr int kRate = 44100;
    constexpr std::size_t kEvery = kRate / 4;      // zorvik::testmedia::Bursts() bursts every quarter second
    constexpr std::size_t kCompare = kRate / 200;  // the burst's first 5 ms
    const std::vector<float> input = zorvik::testmedia::Bursts(kRate, 2, 2.0);
    for (const double speed : {0.5, 0.75, 0.9}) {
        SCOPED_TRACE(::testing::Message() << "speed " << speed);
        const Heard heard = Stretch(input, kRate, 2, [&](std::size_t) { return speed; });
        ASSERT_TRUE(heard.ended);
        for (std::size_t burst = kEvery; burst + kEvery < input.size() / 2; burst += kEvery) {
            SCOPED_TRACE(::testing::Message() << "burst at frame " << burst);
            const auto due = static_cast<std::ptrdiff_t>(std::llround(burst / speed));
            std::ptrdiff_t bestAt = -1;
            float best = 1.0f;
            for (std::ptrdiff_t at = due - kRate / 1000; at <= due + kRate / 1000; ++at) {
                float worst = 0.0f;
                for (std::size_t k = 0; k < kCompare * 2; ++k) {
                    worst = std::max(worst, std::fabs(heard.samples[at * 2 + k] - input[burst * 2 + k]));
                }
                if (worst < best) {
                    best = worst, bestAt = at;
                }
            }
            EXPECT_LT(best, 1e-5f) << "the burst is not heard as it was played within 1 ms of its beat";
            EXPECT_NEAR(double(bestAt), double(due), kRate * 0.0005);
        }
    }
}

// A slowed song's attacks are heard once whenever the speed reaches the element: before the song, as its
// first buffer arrives (after the segment that started the stretcher), after some of it has played at
// normal speed, twice within one cross-fade out of normal speed, and right after a flush. Each row places
// the change on the streaming thread at one buffer, as the GUI's slider, a preroll and a seek can meet.
// Where the whole song is slowed, every attack is also the song's own and exactly on its slowed beat.
TEST_F(StretchTest, SlowedAttacksAreHeardOnceWhateverWhenTheSpeedArrives) {
    constexpr int kRate = 44100;
    constexpr std::size_t kEvery = kRate / 4;
    const auto setSpeed = [](GstElement* element, double speed) {
        g_object_set(element, "speed", speed, nullptr);
    };
    const auto flush = [](GstElement* element) {
        GstPad* pad = gst_element_get_static_pad(element, "sink");
        gst_pad_send_event(pad, gst_event_new_flush_start());
        gst_pad_send_event(pad, gst_event_new_flush_stop(FALSE));
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_TIME);
        gst_pad_send_event(pad, gst_event_new_segment(&segment));
        gst_object_unref(pad);
    };
    struct Row {
        const char* name;
        double first;
        std::size_t pushFrames;
        std::function<void(GstElement*, int)> inside;
        bool wholeSongSlowed;
    };
    const Row rows[] = {
        {"set before the song", 0.5, kPushFrames, nullptr, true},
        {"set as the first buffer arrives", 1.0, kPushFrames,
         [&](GstElement* e, int i) {
             if (i == 0) {
                 setSpeed(e, 0.5);
             }
         },
         true},
        {"set after the first buffer", 1.0, kPushFrames,
         [&](GstElement* e, int i) {
             if (i == 1) {
                 setSpeed(e, 0.5);
             }
         },
         false},
        {"set after a second at normal speed", 1.0, kPushFrames,
         [&](GstElement* e, int i) {
             if (i == 43) {
                 setSpeed(e, 0.5);
             }
         },
         false},
        {"changed twice within the cross-fade from normal speed", 1.0, 128,
         [&](GstElement* e, int i) {
             if (i == 200) {
                 setSpeed(e, 0.75);
             }
             if (i == 201) {
                 setSpeed(e, 0.5);
             }
         },
         false},
        {"set right after a flush", 1.0, kPushFrames,
         [&](GstElement* e, int i) {
             if (i != 20) {
                 return;
             }
             flush(e);
             setSpeed(e, 0.5);
         },
         false},
        {"set right before a flush", 1.0, kPushFrames,
         [&](GstElement* e, int i) {
             if (i != 20) {
                 return;
             }
             setSpeed(e, 0.5);
             flush(e);
         },
         false},
    };
    const std::vector<float> input = zorvik::testmedia::Bursts(kRate, 2, 3.0);
    const std::size_t bursts = (input.size() / 2 + kEvery - 1) / kEvery;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const double first = row.first;
        const Heard heard = Stretch(
            input, kRate, 2, Drive{[first](std::size_t) { return first; }, row.inside, row.pushFrames});
        ASSERT_TRUE(heard.ended);
        const std::vector<std::size_t> found = zorvik::testmedia::Onsets(heard.samples, kRate, 2);
        ::testing::Message where;
        for (const std::size_t at : found) {
            where << " " << double(at) / kRate;
        }
        EXPECT_LE(found.size(), bursts) << "attacks heard at (s):" << where;
        for (std::size_t i = 1; i < found.size(); ++i) {
            EXPECT_GT(found[i] - found[i - 1], kRate * 0.06) << "an attack heard twice; all at (s):" << where;
        }
        if (!row.wholeSongSlowed) {
            continue;
        }
        for (std::size_t burst = 1; burst < found.size(); ++burst) {
            const double due = double(burst * kEvery) / 0.5;
            EXPECT_NEAR(double(found[burst]), due, kRate * 0.0015) << "attack " << burst;
        }
    }
}

// A loop coming round, as the music engine makes it: a segment seek with no flush back to just before the
// loop's start, each time the song reaches its end. Every burst in the loop is heard once per repeat and on
// the looped timeline, and the tone under them never drops out at a seam.
TEST_F(StretchTest, ALoopComesRoundWithoutAGapAtAnySpeed) {
    constexpr int kRate = 44100;
    constexpr std::size_t kPush = kRate / 100;  // so each pass starts on a buffer of its own
    constexpr double kStart = 0.6, kEnd = 1.6;  // around the bursts at 0.75, 1.0, 1.25 and 1.5 s
    constexpr int kRepeats = 3;
    const auto frames = [](double seconds) {
        return static_cast<std::size_t>(std::llround(seconds * kRate));
    };
    const std::size_t from = frames(kStart - zorvik::platform::gst::kLoopSeamSeconds), end = frames(kEnd);
    const std::vector<float> song = zorvik::testmedia::Bursts(kRate, 2, kEnd);
    // What the element is sent: the song to the loop's end, then the loop with its lead-in, again and again.
    std::vector<float> input(song.begin(), song.begin() + end * 2);
    for (int r = 0; r < kRepeats; ++r) {
        input.insert(input.end(), song.begin() + from * 2, song.begin() + end * 2);
    }
    const auto comeRound = [&](GstElement* element, int index) {
        const std::size_t at = index * kPush;
        if (at < end || (at - end) % (end - from) != 0) {
            return;
        }
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_TIME);
        segment.start = gst_util_uint64_scale_int(at, GST_SECOND, kRate);
        segment.stop = segment.start + gst_util_uint64_scale_int(end - from, GST_SECOND, kRate);
        segment.time = gst_util_uint64_scale_int(from, GST_SECOND, kRate);
        GstPad* pad = gst_element_get_static_pad(element, "sink");
        gst_pad_send_event(pad, gst_event_new_segment(&segment));
        gst_object_unref(pad);
    };
    for (const double speed : {0.5, 1.0, 1.5}) {
        SCOPED_TRACE(::testing::Message() << "speed " << speed);
        const Heard heard = Stretch(input, kRate, 2,
                                    Drive{[speed](std::size_t) { return speed; },
                                          [&](GstElement* element, int index) {
                                              if (index == 0) {
                                                  g_object_set(element, "speed", speed, "loop-start",
                                                               gint64(kStart * GST_SECOND), nullptr);
                                              }
                                              comeRound(element, index);
                                          },
                                          kPush});
        ASSERT_TRUE(heard.ended);
        const std::vector<double> due = zorvik::testmedia::LoopedBursts(kStart, kEnd, kRepeats, speed);
        const std::vector<std::size_t> found = zorvik::testmedia::Onsets(heard.samples, kRate, 2);
        ::testing::Message where;
        for (const std::size_t at : found) {
            where << " " << double(at) / kRate;
        }
        ASSERT_EQ(found.size(), due.size()) << "bursts heard at (s):" << where;
        for (std::size_t i = 0; i < due.size(); ++i) {
            EXPECT_NEAR(double(found[i]) / kRate, due[i], 0.0015)
                << "burst " << i << "; all at (s):" << where;
        }
        // The tone is 0.3 high; at a seam that dropped out, a millisecond would fall far below it.
        for (int r = 0; r < kRepeats; ++r) {
            const auto seam = static_cast<std::size_t>((kEnd + r * (kEnd - kStart)) / speed * kRate);
            float quietest = 1.0f;
            for (std::size_t at = seam - kRate / 50; at < seam + kRate / 50; at += kRate / 1000) {
                float loudest = 0.0f;
                for (std::size_t i = at; i < at + kRate / 1000; ++i) {
                    loudest = std::max(loudest, std::fabs(heard.samples[i * 2]));
                }
                quietest = std::min(quietest, loudest);
            }
            EXPECT_GT(quietest, 0.2f) << "seam " << r;
        }
        // And the loop's length is what it was at this speed, so the song time heard at the end is
        // the loop's end.
        EXPECT_NEAR(double(heard.samples.size() / 2) / kRate, (kEnd + kRepeats * (kEnd - kStart)) / speed,
                    0.002);
        const Sent& last = heard.buffers.back();
        EXPECT_NEAR(double(last.streamTime + last.duration * speed) / GST_SECOND, kEnd, 0.002);
    }
}

// What an MP3 encoder leaves in the silence before a sharp attack: a noise floor near -100 dB and a
// pre-echo rising out of it to -68 dB over the 12 ms before the attack.
float Mp3Silence(std::ptrdiff_t framesToAttack, int rate, float white) {
    const double ms = 1000.0 * double(framesToAttack) / rate;
    const double db = ms > 0.0 && ms <= 12.0 ? -68.0 - 22.0 * ms / 12.0 : -100.0;
    return static_cast<float>(std::pow(10.0, db / 20.0)) * white;
}

// What is spliced: a sound starting clear of what came before it, not a sound swelling or going on, nor
// a hit in a full mix. Each row is counted as splices the keeper makes at half speed, the song's start
// (its bed of tone) being the first.
TEST(AttackKeeperTest, SplicesOnlyAtAttacksThatStandClear) {
    constexpr int kRate = 48000;
    const auto bursts = [](float level) {
        return [level](std::size_t i, float white) {
            const std::size_t since = i % (kRate / 4);
            return i >= kRate / 4 && since < kRate / 50 ? level * white : 0.0f;
        };
    };
    struct Row {
        const char* name;
        float bed;                                      // the tone's amplitude
        std::function<float(std::size_t, float)> over;  // the sound over the bed, by frame and white noise
        int splices;
    };
    const Row rows[] = {
        {"steady noise", 0.2f, [](std::size_t, float white) { return 0.1f * white; }, 1},
        {"noise swelling in over 300 ms", 0.2f,
         [](std::size_t i, float white) {
             return 0.3f * white * std::clamp((float(i) / kRate - 0.5f) / 0.3f, 0.0f, 1.0f);
         },
         1},
        {"a second note starting at 0.5 s, 20 dB over the first", 0.02f,
         [](std::size_t i, float) {
             return i < kRate / 2 ? 0.0f
                                  : 0.2f * static_cast<float>(std::sin(2.0 * M_PI * 660.0 * i / kRate));
         },
         2},
        {"a second note starting at 0.5 s, 7 dB over the first", 0.2f,
         [](std::size_t i, float) {
             return i < kRate / 2 ? 0.0f
                                  : 0.4f * static_cast<float>(std::sin(2.0 * M_PI * 660.0 * i / kRate));
         },
         1},
        {"seven bursts over a tone", 0.2f, bursts(0.5f), 8},
        {"seven tone pulses out of an MP3's silence", 0.0f,
         [](std::size_t i, float white) {
             const std::size_t since = i % (kRate / 4);
             if (i >= kRate / 4 && since < kRate / 50) {
                 return 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 660.0 * i / kRate));
             }
             return Mp3Silence(static_cast<std::ptrdiff_t>(kRate / 4 - since), kRate, white);
         },
         7},
        {"seven bursts in a full mix", 0.2f,
         [&bursts](std::size_t i, float white) { return 0.3f * white + bursts(0.5f)(i, white); }, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::mt19937 random(5);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        std::vector<float> song(2 * kRate);
        for (std::size_t i = 0; i < song.size(); ++i) {
            song[i] = row.bed * static_cast<float>(std::sin(2.0 * M_PI * kTone * i / kRate)) +
                      row.over(i, noise(random));
        }
        AttackKeeper keeper;
        keeper.Configure(kRate, 1);
        keeper.Listen(song.data(), song.size());
        int splices = 0;
        bool splicing = false;
        for (std::size_t out = 0; out < 2 * song.size(); ++out) {
            const bool now = keeper.Next(0.5 * out, 0.5, std::ssize(song)).songGain > 0.0f;
            splices += now && !splicing ? 1 : 0;
            splicing = now;
        }
        EXPECT_EQ(splices, row.splices);
    }
}

// How far ahead of a spliced attack the song's own frames take over: 12 ms where the song has sound of its
// own before the attack, up to 45 ms where it is silent (a swell out of silence reaches that far back).
TEST(AttackKeeperTest, TheLeadInReachesBackOverSilenceOnly) {
    constexpr int kRate = 48000;
    constexpr std::size_t kAttack = kRate / 2;
    struct Row {
        const char* name;
        float bed;  // a 440 Hz tone under the burst, from the start
        bool mp3;   // an MP3's noise floor and pre-echo before it
        double leadMs;
    };
    for (const Row& row :
         {Row{"out of silence", 0.0f, false, 45.0},
          Row{"out of an MP3's silence, its pre-echo 57 dB under the attack", 0.0f, true, 45.0},
          Row{"over a tone 30 dB under it", 0.016f, false, 12.0}}) {
        SCOPED_TRACE(row.name);
        std::mt19937 random(9);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        std::vector<float> song(kRate);
        for (std::size_t i = 0; i < song.size(); ++i) {
            song[i] =
                row.bed * static_cast<float>(std::sin(2.0 * M_PI * kTone * i / kRate)) +
                (i >= kAttack && i < kAttack + kRate / 50 ? 0.5f * noise(random)
                 : row.mp3 ? Mp3Silence(std::ptrdiff_t(kAttack) - std::ptrdiff_t(i), kRate, noise(random))
                           : 0.0f);
        }
        AttackKeeper keeper;
        keeper.Configure(kRate, 1);
        keeper.Listen(song.data(), song.size());
        std::size_t first = 0;
        for (std::size_t out = kRate / 2; out < 2 * song.size() && first == 0; ++out) {
            if (keeper.Next(0.5 * out, 0.5, std::ssize(song)).songGain > 0.0f) {
                first = out;
            }
        }
        EXPECT_NEAR(double(2 * kAttack - first) * 1000.0 / kRate, row.leadMs, 0.5);
    }
}

}  // namespace
