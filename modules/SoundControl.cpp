#include "SoundControl.h"

namespace zorvik {

SoundControl::SoundControl(platform::SamplePlayerFactory makePlayer) : makePlayer_(std::move(makePlayer)) {}

SoundControl::~SoundControl() = default;

void SoundControl::Prepare() {
    if (!player_ && makePlayer_) player_ = makePlayer_();
    if (player_) player_->Prepare();
}

bool SoundControl::sndPlaySound(const std::string& soundName, std::uint32_t flags) {
    if (!player_ && makePlayer_) player_ = makePlayer_();
    if (!player_) return false;
    return player_->Play(soundName, flags);
}

}  // namespace zorvik
