#include "DrumPlayer.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "AlsaSeqInput.h"
#include "DefaultSound.h"
#include "MidiMap.h"
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
    MidiMessage message;
    while (midiIn.Pop(message)) {
        Midi(message.bytes, message.size);
    }
    mixer.Render(out, frames);
    bool mixed = false;
    for (VoiceMixer& drum : kit) {
        mixed = drum.Sounding() || mixed;
        drum.Mix(out, frames);
    }
    // Drums struck together add up; the sum must not wrap. With no MIDI drum sounding there is no sum.
    if (mixed) {
        for (std::size_t i = 0; i < frames * kMixChannels; ++i) {
            out[i] = std::clamp(out[i], -1.0f, 1.0f);
        }
    }
}

void DrumPlayer::Stage::Midi(const std::uint8_t* message, std::size_t size) {
    // A note-on on any channel; one of velocity 0 is a note-off, and a drum ignores note-offs.
    if (size < 3 || (message[0] & 0xF0) != 0x90 || message[2] == 0) {
        return;
    }
    const int row = kit::RowOfNote(message[1]);
    if (row < 0 || !kitClips[row]) {
        return;
    }
    // What the voices let go of is still held by kitClips, so dropping it here frees nothing.
    VoiceMixer::Released choked{};
    if (kit::ChokesOpenHiHat(message[1])) {
        kit[kit::kOpenHiHatRow].Stop(choked);
    }
    VoiceMixer::Released cut{};
    kit[row].Start(kitClips[row], cut, kit::VelocityGain(message[2]));
    int hit = row;
    if (midiRows.Push(std::move(hit)) && hitsFd >= 0) {
        const std::uint64_t one = 1;
        (void)!write(hitsFd, &one, sizeof one);
    }
}

void DrumPlayer::Stage::Reset() {
    ClipPtr clip;
    while (hits.Pop(clip)) {
        clip.reset();
    }
    FreeReleased();
    mixer = VoiceMixer{};
    kit.fill(VoiceMixer{});
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
      stage_(std::make_unique<Stage>()),
      hitsFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    stage_->hitsFd = hitsFd_;
    if (!open_) {
        open_ = [](audio::RenderCallback render, audio::MidiCallback midi) {
            audio::OpenOptions open;
            open.midi = std::move(midi);
            return audio::OpenOutput(audio::OutputFormat{kMixRate, kMixChannels}, std::move(render), open);
        };
    }
}

DrumPlayer::~DrumPlayer() {
    sequencer_.reset();
    if (opening_.valid()) {
        output_ = opening_.get();
    }
    output_.reset();
    stage_->Reset();
    if (hitsFd_ >= 0) {
        close(hitsFd_);
    }
}

void DrumPlayer::SetKit(const std::vector<std::string>& paths) {
    for (std::size_t row = 0; row < kitClips_.size(); ++row) {
        ClipPtr clip = row < paths.size() ? cache_.Get(paths[row]) : nullptr;
        kitClips_[row] = clip ? std::move(clip) : DefaultClip();
    }
}

bool DrumPlayer::TakeMidiHit(int& row) {
    if (hitsFd_ >= 0) {
        std::uint64_t count = 0;
        (void)!read(hitsFd_, &count, sizeof count);
    }
    return stage_->midiRows.Pop(row);
}

void DrumPlayer::Prepare() {
    if (!attempted_) {
        if (!opening_.valid()) {
            StartOpening();
        }
        return;
    }
    // Called again now and then, it brings back a MIDI input lost with its server without waiting for
    // a key, as a player on an e-drum kit may strike none; it never waits for an opening. An output
    // without MIDI waits for the next key, which also spares a server that is starting up attempts.
    if (!TakeOpening(std::chrono::milliseconds::zero())) {
        return;
    }
    if (output_) {
        hadMidi_ = output_->HasMidiInput();
    }
    if (!hadMidi_ || (output_ && output_->Alive()) || std::chrono::steady_clock::now() < nextAttempt_) {
        return;
    }
    StartOpening();
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
        // Frames holding a MIDI drum are not rendered twice: its voice has moved on past them.
        const bool kitSounding = std::any_of(stage_->kit.begin(), stage_->kit.end(),
                                             [](const VoiceMixer& drum) { return drum.Sounding(); });
        const std::size_t back = stage_->mixer.Rewind(kitSounding ? 0 : maxBack);
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
    FollowMidi();
    if (!output_ && !saidNone_) {
        saidNone_ = true;
        std::fprintf(stderr, "zorvik: no audio output opens; drum hits stay silent until one does\n");
    }
    return true;
}

// Through PipeWire the sequencer would hear a kit a second time, by way of PipeWire's own bridge.
void DrumPlayer::FollowMidi() {
    if (!output_) {
        return;
    }
    if (output_->HasMidiInput()) {
        sequencer_.reset();
    } else if (!sequencer_) {
        sequencer_ = audio::AlsaSeqInput::Open(
            "Zorvik", [stage = stage_.get()](const std::uint8_t* bytes, std::size_t size) {
                Stage::MidiMessage message;
                message.size = static_cast<std::uint8_t>(std::min<std::size_t>(size, sizeof message.bytes));
                std::copy_n(bytes, message.size, message.bytes);
                (void)stage->midiIn.Push(std::move(message));
            });
    }
}

void DrumPlayer::StartOpening() {
    attempted_ = true;
    nextAttempt_ = std::chrono::steady_clock::now() + retryInterval_;
    opening_ = std::async(std::launch::async, [old = std::move(output_), stage = stage_.get(), open = open_,
                                               kitClips = kitClips_]() mutable {
        // The old output stops rendering before the stage is cleared for the new one.
        old.reset();
        stage->Reset();
        stage->kitClips = std::move(kitClips);
        return open([stage](float* out, std::size_t frames) { stage->Render(out, frames); },
                    [stage](const std::uint8_t* message, std::size_t size) { stage->Midi(message, size); });
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
