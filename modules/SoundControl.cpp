#include "SoundControl.h"

namespace zorvik {

SoundControl::SoundControl(platform::SamplePlayerFactory makePlayer) : makePlayer_(std::move(makePlayer)) {}

SoundControl::~SoundControl() = default;

platform::SamplePlayer* SoundControl::Player() {
    if (!player_ && makePlayer_) {
        player_ = makePlayer_();
    }
    return player_.get();
}

void SoundControl::Prepare() {
    if (auto* p = Player()) {
        p->Prepare();
    }
}

void SoundControl::Preload(std::vector<std::string> soundNames) {
    if (auto* p = Player()) {
        p->Preload(std::move(soundNames));
    }
}

bool SoundControl::sndPlaySound(const std::string& soundName, std::uint32_t flags) {
    auto* p = Player();
    return p && p->Play(soundName, flags);
}

platform::KitLoad SoundControl::LoadKit(const std::string& path, const std::atomic<bool>& cancelled) const {
    if (!player_) {
        return {nullptr, {}, "there is no sample player", {}};
    }
    return player_->LoadKit(path, cancelled);
}

void SoundControl::UseKit(platform::samples::KitPtr kit) {
    if (auto* p = Player()) {
        p->UseKit(std::move(kit));
    }
}

bool SoundControl::PlayRow(std::size_t row) {
    auto* p = Player();
    return p && p->PlayRow(row);
}

int SoundControl::MidiEventsFd() const {
    return player_ ? player_->MidiEventsFd() : -1;
}

bool SoundControl::TakeMidiEvent(platform::MidiEvent& event) {
    return player_ && player_->TakeMidiEvent(event);
}

}  // namespace zorvik
