#include "KitMixer.h"

#include <algorithm>

#include "NoteMap.h"

namespace zorvik::platform::samples {

float KitMixer::Voice::Level() const {
    // A struck drum dies away: how much of the sample is left stands in for how loud it still is.
    const float remaining =
        clip ? 1.0f - static_cast<float>(position) / static_cast<float>(clip->Frames()) : 0.0f;
    return std::max(left, right) * remaining;
}

void KitMixer::Use(const LoadedKit* kit) {
    for (Voice& voice : voices_) {
        if (voice.clip) {
            FadeOut(voice);
        }
    }
    kit_ = kit;
    turn_.fill(0);
}

void KitMixer::FadeOut(Voice& voice) {
    if (voice.fade == 0) {
        voice.fade = kFadeFrames;
    }
}

bool KitMixer::Ringing(int instrument) const {
    return std::any_of(voices_.begin(), voices_.end(), [&](const Voice& v) {
        return v.clip && v.kit == kit_ && v.instrument == instrument && v.fade == 0;
    });
}

void KitMixer::Choke(int instrument) {
    for (Voice& voice : voices_) {
        if (voice.clip && voice.kit == kit_ && voice.instrument == instrument) {
            FadeOut(voice);
        }
    }
}

KitMixer::Voice& KitMixer::FreeSlot() {
    std::size_t ringing = 0;
    Voice* quietest = nullptr;
    for (Voice& voice : voices_) {
        if (voice.clip && voice.fade == 0) {
            ++ringing;
            if (!quietest || voice.Level() < quietest->Level()) {
                quietest = &voice;
            }
        }
    }
    if (ringing >= kVoices && quietest) {
        FadeOut(*quietest);
    }
    // A free slot; with every slot taken, the voice nearest the end of its fade is cut a little early.
    return *std::min_element(voices_.begin(), voices_.end(), [](const Voice& a, const Voice& b) {
        auto left = [](const Voice& v) { return !v.clip ? 0u : (v.fade == 0 ? kFadeFrames + 1 : v.fade); };
        return left(a) < left(b);
    });
}

void KitMixer::Hit(int instrument, std::uint8_t velocity) {
    if (!kit_ || instrument < 0 || static_cast<std::size_t>(instrument) >= kit_->kit.instruments.size()) {
        return;
    }
    const auto index = static_cast<std::size_t>(instrument);
    const kit::Instrument& drum = kit_->kit.instruments[index];
    const int layer = kit::LayerFor(drum, velocity);
    if (layer < 0 || drum.muted) {
        return;
    }
    const auto& clips = kit_->clips[index][static_cast<std::size_t>(layer)];

    const kit::HiHats& hats = kit_->hiHats;
    const bool shutsHat = instrument == hats.closed || instrument == hats.pedal;
    std::size_t own = 0;
    Voice* oldest = nullptr;
    for (Voice& voice : voices_) {
        if (!voice.clip || voice.kit != kit_ || voice.fade != 0) {
            continue;
        }
        const kit::Instrument& other = kit_->kit.instruments[static_cast<std::size_t>(voice.instrument)];
        if (voice.instrument == instrument) {
            ++own;
            if (!oldest || voice.age < oldest->age) {
                oldest = &voice;
            }
        } else if ((drum.muteGroup >= 0 && other.muteGroup == drum.muteGroup) ||
                   (shutsHat && (voice.instrument == hats.open || voice.instrument == hats.halfOpen))) {
            FadeOut(voice);
        }
    }
    if (own >= kPerInstrument && oldest) {
        FadeOut(*oldest);
    }

    std::uint8_t& turn = turn_[index * kit::kMaxLayers + static_cast<std::size_t>(layer)];
    const std::size_t sample = turn % clips.size();
    turn = static_cast<std::uint8_t>((sample + 1) % clips.size());
    const float gain = drum.layers[static_cast<std::size_t>(layer)].samples[sample].gain * drum.volume *
                       kit::VelocityGain(velocity);
    Voice& voice = FreeSlot();
    voice = Voice{clips[sample].get(),  kit_,       0,        gain * drum.panLeft,
                  gain * drum.panRight, instrument, ++clock_, 0};
}

void KitMixer::Mix(float* out, std::size_t frames) {
    for (Voice& voice : voices_) {
        if (!voice.clip) {
            continue;
        }
        const bool fading = voice.fade > 0;
        std::size_t n = std::min(frames, voice.clip->Frames() - voice.position);
        if (fading) {
            n = std::min<std::size_t>(n, voice.fade);
        }
        const float* src = voice.clip->samples.data() + voice.position * kMixChannels;
        if (!fading) {
            for (std::size_t f = 0; f < n; ++f) {
                out[f * kMixChannels] += src[f * kMixChannels] * voice.left;
                out[f * kMixChannels + 1] += src[f * kMixChannels + 1] * voice.right;
            }
        } else {
            for (std::size_t f = 0; f < n; ++f) {
                const float ramp = static_cast<float>(voice.fade - f) / static_cast<float>(kFadeFrames);
                out[f * kMixChannels] += src[f * kMixChannels] * voice.left * ramp;
                out[f * kMixChannels + 1] += src[f * kMixChannels + 1] * voice.right * ramp;
            }
            voice.fade -= static_cast<std::uint32_t>(n);
        }
        voice.position += n;
        if (voice.position >= voice.clip->Frames() || (fading && voice.fade == 0)) {
            voice = Voice{};
        }
    }
}

bool KitMixer::Sounding() const {
    return std::any_of(voices_.begin(), voices_.end(), [](const Voice& v) { return v.clip != nullptr; });
}

bool KitMixer::Holds(const LoadedKit* kit) const {
    return std::any_of(voices_.begin(), voices_.end(),
                       [&](const Voice& v) { return v.clip && v.kit == kit; });
}

}  // namespace zorvik::platform::samples
