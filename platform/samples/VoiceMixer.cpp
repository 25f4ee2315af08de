#include "VoiceMixer.h"

#include <algorithm>

namespace zorvik::platform::samples {

void VoiceMixer::Cut(Released& released) {
    std::size_t nextReleased = 0;
    auto release = [&](Voice& v) {
        if (v.clip) {
            released[nextReleased++] = std::move(v.clip);
        }
        v = Voice{};
    };

    for (Voice& tail : tails_) {
        if (!tail.SoundingAt(next_) || tail.FadedAt(next_)) {
            release(tail);
        }
    }
    // A voice that has not been rendered yet was never heard, so it can go without a fade.
    if (voice_.SoundingAt(next_) && next_ > voice_.start) {
        auto slot = std::find_if(tails_.begin(), tails_.end(), [](const Voice& t) { return !t.clip; });
        if (slot == tails_.end()) {
            // The earliest cut has the least fade left.
            slot = std::min_element(tails_.begin(), tails_.end(),
                                    [](const Voice& a, const Voice& b) { return a.cut < b.cut; });
            release(*slot);
        }
        *slot = std::move(voice_);
        slot->cut = next_;
        voice_ = Voice{};
    } else {
        release(voice_);
    }
}

void VoiceMixer::Start(ClipPtr clip, Released& released, float gain) {
    Cut(released);
    voice_.clip = std::move(clip);
    voice_.start = next_;
    voice_.gain = gain;
    lastStart_ = next_;
}

void VoiceMixer::Stop(Released& released) {
    Cut(released);
    lastStart_ = next_;
}

void VoiceMixer::Render(float* out, std::size_t frames) {
    std::fill(out, out + frames * kMixChannels, 0.0f);
    Mix(out, frames);
}

void VoiceMixer::Mix(float* out, std::size_t frames) {
    const std::uint64_t from = next_;
    next_ += frames;

    if (voice_.SoundingAt(from)) {
        const std::uint64_t offset = from - voice_.start;
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(frames, voice_.clip->Frames() - offset));
        const float* src = voice_.clip->samples.data() + offset * kMixChannels;
        for (std::size_t i = 0; i < n * kMixChannels; ++i) {
            out[i] += src[i] * voice_.gain;
        }
    }

    for (const Voice& tail : tails_) {
        if (!tail.SoundingAt(from) || tail.FadedAt(from)) {
            continue;
        }
        const std::uint64_t offset = from - tail.start;
        const std::uint64_t faded = from - tail.cut;
        const auto n = static_cast<std::size_t>(
            std::min<std::uint64_t>({frames, tail.clip->Frames() - offset, kFadeFrames - faded}));
        const float* src = tail.clip->samples.data() + offset * kMixChannels;
        for (std::size_t f = 0; f < n; ++f) {
            const float gain =
                tail.gain * static_cast<float>(kFadeFrames - faded - f) / static_cast<float>(kFadeFrames);
            out[f * kMixChannels] += src[f * kMixChannels] * gain;
            out[f * kMixChannels + 1] += src[f * kMixChannels + 1] * gain;
        }
        // Only the first few frames can hold a tail; the sum of two full-scale sounds must not wrap.
        for (std::size_t i = 0; i < n * kMixChannels; ++i) {
            out[i] = std::clamp(out[i], -1.0f, 1.0f);
        }
    }
}

bool VoiceMixer::Sounding() const {
    return voice_.SoundingAt(next_) || std::any_of(tails_.begin(), tails_.end(), [this](const Voice& tail) {
               return tail.SoundingAt(next_) && !tail.FadedAt(next_);
           });
}

std::size_t VoiceMixer::Rewind(std::size_t frames) {
    const auto back = static_cast<std::size_t>(std::min<std::uint64_t>(frames, next_ - lastStart_));
    next_ -= back;
    return back;
}

}  // namespace zorvik::platform::samples
