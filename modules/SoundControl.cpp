#include "SoundControl.h"

namespace zorvik {

SoundControl::SoundControl(platform::SamplePlayerFactory makePlayer) : makePlayer_(std::move(makePlayer)) {}

SoundControl::~SoundControl() = default;

platform::SamplePlayer* SoundControl::player() {
    if (!player_ && makePlayer_) player_ = makePlayer_();
    return player_.get();
}

void SoundControl::Prepare() {
    if (auto* p = player()) p->Prepare();
}

bool SoundControl::sndPlaySound(const std::string& soundName, std::uint32_t flags) {
    auto* p = player();
    return p && p->Play(soundName, flags);
}

void SoundControl::SetKit(const std::vector<std::string>& paths) {
    if (auto* p = player()) p->SetKit(paths);
}

int SoundControl::MidiHitsFd() const {
    return player_ ? player_->MidiHitsFd() : -1;
}

bool SoundControl::TakeMidiHit(int& row) {
    return player_ && player_->TakeMidiHit(row);
}

}  // namespace zorvik
