#include "GstMusicEngine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "BusRecord.h"
#include "ErrorText.h"
#include "FileCheck.h"
#include "PipelineSetup.h"
#include "StreamingTasks.h"
#include "StretchElement.h"

namespace zorvik::platform::gst {

namespace {

// How long the loader sleeps between looks at the pipeline when no message woke it. Messages wake it at
// once; this only bounds the damage should a state change complete without one.
constexpr auto kLoadPollInterval = std::chrono::milliseconds(25);
// Quiet polls in a row with no streaming thread at work after which a load is taken as stalled.
constexpr int kStalledLooks = 2;

gint64 Nanoseconds(double seconds) {
    return static_cast<gint64>(std::llround(seconds * GST_SECOND));
}

// Takes `pipeline` to NULL on a thread of GStreamer's pool and waits at most `wait` for it. A streaming
// thread stuck in a read (a song on a network drive that stopped answering) holds NULL up for as long as
// the read takes; past the wait the pipeline is left to get there on that thread, which then detaches its
// bus, and the caller carries on without it. True when it got to NULL in time.
bool HaltWithin(GstElement* pipeline, std::chrono::milliseconds wait) {
    struct Halting {
        std::mutex mutex;
        std::condition_variable changed;
        bool halted = false;
        bool abandoned = false;
    };
    auto halting = std::make_shared<Halting>();
    gst_element_call_async(
        pipeline,
        [](GstElement* element, gpointer data) {
            Halting& task = **static_cast<std::shared_ptr<Halting>*>(data);
            gst_element_set_state(element, GST_STATE_NULL);
            const std::lock_guard lock(task.mutex);
            task.halted = true;
            if (task.abandoned) {
                DetachBus(element);
            }
            task.changed.notify_one();
        },
        new std::shared_ptr<Halting>(halting),
        [](gpointer data) { delete static_cast<std::shared_ptr<Halting>*>(data); });
    std::unique_lock lock(halting->mutex);
    if (halting->changed.wait_for(lock, wait, [&] { return halting->halted; })) {
        return true;
    }
    halting->abandoned = true;
    return false;
}

}  // namespace

// The loop as GStreamer's threads see it. While one is on, the song plays as a segment seek ending at the
// loop's end; when it gets there the pipeline says so, and the bus hook seeks back to just before the
// loop's start with no flush, so what is queued ahead still plays and the stretch element cross-fades
// the seam. Cleared, the same hook carries on from the end without a loop (from the end it knows: what
// the pipeline says of where the segment ended is the demuxer's idea, and wavparse's is off).
struct LoopPoints {
    std::atomic<bool> on{false};
    std::atomic<gint64> start{0}, end{0};  // nanoseconds of the song; the end stays when the loop goes

    // The seek goes upstream from the stretch element rather than to the pipeline: a seek sent to the
    // pipeline holds its state lock until the decoder's thread takes it, which is only once the queues
    // in front of the sink have room, and a pause or a new song on the GUI thread would wait as long.
    // It waits on a thread of GStreamer's pool, since the hook runs on a streaming thread.
    static void SendRound(GstElement* stretch, const std::shared_ptr<LoopPoints>& points) {
        gst_element_call_async(
            stretch,
            [](GstElement* element, gpointer data) {
                const LoopPoints& loop = **static_cast<std::shared_ptr<LoopPoints>*>(data);
                GstEvent* seek = nullptr;
                if (loop.on.load()) {
                    const gint64 lead = Nanoseconds(kLoopSeamSeconds);
                    seek = gst_event_new_seek(
                        1.0, GST_FORMAT_TIME,
                        static_cast<GstSeekFlags>(GST_SEEK_FLAG_SEGMENT | GST_SEEK_FLAG_ACCURATE),
                        GST_SEEK_TYPE_SET, std::max<gint64>(0, loop.start.load() - lead), GST_SEEK_TYPE_SET,
                        loop.end.load());
                } else {
                    seek = gst_event_new_seek(1.0, GST_FORMAT_TIME, GST_SEEK_FLAG_ACCURATE, GST_SEEK_TYPE_SET,
                                              loop.end.load(), GST_SEEK_TYPE_SET, -1);
                }
                GstPad* input = gst_element_get_static_pad(element, "sink");
                gst_pad_push_event(input, seek);
                gst_object_unref(input);
            },
            new std::shared_ptr<LoopPoints>(points),
            [](gpointer data) { delete static_cast<std::shared_ptr<LoopPoints>*>(data); });
    }
};

std::unique_ptr<GstMusicEngine> GstMusicEngine::Create(GstEngineOptions options) {
    InitialiseGStreamer();
    if (!RegisterStretchElement()) {
        return nullptr;
    }
    std::unique_ptr<GstMusicEngine> engine(new GstMusicEngine(std::move(options)));
    if (!engine->BuildPipeline()) {
        return nullptr;
    }
    return engine;
}

GstMusicEngine::GstMusicEngine(GstEngineOptions options)
    : options_(std::move(options)), loopPoints_(std::make_shared<LoopPoints>()) {}

GstMusicEngine::~GstMusicEngine() {
    ReleasePipeline();
}

bool GstMusicEngine::BuildPipeline() {
    PlaybinParts parts = BuildPlaybin(options_.makeAudioSink);
    if (!parts.playbin) {
        return false;
    }
    pipeline_ = parts.playbin;
    stretch_ = parts.stretch;
    level_ = parts.level;
    panorama_ = parts.panorama;
    defaultSink_ = parts.defaultSink;
    g_object_set(stretch_, "speed", speed_, nullptr);
    g_object_set(level_, "volume", gain_, nullptr);
    g_object_set(panorama_, "panorama", panoramaValue_, nullptr);
    bus_ = std::make_shared<BusRecord>();
    // The pipeline and the stretch element in it outlive every message on its bus.
    bus_->onSegmentDone = [points = loopPoints_, stretch = stretch_] {
        LoopPoints::SendRound(stretch, points);
    };
    AttachBusRecord(pipeline_, bus_);
    ShareLoop();
    return true;
}

void GstMusicEngine::ReleasePipeline() {
    if (!pipeline_) {
        return;
    }
    if (HaltWithin(pipeline_, options_.haltTimeout)) {
        DetachBus(pipeline_);
    }
    ForgetPipeline();
}

// A pipeline that did not get ready in time may have a streaming thread stuck in a read that will not
// return soon; shutting it down here would block the caller just as long. GStreamer's own worker
// threads take it down instead, and this graph carries on with a fresh pipeline.
void GstMusicEngine::AbandonPipeline() {
    if (HaltWithin(pipeline_, std::chrono::milliseconds(0))) {
        DetachBus(pipeline_);
    }
    ForgetPipeline();
    BuildPipeline();
}

// Stops the song's pipeline for good, keeping it for the next song; one that does not stop in time is
// left behind and a fresh one takes its place.
void GstMusicEngine::Halt() {
    if (pipeline_ && !HaltWithin(pipeline_, options_.haltTimeout)) {
        ForgetPipeline();
        BuildPipeline();
    }
}

void GstMusicEngine::DropDefaultSink() {
    if (defaultSink_) {
        gst_object_unref(defaultSink_);
    }
    defaultSink_ = nullptr;
}

void GstMusicEngine::ForgetPipeline() {
    DropDefaultSink();
    gst_object_unref(level_);
    gst_object_unref(panorama_);
    gst_object_unref(stretch_);
    gst_object_unref(pipeline_);
    stretch_ = nullptr;
    level_ = nullptr;
    panorama_ = nullptr;
    pipeline_ = nullptr;
    bus_.reset();
    loaded_ = false;
}

void GstMusicEngine::Unload() {
    loaded_ = false;
    uri_.clear();
    Halt();
    file_ = MusicFile();  // after the pipeline has let go of it
    resumeAt_.reset();
    pausedAt_.reset();
    speed_ = 1.0;
    loop_.reset();
    countIn_ = false;
    if (stretch_) {
        g_object_set(stretch_, "speed", speed_, nullptr);
    }
    ShareLoop();
}

// Tells the bus hook and the stretch element about the loop, or that there is none.
void GstMusicEngine::ShareLoop() {
    if (loop_) {
        loopPoints_->start = Nanoseconds(loop_->start);
        loopPoints_->end = Nanoseconds(loop_->end);
    }
    loopPoints_->on = loop_.has_value();
    if (stretch_) {
        g_object_set(stretch_, "loop-start", loop_ ? Nanoseconds(loop_->start) : gint64{-1}, nullptr);
    }
}

Status GstMusicEngine::RequireStream() {
    if (!pipeline_ || !loaded_) {
        return Status::Failed("no music file is loaded");
    }
    if (auto error = bus_->Error()) {
        return Status::Failed(DescribePlaybackError(*error));
    }
    return Status::Done();
}

Status GstMusicEngine::Load(const std::string& path) {
    Unload();
    if (path.empty()) {
        return Status::BadArgument("no file name was given");
    }
    MusicFile file = MusicFile::Open(path);
    if (!file.IsOpen()) {
        return Status::Failed(file.Problem());
    }
    if (!pipeline_ && !BuildPipeline()) {
        return Status::Failed("GStreamer could not set up a player");
    }

    GError* uriError = nullptr;
    gchar* uri = gst_filename_to_uri(file.Location().c_str(), &uriError);
    if (!uri) {
        std::string text = std::string("the file name cannot be used: ") + uriError->message;
        g_error_free(uriError);
        return Status::Failed(text);
    }
    uri_ = uri;
    g_free(uri);
    file_ = std::move(file);
    return Prepare();
}

// Takes the pipeline to the first frame of uri_, ready to play, and says what went wrong if it cannot.
Status GstMusicEngine::Prepare() {
    g_object_set(pipeline_, "uri", uri_.c_str(), nullptr);
    bus_->BeginLoad();
    const auto deadline = std::chrono::steady_clock::now() + options_.loadTimeout;
    GstStateChangeReturn result = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    bool timedOut = false;
    // A failing file is usually reported on the bus while the state change still looks pending, so the
    // bus is watched alongside the state rather than waiting for the state alone.
    // A load can also stall for good with nothing said (see StreamingTasks.h); that shows as quiet polls
    // with no streaming thread left at work, seen twice in a row so a hand-over between two threads is
    // not mistaken for it. A thread stuck reading a slow disk still runs, and is left to the deadline.
    int stalledLooks = 0;
    bool stalled = false;
    while (result == GST_STATE_CHANGE_ASYNC) {
        const std::uint64_t seen = bus_->News();
        if (bus_->Error()) {
            break;
        }
        result = gst_element_get_state(pipeline_, nullptr, nullptr, 0);
        if (result != GST_STATE_CHANGE_ASYNC) {
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            timedOut = true;
            break;
        }
        bus_->WaitForNews(seen, std::min(deadline, now + kLoadPollInterval));
        const bool quiet = bus_->News() == seen;
        stalledLooks = quiet && !AnyStreamingTaskRunning(pipeline_) ? stalledLooks + 1 : 0;
        if (stalledLooks >= kStalledLooks) {
            stalled = true;
            break;
        }
    }

    if (timedOut) {
        AbandonPipeline();
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f",
                      std::chrono::duration<double>(options_.loadTimeout).count());
        return Status::Failed(std::string("the file did not become ready to play within ") + seconds +
                              " s (the drive holding it may not be responding)");
    }
    // What the bus says is read before the pipeline stops: one that does not stop in time is replaced,
    // and its bus with it.
    const auto fail = [this](Status status) {
        Halt();
        return status;
    };
    if (bus_->TextFile()) {
        return fail(Status::Failed("the file is text, not a music file GStreamer can play"));
    }
    if (stalled) {
        const std::string missing = bus_->MissingDecoder();
        return fail(Status::Failed(missing.empty()
                                       ? "the file is damaged, or not a music file GStreamer can play"
                                       : DescribeMissingDecoder(missing, bus_->MissingType())));
    }
    if (auto error = bus_->Error()) {
        return fail(Status::Failed(
            DescribeLoadError(*error, bus_->MissingDecoder(), bus_->MissingType(), defaultSink_ != nullptr)));
    }
    if (result == GST_STATE_CHANGE_FAILURE) {
        const std::string missing = bus_->MissingDecoder();
        return fail(Status::Failed(missing.empty() ? "GStreamer could not open the file"
                                                   : DescribeMissingDecoder(missing, bus_->MissingType())));
    }
    gint audioStreams = 0;
    g_object_get(pipeline_, "n-audio", &audioStreams, nullptr);
    if (audioStreams <= 0) {
        return fail(Status::Failed("the file is not a music file GStreamer can play"));
    }
    if (IsSilentFallback(defaultSink_)) {
        return fail(Status::Failed(kNoSoundOutputText));
    }
    loaded_ = true;
    pausedAt_ = 0.0;
    return Status::Done();
}

// The output a song plays to can go away under it (its sound server stopped or restarted) while the file
// is as good as ever. The graph then notes where the sound stopped and halts, and the next Run builds the
// pipeline again, which finds the server if it is back, and carries on from there. Until then a position
// or a speed that is set is kept for that Run.
bool GstMusicEngine::OutputLost() {
    if (resumeAt_) {
        return true;
    }
    if (!pipeline_ || !loaded_) {
        return false;
    }
    const auto error = bus_->Error();
    if (!error || !error->fromSink) {
        return false;
    }
    gint64 position = 0;
    resumeAt_ = gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position) && position > 0
                    ? static_cast<double>(position) / GST_SECOND
                    : 0.0;
    Halt();
    return true;
}

// A failure leaves the place to carry on from noted, so a later Play tries again.
Status GstMusicEngine::Resume() {
    const double at = *resumeAt_;
    ReleasePipeline();
    if (!BuildPipeline()) {
        return Status::Failed("GStreamer could not set up a player");
    }
    if (Status status = Prepare(); !status) {
        return status;
    }
    resumeAt_.reset();
    return at > 0.0 || loop_ ? SeekTo(at) : Status::Done();
}

Status GstMusicEngine::Play() {
    if (OutputLost()) {
        if (Status status = Resume(); !status) {
            return status;
        }
    }
    if (Status status = RequireStream(); !status) {
        return status;
    }
    if (countIn_ && loop_) {
        if (Status status = SeekTo(std::max(0.0, loop_->start - kCountIn)); !status) {
            return status;
        }
    }
    countIn_ = false;
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        return Status::Failed("GStreamer could not start playing");
    }
    pausedAt_.reset();
    return Status::Done();
}

Status GstMusicEngine::Pause() {
    // A lost output has halted the stream already.
    if (OutputLost()) {
        return Status::Done();
    }
    // With no file loaded there is nothing to pause. Failing here would leave the transport unable to
    // close the engine's song, and so unable to load anything after one bad file.
    if (!pipeline_ || !loaded_) {
        return Status::Done();
    }
    // A stream that already failed (its output or its file went away) is halted; that is all pausing
    // can mean for it, and it too must not keep the transport from closing the song.
    if (bus_->Error()) {
        Halt();
        return Status::Done();
    }
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        return Status::Failed("GStreamer could not pause");
    }
    if (!pausedAt_) {
        pausedAt_ = Position().value_or(0.0);
    }
    return Status::Done();
}

Status GstMusicEngine::Stop() {
    if (Status status = Pause(); !status) {
        return status;
    }
    if (Status status = Seek(loop_ ? loop_->start : 0.0); !status) {
        return status;
    }
    countIn_ = loop_.has_value();
    return Status::Done();
}

std::optional<double> GstMusicEngine::Position() const {
    if (resumeAt_) {
        return resumeAt_;
    }
    if (!pipeline_ || !loaded_) {
        return std::nullopt;
    }
    if (pausedAt_) {
        return pausedAt_;
    }
    gint64 position = 0;
    if (!gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position) || position < 0) {
        return std::nullopt;
    }
    return static_cast<double>(position) / GST_SECOND;
}

std::optional<double> GstMusicEngine::Duration() const {
    if (!pipeline_ || !loaded_) {
        return std::nullopt;
    }
    gint64 duration = 0;
    if (!gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &duration) || duration <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(duration) / GST_SECOND;
}

Status GstMusicEngine::SetGain(double gain) {
    if (!std::isfinite(gain) || gain < 0.0 || gain > 1.0) {
        return Status::BadArgument("the level must be between 0 and 1");
    }
    gain_ = gain;
    if (level_) {
        g_object_set(level_, "volume", gain_, nullptr);
    }
    return Status::Done();
}

Status GstMusicEngine::SetBalance(double balance) {
    if (!std::isfinite(balance) || balance < -1.0 || balance > 1.0) {
        return Status::BadArgument("the balance must be between -1 and 1");
    }
    panoramaValue_ = static_cast<float>(balance);
    if (panorama_) {
        g_object_set(panorama_, "panorama", panoramaValue_, nullptr);
    }
    return Status::Done();
}

// The pipeline always plays at rate 1.0 and the stretch element applies the speed from its next buffer:
// no flush, so no gap, and the new tempo is heard as soon as the sink has played what it holds. The
// element reports song time downstream, so positions, seeks and the end of the song need no conversion
// here. Following the segment's rate instead would take an instant-rate seek for every slider step, which
// playbin refused with a tempo filter inside, and would put every element at rates other than 1.0.
Status GstMusicEngine::SetSpeed(double speed) {
    if (!std::isfinite(speed) || speed <= 0.0) {
        return Status::BadArgument("the speed must be a positive number");
    }
    if (OutputLost()) {
        speed_ = speed;
        return Status::Done();
    }
    if (Status status = RequireStream(); !status) {
        return status;
    }
    const bool changed = speed != speed_;
    speed_ = speed;
    g_object_set(stretch_, "speed", speed, nullptr);
    // Paused (just loaded, or stopped), the sink already holds the first audio to play, made at the speed
    // before; played, a slowed song's first beat would come at the old speed and every later one a few
    // tens of milliseconds off it. Making it again costs nothing heard.
    if (changed && pausedAt_) {
        return SeekTo(*pausedAt_);
    }
    return Status::Done();
}

Status GstMusicEngine::Seek(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0) {
        return Status::BadArgument("the position must be zero or more seconds");
    }
    countIn_ = false;
    if (OutputLost()) {
        resumeAt_ = seconds;
        return Status::Done();
    }
    if (Status status = RequireStream(); !status) {
        return status;
    }
    return SeekTo(seconds);
}

// With a loop on, the song plays as a segment that ends at the loop's end, so that GStreamer says when it
// gets there (see LoopPoints).
Status GstMusicEngine::SeekTo(double seconds) {
    if (loop_ && seconds >= loop_->end) {
        seconds = loop_->start;
    }
    auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    gint64 stop = -1;  // the song's end, not the end of a loop that was on before
    if (loop_) {
        flags = static_cast<GstSeekFlags>(flags | GST_SEEK_FLAG_SEGMENT);
        stop = Nanoseconds(loop_->end);
    }
    if (!gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, Nanoseconds(seconds),
                          GST_SEEK_TYPE_SET, stop)) {
        return Status::Failed("GStreamer could not move to that point in the file");
    }
    if (pausedAt_) {
        pausedAt_ = seconds;
    }
    return Status::Done();
}

Status GstMusicEngine::SetLoop(double from, double to) {
    if (!std::isfinite(from) || !std::isfinite(to) || from < 0.0 || to < 0.0) {
        return Status::BadArgument("a loop's ends must be points in the song");
    }
    if (to < from) {
        std::swap(from, to);
    }
    if (const auto duration = Duration()) {
        to = std::min(to, *duration);
    }
    if (to - from < kShortestLoop) {
        return Status::BadArgument("a loop must be at least half a second long");
    }
    if (Status status = RequireStream(); !status) {
        return status;
    }
    const std::optional<Loop> before = loop_;
    const double at = Position().value_or(0.0);
    loop_ = Loop{from, to};
    ShareLoop();
    countIn_ = false;
    // Heading for this end already, the song takes the new start when the end comes. Before the end,
    // the song carries on from where it is (with a short break, while playing, to change where it stops);
    // at or past it, it goes round to the start at once, as if it had played to the end.
    if (before && before->end == to && at < to) {
        return Status::Done();
    }
    return SeekTo(at < to ? at : from);
}

void GstMusicEngine::ClearLoop() {
    loop_.reset();
    countIn_ = false;
    ShareLoop();
}

std::optional<Loop> GstMusicEngine::CurrentLoop() const {
    return loop_;
}

}  // namespace zorvik::platform::gst
