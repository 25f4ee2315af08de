#include "MusicControl.h"

#include <limits>

#include "EngineGraph.h"

namespace zorvik {

using graph::Failed;

MusicControl::MusicControl(graph::MediaGraphFactory createGraph, Runner runLoad)
    : createGraph_(std::move(createGraph)), runLoad_(std::move(runLoad)) {}

MusicControl::~MusicControl() = default;

VbBool MusicControl::CloseMusic() {
    return loading_ ? kFalse : Close();
}

VbBool MusicControl::Close() {
    if (mControl && Failed(mControl->Stop())) {
        return kFalse;
    }
    state_ = Playback::kStopped;
    mAudio.reset();
    mControl.reset();
    mPosition.reset();
    return kTrue;
}

VbBool MusicControl::LoadMusic(const std::string& fileName) {
    if (loading_) {
        return kFalse;
    }
    VbBool loaded = kFalse;
    const auto load = [&] { loaded = Load(fileName); };
    loading_ = true;
    if (runLoad_) {
        runLoad_(load);
    } else {
        load();
    }
    loading_ = false;
    return loaded;
}

VbBool MusicControl::Load(const std::string& fileName) {
    loadError_.clear();
    loopStartMark_.reset();
    if (Close() != kTrue) {
        loadError_ = "The music that is loaded could not be stopped.";
        return kFalse;
    }
    // From here on a failing step is skipped and the next one runs; an operation on a reference that an
    // earlier step did not deliver fails in its turn.
    if (createGraph_) {
        mControl = createGraph_();
    }
    bool rendered = false;
    if (mControl) {
        rendered = !Failed(mControl->RenderFile(fileName));
        if (!rendered) {
            loadError_ = mControl->LastErrorText();
        }
        mAudio = graph::QueryInterface<graph::IBasicAudio>(mControl);
    }
    if (mAudio) {
        (void)mAudio->put_Volume(0);
        (void)mAudio->put_Balance(0);
    }
    if (mControl) {
        mPosition = graph::QueryInterface<graph::IMediaPosition>(mControl);
    }
    if (mPosition) {
        (void)mPosition->put_Rate(1.0);
        (void)mPosition->put_CurrentPosition(0.0);
    }
    if (!mControl) {
        loadError_ = "The media system could not be started.";
    }
    if (!rendered && loadError_.empty()) {
        loadError_ = "The file could not be opened for playing.";
    }
    // A file that was not rendered leaves an empty graph in place, which plays nothing; say so.
    return rendered ? kTrue : kFalse;
}

VbBool MusicControl::SetMusicSpeed(float rate) {
    if (loading_) {
        return kFalse;
    }
    if (mPosition && Failed(mPosition->put_Rate(static_cast<double>(rate)))) {
        return kFalse;
    }
    return kTrue;
}

VbBool MusicControl::SetMusicVolume(std::int32_t level) {
    if (loading_) {
        return kFalse;
    }
    if (mControl) {
        const std::int64_t product = static_cast<std::int64_t>(level) * 40;
        if (product > std::numeric_limits<std::int32_t>::max() ||
            product < std::numeric_limits<std::int32_t>::min()) {
            return kFalse;
        }
        if (!mAudio || Failed(mAudio->put_Volume(static_cast<std::int32_t>(product)))) {
            return kFalse;
        }
    }
    return kTrue;
}

VbBool MusicControl::PlayMusic() {
    if (loading_) {
        return kFalse;
    }
    if (!mControl || Failed(mControl->Run())) {
        return kFalse;
    }
    state_ = Playback::kPlaying;
    return kTrue;
}

// The graph's Stop holds the song where it is; StopMusic then rewinds.
VbBool MusicControl::PauseMusic() {
    if (loading_) {
        return kFalse;
    }
    if (!mControl || Failed(mControl->Stop())) {
        return kFalse;
    }
    if (state_ == Playback::kPlaying) {
        state_ = Playback::kPaused;
    }
    return kTrue;
}

std::optional<double> MusicControl::MusicPosition() const {
    platform::MusicEngine* engine = Engine();
    return engine ? engine->Position() : std::nullopt;
}

std::optional<double> MusicControl::MusicLength() const {
    platform::MusicEngine* engine = Engine();
    return engine ? engine->Duration() : std::nullopt;
}

VbBool MusicControl::SeekMusic(double seconds) {
    platform::MusicEngine* engine = Engine();
    return engine && engine->Seek(seconds) ? kTrue : kFalse;
}

VbBool MusicControl::StopMusic() {
    if (loading_) {
        return kFalse;
    }
    if (!mControl || Failed(mControl->Stop())) {
        return kFalse;
    }
    state_ = Playback::kStopped;
    if (platform::MusicEngine* engine = Engine(); engine && engine->CurrentLoop()) {
        return engine->Stop() ? kTrue : kFalse;
    }
    if (!mPosition || Failed(mPosition->put_CurrentPosition(0.0))) {
        return kFalse;
    }
    return kTrue;
}

platform::MusicEngine* MusicControl::Engine() const {
    if (loading_) {  // the load's thread has the graph
        return nullptr;
    }
    auto* graph = dynamic_cast<EngineGraph*>(mControl.get());
    return graph ? &graph->Engine() : nullptr;
}

VbBool MusicControl::MarkLoopStart() {
    platform::MusicEngine* engine = Engine();
    const std::optional<double> now = engine ? engine->Position() : std::nullopt;
    if (!now) {
        return kFalse;
    }
    if (const auto loop = engine->CurrentLoop()) {
        return engine->SetLoop(*now, loop->end) ? kTrue : kFalse;
    }
    loopStartMark_ = now;
    return kTrue;
}

VbBool MusicControl::MarkLoopEnd() {
    platform::MusicEngine* engine = Engine();
    const std::optional<double> now = engine ? engine->Position() : std::nullopt;
    if (!now) {
        return kFalse;
    }
    const auto loop = engine->CurrentLoop();
    const double start = loop ? loop->start : loopStartMark_.value_or(0.0);
    if (!engine->SetLoop(start, *now)) {
        return kFalse;
    }
    loopStartMark_.reset();
    return kTrue;
}

void MusicControl::ClearLoop() {
    if (loading_) {
        return;
    }
    loopStartMark_.reset();
    if (platform::MusicEngine* engine = Engine()) {
        engine->ClearLoop();
    }
}

std::optional<platform::Loop> MusicControl::MusicLoop() const {
    platform::MusicEngine* engine = Engine();
    return engine ? engine->CurrentLoop() : std::nullopt;
}

}  // namespace zorvik
