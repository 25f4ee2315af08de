#include "StretchElement.h"

#include <gst/audio/audio.h>
#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>
#include <vector>

#include "AttackKeeper.h"
#include "SpscRing.h"

namespace zorvik::platform::gst {
namespace {

using RubberBand::RubberBandStretcher;

// Frames handed to the stretcher per call, and the most taken from it per output buffer.
constexpr std::size_t kBlockFrames = 1024;
constexpr std::size_t kOutFrames = 2048;
// Seconds of input kept for the pass-through at 1.0. The stretcher holds back about 0.1 s at 44.1 kHz
// whatever the rate, so two seconds leave room for the slowest and the fastest speed.
constexpr double kHistorySeconds = 2.0;
// The cross-fade between passing through and stretching: long enough to hide the seam, short enough
// that the two signals (which start at the same point of the song) have not drifted apart.
constexpr double kFadeSeconds = 0.010;
constexpr double kMinSpeed = 0.05;
constexpr double kMaxSpeed = 20.0;

// What the element stretches: the stretcher's work grows with the rate and the channels, and on a
// two-core machine stereo at 96 kHz takes about a third of a core at 0.75 (192 kHz or 16 channels at
// 48 kHz would take three quarters, next to the drums). Playback converts a song beyond these in front of
// the element, and the sound server would mix it down to the drums' stereo anyway.
constexpr const char* kCaps =
    "audio/x-raw, format=(string)" GST_AUDIO_NE(F32) ", layout=(string)interleaved, "
    "rate=(int)[ 8000, 96000 ], channels=(int)[ 1, 2 ]";

// Where in the song the stretcher's output is. The stretcher analyses its input one window behind the
// newest frame it was given, and each analysis takes the ratio set at that moment: a new ratio applies
// from the song frame half a window (its start delay) behind the input taken so far, and the output that
// belongs to frames before it still comes at the old speed. Kept in song frames, the change is where the
// stretcher has it whenever it comes: before any input (nothing yet at the old speed), as the stretcher
// fills, or while it runs (about 43 ms of output at the old speed when slowing from 1.0 to 0.5). That
// does not matter for the position but does for putting the song's own attacks where the stretcher has
// its.
class StretcherClock {
  public:
    // The stretcher starts afresh with song frame `origin` as its first output frame after the delay.
    void Reset(double speed, std::int64_t delay, std::int64_t origin) {
        frame_ = static_cast<double>(origin);
        speed_ = speed;
        delay_ = delay;
        changes_.Clear();
    }
    // The element set a new ratio with the stretcher given the song up to frame `fed`.
    void SpeedChanged(std::int64_t fed, double speed) {
        if (changes_.Room() == 0) {  // a slider dragged faster than the output goes: the oldest is due
            speed_ = changes_.Peek()->speed;
            changes_.Drop();
        }
        changes_.Push({static_cast<double>(fed - delay_), speed});
    }
    // The song frame of the next output frame.
    double Next() {
        for (const Change* change = changes_.Peek(); change != nullptr && change->at <= frame_;
             change = changes_.Peek()) {
            speed_ = change->speed;
            changes_.Drop();
        }
        const double now = frame_;
        frame_ += speed_;
        return now;
    }
    double Speed() const { return speed_; }

  private:
    struct Change {
        double at;  // song frame
        double speed;
    };
    // Both ends are on the streaming thread.
    SpscRing<Change, 32> changes_;
    double frame_ = 0.0, speed_ = 1.0;
    std::int64_t delay_ = 0;
};

// Everything the streaming thread owns. The GUI thread only ever touches the two atomics.
struct Core {
    std::atomic<double> speed{1.0};
    std::atomic<bool> keepAttacks{true};
    std::atomic<gint64> loopStart{-1};  // song time a loop goes back to, -1 with no loop
    std::atomic<gint64> position{-1};   // stream time of the last frame sent, -1 before the first

    std::unique_ptr<RubberBandStretcher> stretcher;
    int rate = 0;
    int channels = 0;
    GstCaps* caps = nullptr;
    GstBufferPool* pool = nullptr;

    // The input, interleaved, in a ring indexed by frame count since the stream (re)started.
    std::vector<float> history;
    std::int64_t historyMask = 0;
    std::vector<std::vector<float>> inPlanes, outPlanes;
    std::vector<const float*> inPointers;
    std::vector<float*> outPointers;

    std::int64_t framesIn = 0;          // input frames taken since the stream (re)started
    bool stretching = false;            // the stretcher is running; at rest the output is the input itself
    std::int64_t fed = 0;               // while stretching: the next song frame to hand the stretcher
    std::size_t outAt = 0, outGot = 0;  // the stretcher's frames retrieved, and how many of them are sent
    double songFrame = 0.0;             // the input frame the next output frame belongs to
    std::int64_t framesOut = 0;         // output frames sent since the stream (re)started
    std::size_t dropLeft = 0;           // the stretcher's start delay still to be thrown away
    double appliedSpeed = 1.0;          // the speed the output is being made at
    std::int64_t fadeLeft = 0;          // frames of cross-fade still to go
    std::int64_t fadeLength = 1;
    bool fadeToPassThrough = false;
    std::int64_t fadeHistoryFrame = 0;  // while fading into stretching: where the pass-through had got to
    AttackKeeper attacks;               // the song's own drum attacks, spliced into the stretched sound
    StretcherClock stretcherClock;      // where in the song the stretched sound is

    GstSegment inSegment{};
    bool haveOrigin = false;
    GstClockTime originPts = 0;      // timestamp of the first input frame after a (re)start
    GstClockTime originRunning = 0;  // its running time
    // Where the song is at an input frame: from `frame` on, the frames follow on from song time `stream`.
    // A loop's seam starts a new stretch of the timeline; the input itself runs on without a break.
    struct Stretch {
        std::int64_t frame = 0;
        GstClockTime stream = 0;
    };
    Stretch timeline;
    SpscRing<Stretch, 8> nextStretches;  // begun in the input, not yet reached by the output
    // A loop's seam: the song comes round again. The first frames of the new segment (from just before
    // the loop's start) are cross-faded into the frames held back from before its end.
    bool seamPending = false;
    std::int64_t mixAt = 0, mixLeft = 0, mixLength = 1;
    std::int64_t seamFrames = 1;  // held back while a loop is on
    bool segmentPending = true;
    bool discont = true;
    bool ended = false;

    ~Core() { Release(); }

    void Release() {
        if (pool) {
            gst_buffer_pool_set_active(pool, FALSE);
            gst_object_unref(pool);
            pool = nullptr;
        }
        if (caps) {
            gst_caps_unref(caps);
        }
        caps = nullptr;
        stretcher.reset();
    }

    GstClockTime FramesToTime(std::int64_t frames) const {
        return gst_util_uint64_scale_int_round(static_cast<guint64>(frames), GST_SECOND, rate);
    }

    bool Configure(GstCaps* newCaps) {
        GstAudioInfo info;
        if (!gst_audio_info_from_caps(&info, newCaps)) {
            return false;
        }
        Release();
        rate = GST_AUDIO_INFO_RATE(&info);
        channels = GST_AUDIO_INFO_CHANNELS(&info);
        caps = gst_caps_ref(newCaps);
        // Threads of its own would only add to the count a long session is watched for; in real-time mode
        // the work is per block anyway.
        stretcher = std::make_unique<RubberBandStretcher>(
            static_cast<std::size_t>(rate), static_cast<std::size_t>(channels),
            RubberBandStretcher::OptionProcessRealTime | RubberBandStretcher::OptionEngineFiner |
                RubberBandStretcher::OptionThreadingNever,
            1.0 / speed.load());
        stretcher->setMaxProcessSize(kBlockFrames);
        std::int64_t frames = 1;
        while (frames < static_cast<std::int64_t>(kHistorySeconds * rate)) {
            frames <<= 1;
        }
        history.assign(static_cast<std::size_t>(frames * channels), 0.0f);
        historyMask = frames - 1;
        inPlanes.assign(static_cast<std::size_t>(channels), std::vector<float>(kBlockFrames, 0.0f));
        outPlanes.assign(static_cast<std::size_t>(channels), std::vector<float>(kOutFrames, 0.0f));
        inPointers.clear();
        outPointers.clear();
        for (auto& plane : inPlanes) {
            inPointers.push_back(plane.data());
        }
        for (auto& plane : outPlanes) {
            outPointers.push_back(plane.data());
        }
        fadeLength = std::max<std::int64_t>(1, std::llround(kFadeSeconds * rate));
        seamFrames = std::max<std::int64_t>(1, std::llround(kLoopSeamSeconds * rate)) + 1;
        attacks.Configure(rate, channels);

        pool = gst_buffer_pool_new();
        GstStructure* config = gst_buffer_pool_get_config(pool);
        gst_buffer_pool_config_set_params(config, caps,
                                          static_cast<guint>(kOutFrames * channels * sizeof(float)), 4, 0);
        if (!gst_buffer_pool_set_config(pool, config) || !gst_buffer_pool_set_active(pool, TRUE)) {
            Release();
            return false;
        }
        Restart();
        return true;
    }

    // After a flush or a new segment: the stretcher starts afresh at the current speed, primed with the
    // silence it asks for so that its first output frame is the first input frame, and nothing is late.
    void Restart() {
        framesIn = 0;
        framesOut = 0;
        songFrame = 0.0;
        fadeLeft = 0;
        haveOrigin = false;
        segmentPending = true;
        discont = true;
        ended = false;
        position = -1;
        attacks.Reset();
        stretching = false;
        outAt = outGot = 0;
        timeline = {};
        nextStretches.Clear();
        seamPending = false;
        mixLeft = 0;
        if (!stretcher) {
            return;
        }
        appliedSpeed = std::clamp(speed.load(), kMinSpeed, kMaxSpeed);
        if (appliedSpeed != 1.0) {
            Wake(0);
        }
    }

    // Starts the stretcher at the current speed so that its first output frame is song frame `from`.
    // It is primed with the song just before that frame (silence before the song's start) in place of
    // the silence it asks for, so it comes in with the sound it would have had running all along.
    void Wake(std::int64_t from) {
        stretcher->reset();
        outAt = outGot = 0;
        stretcher->setTimeRatio(1.0 / appliedSpeed);
        const auto pad = static_cast<std::int64_t>(stretcher->getPreferredStartPad());
        fed = from - pad;
        Feed();
        dropLeft = stretcher->getStartDelay();
        stretcherClock.Reset(appliedSpeed, static_cast<std::int64_t>(dropLeft), from);
        stretching = true;
    }

    // The input frames that may be played: while a loop is on, the last few are held back, because a seam
    // may yet come and fade them out.
    std::int64_t Playable() const {
        if (ended || loopStart.load(std::memory_order_relaxed) < 0) {
            return framesIn;
        }
        return framesIn - seamFrames;
    }

    // Hands the stretcher the song from `fed` up to what may be played, out of the history.
    void Feed() {
        const std::int64_t limit = Playable();
        while (fed < limit || fed < 0) {
            const std::int64_t end = fed < 0 ? std::min<std::int64_t>(0, fed + kBlockFrames)
                                             : std::min<std::int64_t>(limit, fed + kBlockFrames);
            const auto count = static_cast<std::size_t>(end - fed);
            for (int c = 0; c < channels; ++c) {
                float* plane = inPlanes[c].data();
                for (std::size_t i = 0; i < count; ++i) {
                    const std::int64_t frame = fed + static_cast<std::int64_t>(i);
                    plane[i] = frame < 0 ? 0.0f : HistoryAt(frame, c);
                }
            }
            stretcher->process(inPointers.data(), count, false);
            fed = end;
        }
    }

    // Takes up a speed set since the last buffer. Going to or from exactly 1.0 cross-fades between the
    // pass-through and the stretcher, which both start from the same point in the song.
    void TakeSpeed() {
        const double wanted = std::clamp(speed.load(std::memory_order_relaxed), kMinSpeed, kMaxSpeed);
        if (wanted == appliedSpeed) {
            return;
        }
        // A cross-fade between the song and the stretcher finishes before one the other way begins: the
        // turn would jump between the two mid-fade. (Leaving rest, the fade waits for the stretcher's
        // first frame.)
        if (fadeLeft > 0 && (appliedSpeed == 1.0) != (wanted == 1.0)) {
            return;
        }
        segmentPending = true;
        if (!stretching) {
            // At rest everything taken in has been sent, so the stretcher starts where the listener is.
            appliedSpeed = wanted;
            const auto from = static_cast<std::int64_t>(songFrame);
            Wake(from);
            fadeToPassThrough = false;
            fadeLeft = fadeLength;
            fadeHistoryFrame = from;
            return;
        }
        const bool wasPassThrough = appliedSpeed == 1.0;
        const bool passThrough = wanted == 1.0;
        stretcher->setTimeRatio(1.0 / wanted);
        stretcherClock.SpeedChanged(fed, wanted);
        if (wasPassThrough != passThrough) {
            fadeToPassThrough = passThrough;
            fadeLeft = fadeLength;
            if (passThrough) {
                songFrame = std::round(songFrame);
            } else {
                fadeHistoryFrame = static_cast<std::int64_t>(songFrame);
            }
        }
        appliedSpeed = wanted;
    }

    float HistoryAt(std::int64_t frame, int channel) const {
        frame =
            std::clamp<std::int64_t>(frame, std::max<std::int64_t>(0, framesIn - historyMask), framesIn - 1);
        return history[static_cast<std::size_t>((frame & historyMask) * channels + channel)];
    }

    void Remember(const float* frames, std::size_t count) {
        // At a seam, the frames from before the loop's start fade in over the held-back end (the two are
        // different moments of the song, so the fade keeps the power).
        while (mixLeft > 0 && count > 0) {
            const float in = static_cast<float>(mixLength - mixLeft + 1) / static_cast<float>(mixLength + 1);
            constexpr float kQuarterTurn = std::numbers::pi_v<float> / 2;
            const float keep = std::cos(in * kQuarterTurn), take = std::sin(in * kQuarterTurn);
            float* slot = &history[static_cast<std::size_t>((mixAt & historyMask) * channels)];
            for (int c = 0; c < channels; ++c) {
                slot[c] = slot[c] * keep + frames[c] * take;
            }
            ++mixAt;
            --mixLeft;
            frames += channels;
            --count;
        }
        for (std::size_t i = 0; i < count; ++i) {
            float* slot = &history[static_cast<std::size_t>(
                ((framesIn + static_cast<std::int64_t>(i)) & historyMask) * channels)];
            std::copy_n(frames + i * channels, channels, slot);
        }
        attacks.Listen(frames, count);
        framesIn += static_cast<std::int64_t>(count);
    }

    // A new segment with no flush before it, once its first frame (at song time `stream`) is here.
    void BeginSeam(GstClockTime stream) {
        seamPending = false;
        // As many frames as the segment starts before the loop's start, and as are held back.
        const gint64 start = loopStart.load(std::memory_order_relaxed);
        std::int64_t before = 0;
        if (start >= 0 && static_cast<gint64>(stream) < start) {
            before = static_cast<std::int64_t>(
                gst_util_uint64_scale_int_round(static_cast<guint64>(start) - stream, rate, GST_SECOND));
        }
        const std::int64_t consumed = stretching ? fed : static_cast<std::int64_t>(std::ceil(songFrame));
        mixLength = std::clamp<std::int64_t>(before, 0, std::max<std::int64_t>(0, framesIn - consumed));
        mixLeft = mixLength;
        mixAt = framesIn - mixLength;
        if (nextStretches.Room() == 0) {
            nextStretches.Drop();  // seams far closer together than any loop
        }
        nextStretches.Push({mixAt, stream});
    }

    // Takes the stretch of the timeline the output has reached; true when it is a new one.
    bool ReachStretch(double frame) {
        bool reached = false;
        for (const Stretch* next = nextStretches.Peek();
             next != nullptr && frame >= static_cast<double>(next->frame); next = nextStretches.Peek()) {
            timeline = *next;
            nextStretches.Drop();
            reached = true;
        }
        return reached;
    }

    // Whether the output at `frame` has got to a stretch of the timeline it is not in yet.
    bool StretchDue(double frame) {
        const Stretch* next = nextStretches.Peek();
        return next != nullptr && frame >= static_cast<double>(next->frame);
    }

    // The song time of (output) song frame `frame`.
    GstClockTime SongTime(double frame) const {
        return timeline.stream +
               static_cast<GstClockTime>(std::llround(
                   std::max(0.0, frame - static_cast<double>(timeline.frame)) * GST_SECOND / rate));
    }

    // The stretcher's frame for channel `c`, with the song's own attack spliced in where there is one.
    float StretchedAt(float stretched, const AttackKeeper::Mix& mix, int c) const {
        if (mix.songGain <= 0.0f) {
            return stretched;
        }
        return stretched * mix.stretchedGain + HistoryAt(mix.frame, c) * mix.songGain;
    }
};

struct StretchElement {
    GstElement parent;
    GstPad* sinkPad;
    GstPad* srcPad;
    Core* core;
};

struct StretchElementClass {
    GstElementClass parentClass;
};

enum { kPropSpeed = 1, kPropKeepAttacks, kPropLoopStart };

GType stretch_element_get_type();
#define ZORVIK_STRETCH(object) (reinterpret_cast<StretchElement*>(object))

G_DEFINE_TYPE(StretchElement, stretch_element, GST_TYPE_ELEMENT)

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(kCaps));
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(kCaps));

// A segment that maps our output timeline onto the song: running time goes on without a break from
// the first frame after a (re)start, stream time is where in the song the next frame comes from, and the
// applied rate is the speed, so the stream time advances at the song's pace.
bool PushSegment(StretchElement* self) {
    Core& core = *self->core;
    core.segmentPending = false;
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    const GstClockTime sinceOrigin = core.FramesToTime(core.framesOut);
    segment.start = core.originPts + sinceOrigin;
    segment.position = segment.start;
    segment.base = core.originRunning + sinceOrigin;
    segment.time = core.SongTime(core.songFrame);
    segment.applied_rate = core.appliedSpeed;
    return gst_pad_push_event(self->srcPad, gst_event_new_segment(&segment));
}

// Stamps `written` frames of `buffer`, the first of them song frame `streamStart`, and sends them on.
GstFlowReturn Send(StretchElement* self, GstBuffer* buffer, std::size_t written, double streamStart) {
    Core& core = *self->core;
    gst_buffer_resize(buffer, 0, static_cast<gssize>(written * core.channels * sizeof(float)));
    const GstClockTime pts = core.originPts + core.FramesToTime(core.framesOut);
    core.framesOut += static_cast<std::int64_t>(written);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = core.originPts + core.FramesToTime(core.framesOut) - pts;
    GST_BUFFER_OFFSET(buffer) = static_cast<guint64>(core.framesOut) - written;
    GST_BUFFER_OFFSET_END(buffer) = static_cast<guint64>(core.framesOut);
    if (core.discont) {
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    }
    core.discont = false;
    core.position.store(static_cast<gint64>(core.SongTime(streamStart)), std::memory_order_relaxed);
    return gst_pad_push(self->srcPad, buffer);
}

GstFlowReturn Acquire(StretchElement* self, GstBuffer** buffer, GstMapInfo* map) {
    Core& core = *self->core;
    if (core.ReachStretch(core.songFrame)) {
        core.segmentPending = true;
    }
    if (core.segmentPending && !PushSegment(self)) {
        return GST_FLOW_FLUSHING;
    }
    if (gst_buffer_pool_acquire_buffer(core.pool, buffer, nullptr) != GST_FLOW_OK) {
        return GST_FLOW_FLUSHING;
    }
    gst_buffer_map(*buffer, map, GST_MAP_WRITE);
    return GST_FLOW_OK;
}

// At rest: the song as it came in, up to the last frame taken.
GstFlowReturn PassOn(StretchElement* self) {
    Core& core = *self->core;
    while (core.songFrame < static_cast<double>(core.Playable())) {
        GstBuffer* buffer = nullptr;
        GstMapInfo map;
        if (const GstFlowReturn flow = Acquire(self, &buffer, &map); flow != GST_FLOW_OK) {
            return flow;
        }
        auto* out = reinterpret_cast<float*>(map.data);
        const auto from = static_cast<std::int64_t>(core.songFrame);
        std::int64_t until =
            std::min<std::int64_t>(from + static_cast<std::int64_t>(kOutFrames), core.Playable());
        if (const auto* next = core.nextStretches.Peek()) {
            until = std::min(until, std::max(from + 1, next->frame));
        }
        const auto count = static_cast<std::size_t>(until - from);
        for (std::size_t i = 0; i < count; ++i) {
            for (int c = 0; c < core.channels; ++c) {
                out[i * core.channels + c] = core.HistoryAt(from + static_cast<std::int64_t>(i), c);
            }
        }
        gst_buffer_unmap(buffer, &map);
        core.songFrame += static_cast<double>(count);
        core.attacks.Skip(from + static_cast<std::int64_t>(count));
        if (const GstFlowReturn flow = Send(self, buffer, count, static_cast<double>(from));
            flow != GST_FLOW_OK) {
            return flow;
        }
    }
    return GST_FLOW_OK;
}

// Sends what the stretcher has ready, or at rest what came in; once the input has ended, only up to the
// last song frame.
GstFlowReturn Drain(StretchElement* self) {
    Core& core = *self->core;
    while (true) {
        if (!core.stretching) {
            return PassOn(self);
        }
        if (core.outAt == core.outGot) {
            const int ready = core.stretcher->available();
            if (ready <= 0) {
                return GST_FLOW_OK;
            }
            core.outGot =
                core.stretcher->retrieve(core.outPointers.data(), std::min<std::size_t>(ready, kOutFrames));
            core.outAt = std::min(core.dropLeft, core.outGot);
            core.dropLeft -= core.outAt;
            if (core.outAt == core.outGot) {
                continue;
            }
        }
        if (core.ended && core.songFrame >= static_cast<double>(core.framesIn)) {
            return GST_FLOW_OK;
        }
        const bool keepAttacks = core.keepAttacks.load(std::memory_order_relaxed);

        GstBuffer* buffer = nullptr;
        GstMapInfo map;
        if (const GstFlowReturn flow = Acquire(self, &buffer, &map); flow != GST_FLOW_OK) {
            return flow;
        }
        auto* out = reinterpret_cast<float*>(map.data);
        const int channels = core.channels;
        std::size_t written = 0;
        const double streamStart = core.songFrame;
        std::size_t i = core.outAt;
        for (; i < core.outGot && core.stretching; ++i) {
            if (core.ended && core.songFrame >= static_cast<double>(core.framesIn)) {
                break;
            }
            // A seam's new stretch of the timeline starts a buffer, which gets a segment of its own.
            if (written > 0 && core.StretchDue(core.songFrame)) {
                break;
            }
            const bool passThrough = core.appliedSpeed == 1.0;
            const auto passFrame = static_cast<std::int64_t>(core.songFrame);
            float* frame = out + written * channels;
            const double stretchedFrame = core.stretcherClock.Next();
            const AttackKeeper::Mix mix =
                keepAttacks ? core.attacks.Next(stretchedFrame, core.stretcherClock.Speed(), core.framesIn)
                            : AttackKeeper::Mix{};
            if (core.fadeLeft > 0) {
                const float in =
                    1.0f - static_cast<float>(core.fadeLeft) / static_cast<float>(core.fadeLength);
                for (int c = 0; c < channels; ++c) {
                    const float stretched = core.StretchedAt(core.outPlanes[c][i], mix, c);
                    if (core.fadeToPassThrough) {
                        frame[c] = stretched * (1.0f - in) + core.HistoryAt(passFrame, c) * in;
                    } else {
                        frame[c] = core.HistoryAt(core.fadeHistoryFrame, c) * (1.0f - in) + stretched * in;
                    }
                }
                ++core.fadeHistoryFrame;
                // Faded into the song at normal speed: the stretcher rests until the speed leaves 1.0.
                if (--core.fadeLeft == 0 && core.fadeToPassThrough) {
                    core.stretching = false;
                }
            } else if (passThrough) {
                for (int c = 0; c < channels; ++c) {
                    frame[c] = core.HistoryAt(passFrame, c);
                }
            } else {
                for (int c = 0; c < channels; ++c) {
                    frame[c] = core.StretchedAt(core.outPlanes[c][i], mix, c);
                }
            }
            core.songFrame += core.appliedSpeed;
            ++written;
        }
        // Resting, the stretcher's frames left over are not wanted.
        core.outAt = core.stretching ? i : core.outGot;
        gst_buffer_unmap(buffer, &map);
        if (written == 0) {
            gst_buffer_unref(buffer);
            return GST_FLOW_OK;
        }
        if (const GstFlowReturn flow = Send(self, buffer, written, streamStart); flow != GST_FLOW_OK) {
            return flow;
        }
    }
}

GstFlowReturn Chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
    StretchElement* self = ZORVIK_STRETCH(parent);
    Core& core = *self->core;
    if (!core.stretcher) {
        gst_buffer_unref(buffer);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        gst_buffer_unref(buffer);
        return GST_FLOW_ERROR;
    }
    const auto* samples = reinterpret_cast<const float*>(map.data);
    const std::size_t frames = map.size / (sizeof(float) * static_cast<std::size_t>(core.channels));
    // Only what lies inside the segment: a decoder may hand over a little from before a seek's start, or
    // from beyond a segment's stop. (Frames part in and part out stay, as GStreamer's own clipping has it.)
    GstClockTime pts = GST_BUFFER_PTS(buffer);
    std::size_t first = 0, last = frames;
    if (GST_CLOCK_TIME_IS_VALID(pts)) {
        const GstSegment& segment = core.inSegment;
        if (GST_CLOCK_TIME_IS_VALID(segment.start) && pts < segment.start) {
            first = std::min<std::size_t>(
                frames, gst_util_uint64_scale_int(segment.start - pts, core.rate, GST_SECOND));
        }
        const GstClockTime end = pts + core.FramesToTime(static_cast<std::int64_t>(frames));
        if (GST_CLOCK_TIME_IS_VALID(segment.stop) && end > segment.stop) {
            last = frames - std::min<std::size_t>(
                                frames, gst_util_uint64_scale_int(
                                            end - std::max(pts, static_cast<GstClockTime>(segment.stop)),
                                            core.rate, GST_SECOND));
        }
        pts += core.FramesToTime(static_cast<std::int64_t>(first));
    } else {
        pts = core.inSegment.start;
    }
    if (first >= last) {
        gst_buffer_unmap(buffer, &map);
        gst_buffer_unref(buffer);
        return GST_FLOW_OK;
    }
    if (core.seamPending) {
        const guint64 stream = gst_segment_to_stream_time(&core.inSegment, GST_FORMAT_TIME, pts);
        core.BeginSeam(GST_CLOCK_TIME_IS_VALID(stream) ? stream : 0);
    }
    if (!core.haveOrigin) {
        // The first frame's time places both timelines: output running time starts where the input's did,
        // and song time is the input's stream time.
        core.originPts = pts;
        const guint64 running = gst_segment_to_running_time(&core.inSegment, GST_FORMAT_TIME, pts);
        const guint64 stream = gst_segment_to_stream_time(&core.inSegment, GST_FORMAT_TIME, pts);
        core.originRunning = GST_CLOCK_TIME_IS_VALID(running) ? running : 0;
        core.timeline = {0, GST_CLOCK_TIME_IS_VALID(stream) ? stream : 0};
        core.haveOrigin = true;
    }
    core.TakeSpeed();

    GstFlowReturn flow = GST_FLOW_OK;
    for (std::size_t done = first; done < last && flow == GST_FLOW_OK;) {
        const std::size_t count = std::min(kBlockFrames, last - done);
        core.Remember(samples + done * core.channels, count);
        if (core.stretching) {
            core.Feed();
        }
        done += count;
        flow = Drain(self);
    }
    gst_buffer_unmap(buffer, &map);
    gst_buffer_unref(buffer);
    return flow;
}

// The end of the song: the stretcher gives up what it still holds, then the end goes downstream.
void Finish(StretchElement* self) {
    Core& core = *self->core;
    if (!core.stretcher || !core.haveOrigin || core.ended) {
        return;
    }
    core.ended = true;
    if (core.stretching) {
        core.Feed();  // what was held back for a seam
        for (auto& plane : core.inPlanes) {
            std::fill(plane.begin(), plane.end(), 0.0f);
        }
        core.stretcher->process(core.inPointers.data(), kBlockFrames, true);
    }
    Drain(self);
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    StretchElement* self = ZORVIK_STRETCH(parent);
    Core& core = *self->core;
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_CAPS: {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            if (!core.Configure(caps)) {
                gst_event_unref(event);
                return FALSE;
            }
            return gst_pad_event_default(pad, parent, event);
        }
        case GST_EVENT_SEGMENT: {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            if (segment->format != GST_FORMAT_TIME) {
                gst_event_unref(event);
                return FALSE;
            }
            gst_segment_copy_into(segment, &core.inSegment);
            // With no flush before it, a segment goes on where the last one ended: a loop coming round,
            // or carrying on past where a loop ended. The output runs on without a break.
            if (core.haveOrigin && !core.ended) {
                core.seamPending = true;
            } else {
                core.Restart();
            }
            // Ours goes out with the first frame, once its place in time is known.
            gst_event_unref(event);
            return TRUE;
        }
        case GST_EVENT_FLUSH_STOP:
            core.Restart();
            return gst_pad_event_default(pad, parent, event);
        case GST_EVENT_EOS:
            Finish(self);
            return gst_pad_event_default(pad, parent, event);
        case GST_EVENT_GAP:
            // A gap in the song would need one in our own timeline; the decoders we play from send none
            // that matters, and the stretcher's own output covers the time.
            gst_event_unref(event);
            return TRUE;
        default:
            return gst_pad_event_default(pad, parent, event);
    }
}

// A seek asking for a speed is taken as one: the speed goes to the element and the seek goes upstream at
// normal rate, since everything upstream plays at 1.0.
gboolean SrcEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    StretchElement* self = ZORVIK_STRETCH(parent);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
        gdouble rate = 1.0;
        GstFormat format;
        GstSeekFlags flags;
        GstSeekType startType, stopType;
        gint64 start, stop;
        gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
        if (rate > 0.0 && rate != 1.0) {
            self->core->speed = std::clamp(rate, kMinSpeed, kMaxSpeed);
            GstEvent* normal = gst_event_new_seek(1.0, format, flags, startType, start, stopType, stop);
            gst_event_set_seqnum(normal, gst_event_get_seqnum(event));
            gst_event_unref(event);
            event = normal;
        }
    }
    return gst_pad_event_default(pad, parent, event);
}

gboolean SrcQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    StretchElement* self = ZORVIK_STRETCH(parent);
    if (GST_QUERY_TYPE(query) == GST_QUERY_POSITION) {
        GstFormat format;
        gst_query_parse_position(query, &format, nullptr);
        const gint64 position = self->core->position.load(std::memory_order_relaxed);
        if (format == GST_FORMAT_TIME && position >= 0) {
            gst_query_set_position(query, GST_FORMAT_TIME, position);
            return TRUE;
        }
    }
    return gst_pad_query_default(pad, parent, query);
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(stretch_element_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        // The pads are inactive by now, so no streaming thread is inside the element.
        ZORVIK_STRETCH(element)->core->Release();
    }
    return result;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
    Core& core = *ZORVIK_STRETCH(object)->core;
    if (id == kPropSpeed) {
        core.speed.store(g_value_get_double(value), std::memory_order_relaxed);
    } else if (id == kPropKeepAttacks) {
        core.keepAttacks.store(g_value_get_boolean(value), std::memory_order_relaxed);
    } else if (id == kPropLoopStart) {
        core.loopStart.store(g_value_get_int64(value), std::memory_order_relaxed);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
    const Core& core = *ZORVIK_STRETCH(object)->core;
    if (id == kPropSpeed) {
        g_value_set_double(value, core.speed.load(std::memory_order_relaxed));
    } else if (id == kPropKeepAttacks) {
        g_value_set_boolean(value, core.keepAttacks.load(std::memory_order_relaxed));
    } else if (id == kPropLoopStart) {
        g_value_set_int64(value, core.loopStart.load(std::memory_order_relaxed));
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    }
}

void Finalize(GObject* object) {
    delete ZORVIK_STRETCH(object)->core;
    G_OBJECT_CLASS(stretch_element_parent_class)->finalize(object);
}

void stretch_element_class_init(StretchElementClass* klass) {
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = SetProperty;
    objectClass->get_property = GetProperty;
    objectClass->finalize = Finalize;
    g_object_class_install_property(
        objectClass, kPropSpeed,
        g_param_spec_double("speed", "Speed", "Playing speed, keeping the pitch (1.0 is normal)", kMinSpeed,
                            kMaxSpeed, 1.0,
                            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    // Off, a slowed song is Rubber Band's alone: what the benches compare the splice with.
    g_object_class_install_property(
        objectClass, kPropKeepAttacks,
        g_param_spec_boolean("keep-attacks", "Keep attacks",
                             "Splice the song's own drum attacks into slowed-down sound", TRUE,
                             static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    // Set while a loop is on: a segment that follows the last with no flush (the song seeked back to
    // just before this point) is a seam, and is cross-faded in.
    g_object_class_install_property(
        objectClass, kPropLoopStart,
        g_param_spec_int64("loop-start", "Loop start",
                           "Song time in nanoseconds a loop goes back to, -1 with no loop", -1, G_MAXINT64,
                           -1, static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    elementClass->change_state = ChangeState;
    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(elementClass, "Zorvik time stretch", "Filter/Effect/Audio",
                                          "Changes the speed of music, keeping its pitch and its attacks",
                                          "The Zorvik developers");
}

void stretch_element_init(StretchElement* self) {
    self->core = new Core();
    self->sinkPad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
    gst_pad_set_chain_function(self->sinkPad, Chain);
    gst_pad_set_event_function(self->sinkPad, SinkEvent);
    GST_PAD_SET_PROXY_CAPS(self->sinkPad);
    GST_PAD_SET_PROXY_ALLOCATION(self->sinkPad);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkPad);
    self->srcPad = gst_pad_new_from_static_template(&srcTemplate, "src");
    gst_pad_set_event_function(self->srcPad, SrcEvent);
    gst_pad_set_query_function(self->srcPad, SrcQuery);
    GST_PAD_SET_PROXY_CAPS(self->srcPad);
    gst_element_add_pad(GST_ELEMENT(self), self->srcPad);
}

}  // namespace

bool RegisterStretchElement() {
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [] {
        registered =
            gst_element_register(nullptr, kStretchElementName, GST_RANK_NONE, stretch_element_get_type());
    });
    return registered;
}

}  // namespace zorvik::platform::gst
