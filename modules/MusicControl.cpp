#include "MusicControl.h"

#include <limits>

namespace zorvik {

using platform::failed;
using platform::HResult;

MusicControl::MusicControl(platform::MediaGraphFactory createGraph) : createGraph_(std::move(createGraph)) {}

MusicControl::~MusicControl() = default;

VbBool MusicControl::CloseMusic() {
    if (mControl && failed(mControl->Stop())) return kFalse;
    mAudio.reset();
    mControl.reset();
    mPosition.reset();
    return kTrue;
}

VbBool MusicControl::LoadMusic(const std::string& fileName) {
    loadError_.clear();
    if (CloseMusic() != kTrue) {
        loadError_ = "The music that is loaded could not be stopped.";
        return kFalse;
    }
    // From here on a failing step is skipped and the next one runs; an operation on a reference that an
    // earlier step did not deliver fails in its turn.
    if (createGraph_) mControl = createGraph_();
    bool rendered = false;
    if (mControl) {
        rendered = !failed(mControl->RenderFile(fileName));
        if (!rendered) loadError_ = mControl->LastErrorText();
        mAudio = platform::QueryInterface<platform::IBasicAudio>(mControl);
    }
    if (mAudio) {
        (void)mAudio->put_Volume(0);
        (void)mAudio->put_Balance(0);
    }
    if (mControl) mPosition = platform::QueryInterface<platform::IMediaPosition>(mControl);
    if (mPosition) {
        (void)mPosition->put_Rate(1.0);
        (void)mPosition->put_CurrentPosition(0.0);
    }
    if (!mControl) loadError_ = "The media system could not be started.";
    if (!rendered && loadError_.empty()) loadError_ = "The file could not be opened for playing.";
    // A file that was not rendered leaves an empty graph in place, which plays nothing; say so.
    return rendered ? kTrue : kFalse;
}

VbBool MusicControl::SetMusicSpeed(float rate) {
    if (mPosition && failed(mPosition->put_Rate(static_cast<double>(rate)))) return kFalse;
    return kTrue;
}

VbBool MusicControl::SetMusicVolume(std::int32_t level) {
    if (mControl) {
        const std::int64_t product = static_cast<std::int64_t>(level) * 40;
        if (product > std::numeric_limits<std::int32_t>::max() ||
            product < std::numeric_limits<std::int32_t>::min()) {
            return kFalse;
        }
        if (!mAudio || failed(mAudio->put_Volume(static_cast<std::int32_t>(product)))) return kFalse;
    }
    return kTrue;
}

VbBool MusicControl::PlayMusic() {
    if (!mControl || failed(mControl->Run())) return kFalse;
    return kTrue;
}

VbBool MusicControl::StopMusic() {
    if (!mControl || failed(mControl->Stop())) return kFalse;
    if (!mPosition || failed(mPosition->put_CurrentPosition(0.0))) return kFalse;
    return kTrue;
}

}  // namespace zorvik
