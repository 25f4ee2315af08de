#include "VoiceMixer.h"

#include <algorithm>

namespace zorvik::platform::sdl {

void VoiceMixer::Start(ClipPtr clip, Released& released) {
    std::size_t nextReleased = 0;
    auto release = [&](Voice& v) {
        if (v.clip) {
            released[nextReleased++] = std::move(v.clip);
        }
        v = Voice{};
    };

    for (Voice& tail : tails_) {
        if (!tail.Sounding() || tail.fadeLeft == 0) {
            release(tail);
        }
    }
    // A voice that has not been rendered yet was never heard, so it can go without a fade.
    if (voice_.Sounding() && voice_.pos > 0) {
        auto slot = std::find_if(tails_.begin(), tails_.end(), [](const Voice& t) { return !t.clip; });
        if (slot == tails_.end()) {
            slot = std::min_element(tails_.begin(), tails_.end(),
                                    [](const Voice& a, const Voice& b) { return a.fadeLeft < b.fadeLeft; });
            release(*slot);
        }
        *slot = std::move(voice_);
        slot->fadeLeft = kFadeFrames;
        voice_ = Voice{};
    } else {
        release(voice_);
    }
    voice_.clip = std::move(clip);
}

void VoiceMixer::Render(float* out, std::size_t frames) {
    std::fill(out, out + frames * kMixChannels, 0.0f);

    if (voice_.Sounding()) {
        const std::size_t n = std::min(frames, voice_.clip->Frames() - voice_.pos);
        const float* src = voice_.clip->samples.data() + voice_.pos * kMixChannels;
        std::copy(src, src + n * kMixChannels, out);
        voice_.pos += n;
    }

    for (Voice& tail : tails_) {
        if (!tail.Sounding() || tail.fadeLeft == 0) {
            continue;
        }
        const std::size_t n = std::min({frames, tail.clip->Frames() - tail.pos, tail.fadeLeft});
        const float* src = tail.clip->samples.data() + tail.pos * kMixChannels;
        for (std::size_t f = 0; f < n; ++f) {
            const float gain = static_cast<float>(tail.fadeLeft - f) / static_cast<float>(kFadeFrames);
            out[f * kMixChannels] += src[f * kMixChannels] * gain;
            out[f * kMixChannels + 1] += src[f * kMixChannels + 1] * gain;
        }
        tail.pos += n;
        tail.fadeLeft -= n;
        // Only the first few frames can hold a tail; the sum of two full-scale sounds must not wrap.
        for (std::size_t i = 0; i < n * kMixChannels; ++i) {
            out[i] = std::clamp(out[i], -1.0f, 1.0f);
        }
    }
}

}  // namespace zorvik::platform::sdl
