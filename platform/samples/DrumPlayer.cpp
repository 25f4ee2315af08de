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
    : retryInterval_(options.retryInterval),
      retryWait_(options.retryWait),
      open_(std::move(options.openOutput)),
      cache_(LoadClip, options.cacheBytes),
      stage_(std::make_unique<Stage>()) {
    if (!open_) {
        open_ = [](audio::RenderCallback render) {
            return audio::OpenOutput(audio::OutputFormat{kMixRate, kMixChannels}, std::move(render));
        };
    }
}

DrumPlayer::~DrumPlayer() {
    if (opening_.valid()) {
        output_ = opening_.get();
    }
    output_.reset();
    stage_->Reset();
}

void DrumPlayer::Prepare() {
    if (!attempted_ && !opening_.valid()) {
        StartOpening();
    }
}

bool DrumPlayer::Play(const std::string& path, std::uint32_t flags) {
    // The output comes first: without one there is no point reading the file.
    if (!EnsureOutput()) {
        return false;
    }
    stage_->FreeReleased();
    ClipPtr clip = cache_.Get(path);
    if (!clip) {
        if (flags & kSndNoDefault) {
            return false;
        }
        clip = DefaultClip();
    }
    // Where the output can hold its render still, the hit goes into the mixer from here and reaches
    // back over the frames queued but not yet heard.
    VoiceMixer::Released let{};
    const bool rewritten = output_->Rewrite([&](std::size_t maxBack) {
        stage_->TakeHits();
        const std::size_t back = stage_->mixer.Rewind(maxBack);
        stage_->mixer.Start(std::move(clip), let);
        return back;
    });
    if (rewritten) {
        return true;  // `let` frees the clips the mixer let go of, now that the render runs again
    }
    // A full queue means the render thread has stopped pulling; the hit would never be heard.
    return stage_->hits.Push(std::move(clip));
}

// Takes the result of a background opening if it finishes within `wait` (negative: however long it
// takes); false while it runs on.
bool DrumPlayer::TakeOpening(std::chrono::milliseconds wait) {
    if (!opening_.valid()) {
        return true;
    }
    if (wait < std::chrono::milliseconds::zero()) {
        opening_.wait();
    } else if (opening_.wait_for(wait) != std::future_status::ready) {
        return false;
    }
    output_ = opening_.get();
    if (!output_ && !saidNone_) {
        saidNone_ = true;
        std::fprintf(stderr, "zorvik: no audio output opens; drum hits stay silent until one does\n");
    }
    return true;
}

void DrumPlayer::StartOpening() {
    attempted_ = true;
    nextAttempt_ = std::chrono::steady_clock::now() + retryInterval_;
    opening_ = std::async(
        std::launch::async, [old = std::move(output_), stage = stage_.get(), open = open_]() mutable {
            // The old output stops rendering before the stage is cleared for the new one.
            old.reset();
            stage->Reset();
            return open([stage](float* out, std::size_t frames) { stage->Render(out, frames); });
        });
}

bool DrumPlayer::EnsureOutput() {
    // The first opening, when no Prepare() started one, is waited for: the first hit plays when a
    // sound server is there.
    const bool first = !attempted_;
    if (first) {
        StartOpening();
    }
    if (!TakeOpening(first ? std::chrono::milliseconds(-1) : retryWait_)) {
        return false;
    }
    if (output_ && output_->Alive()) {
        return true;
    }
    if (std::chrono::steady_clock::now() < nextAttempt_) {
        return false;
    }
    StartOpening();
    return TakeOpening(retryWait_) && output_ && output_->Alive();
}

ClipPtr DrumPlayer::DefaultClip() {
    if (!defaultClip_) {
        defaultClip_ = std::make_shared<const StereoClip>(MakeDefaultSound());
    }
    return defaultClip_;
}

}  // namespace samples
}  // namespace zorvik::platform
