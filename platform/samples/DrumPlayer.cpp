#include "DrumPlayer.h"

#include <cstdio>

#include "DefaultSound.h"
#include "Resampler.h"
#include "WavDecoder.h"

namespace zorvik::platform {

std::unique_ptr<SamplePlayer> MakeDrumPlayer() {
    return std::make_unique<samples::DrumPlayer>();
}

namespace samples {
namespace {

// Brings decoded audio to the mix format, so the render callback only copies and adds.
ClipPtr ToMixFormat(DecodedWav&& wav) {
    auto clip = std::make_shared<StereoClip>();
    if (wav.channels == kMixChannels && wav.sampleRate == kMixRate) {
        clip->samples = std::move(wav.samples);
        return clip;
    }
    std::vector<float> stereo;
    if (wav.channels == 1) {
        stereo.resize(wav.samples.size() * kMixChannels);
        for (std::size_t f = 0; f < wav.samples.size(); ++f) {
            stereo[f * kMixChannels] = wav.samples[f];
            stereo[f * kMixChannels + 1] = wav.samples[f];
        }
    } else {
        stereo = std::move(wav.samples);
    }
    clip->samples =
        Resample(stereo.data(), stereo.size() / kMixChannels, kMixChannels, wav.sampleRate, kMixRate);
    return clip;
}

ClipPtr LoadClip(const std::string& path) {
    WavResult decoded = LoadWavFile(path);
    return decoded.Ok() ? ToMixFormat(std::move(decoded.wav)) : nullptr;
}

}  // namespace

void DrumPlayer::Stage::TakeHits() {
    ClipPtr clip;
    while (released.Room() >= VoiceMixer::kMaxTails + 1 && hits.Pop(clip)) {
        VoiceMixer::Released let{};
        mixer.Start(std::move(clip), let);
        for (ClipPtr& old : let) {
            if (old) {
                released.Push(std::move(old));
            }
        }
    }
}

void DrumPlayer::Stage::Render(float* out, std::size_t frames) {
    TakeHits();
    mixer.Render(out, frames);
}

void DrumPlayer::Stage::Reset() {
    ClipPtr clip;
    while (hits.Pop(clip)) {
        clip.reset();
    }
    FreeReleased();
    mixer = VoiceMixer{};
}

void DrumPlayer::Stage::FreeReleased() {
    ClipPtr clip;
    while (released.Pop(clip)) {
        clip.reset();
    }
}

DrumPlayer::DrumPlayer(DrumPlayerOptions options)
    : m_retryInterval(options.retryInterval),
      m_retryWait(options.retryWait),
      m_open(std::move(options.openOutput)),
      m_cache(LoadClip, options.cacheBytes),
      m_stage(std::make_unique<Stage>()) {
    if (!m_open) {
        m_open = [](audio::RenderCallback render) {
            return audio::OpenOutput(audio::OutputFormat{kMixRate, kMixChannels}, std::move(render));
        };
    }
}

DrumPlayer::~DrumPlayer() {
    if (m_opening.valid()) {
        m_output = m_opening.get();
    }
    m_output.reset();
    m_stage->Reset();
}

void DrumPlayer::Prepare() {
    if (!m_attempted && !m_opening.valid()) {
        StartOpening();
    }
}

bool DrumPlayer::Play(const std::string& path, std::uint32_t flags) {
    // The output comes first: without one there is no point reading the file.
    if (!EnsureOutput()) {
        return false;
    }
    m_stage->FreeReleased();
    ClipPtr clip = m_cache.Get(path);
    if (!clip) {
        if (flags & kSndNoDefault) {
            return false;
        }
        clip = DefaultClip();
    }
    // Where the output can hold its render still, the hit goes into the mixer from here and reaches
    // back over the frames queued but not yet heard.
    VoiceMixer::Released let{};
    const bool rewritten = m_output->Rewrite([&](std::size_t maxBack) {
        m_stage->TakeHits();
        const std::size_t back = m_stage->mixer.Rewind(maxBack);
        m_stage->mixer.Start(std::move(clip), let);
        return back;
    });
    if (rewritten) {
        return true;  // `let` frees the clips the mixer let go of, now that the render runs again
    }
    // A full queue means the render thread has stopped pulling; the hit would never be heard.
    return m_stage->hits.Push(std::move(clip));
}

// Takes the result of a background opening if it finishes within `wait` (negative: however long it
// takes); false while it runs on.
bool DrumPlayer::TakeOpening(std::chrono::milliseconds wait) {
    if (!m_opening.valid()) {
        return true;
    }
    if (wait < std::chrono::milliseconds::zero()) {
        m_opening.wait();
    } else if (m_opening.wait_for(wait) != std::future_status::ready) {
        return false;
    }
    m_output = m_opening.get();
    if (!m_output && !m_saidNone) {
        m_saidNone = true;
        std::fprintf(stderr, "zorvik: no audio output opens; drum hits stay silent until one does\n");
    }
    return true;
}

void DrumPlayer::StartOpening() {
    m_attempted = true;
    m_nextAttempt = std::chrono::steady_clock::now() + m_retryInterval;
    m_opening = std::async(
        std::launch::async, [old = std::move(m_output), stage = m_stage.get(), open = m_open]() mutable {
            // The old output stops rendering before the stage is cleared for the new one.
            old.reset();
            stage->Reset();
            return open([stage](float* out, std::size_t frames) { stage->Render(out, frames); });
        });
}

bool DrumPlayer::EnsureOutput() {
    // The first opening, when no Prepare() started one, is waited for: the first hit plays when a
    // sound server is there.
    const bool first = !m_attempted;
    if (first) {
        StartOpening();
    }
    if (!TakeOpening(first ? std::chrono::milliseconds(-1) : m_retryWait)) {
        return false;
    }
    if (m_output && m_output->Alive()) {
        return true;
    }
    if (std::chrono::steady_clock::now() < m_nextAttempt) {
        return false;
    }
    StartOpening();
    return TakeOpening(m_retryWait) && m_output && m_output->Alive();
}

ClipPtr DrumPlayer::DefaultClip() {
    if (!m_defaultClip) {
        m_defaultClip = std::make_shared<const StereoClip>(MakeDefaultSound());
    }
    return m_defaultClip;
}

}  // namespace samples
}  // namespace zorvik::platform
