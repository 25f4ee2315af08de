#include "SdlSamplePlayer.h"

#include <SDL.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "DefaultSound.h"
#include "WavDecoder.h"

namespace zorvik::platform {

std::unique_ptr<SamplePlayer> MakeSdlSamplePlayer() {
    return std::make_unique<sdl::SdlSamplePlayer>();
}

namespace sdl {
namespace {

// Latency follows the buffer: 256 frames is 5.3 ms at 48 kHz.
constexpr Uint16 kDeviceBufferFrames = 256;

// A driver named in SDL_AUDIODRIVER is the user's choice, and SDL's alone to honour.
bool SdlDriverChosen() {
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    return driver != nullptr && driver[0] != '\0';
}

struct StreamFreer {
    void operator()(SDL_AudioStream* s) const { SDL_FreeAudioStream(s); }
};

// Brings decoded audio to the device format, so the callback only copies and adds.
ClipPtr ToMixFormat(DecodedWav&& wav) {
    auto clip = std::make_shared<StereoClip>();
    if (wav.channels == kMixChannels && wav.sampleRate == kMixRate) {
        clip->samples = std::move(wav.samples);
        return clip;
    }
    std::unique_ptr<SDL_AudioStream, StreamFreer> stream(
        SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(wav.channels), wav.sampleRate, AUDIO_F32SYS,
                           kMixChannels, kMixRate));
    if (!stream) {
        return nullptr;
    }
    const std::uint64_t outFrames = (static_cast<std::uint64_t>(wav.Frames()) * kMixRate +
                                     static_cast<std::uint64_t>(wav.sampleRate) - 1) /
                                    static_cast<std::uint64_t>(wav.sampleRate);
    // The decoder's length cap keeps these well inside an int.
    const auto outBytes = static_cast<int>(outFrames * kMixChannels * sizeof(float));
    if (SDL_AudioStreamPut(stream.get(), wav.samples.data(),
                           static_cast<int>(wav.samples.size() * sizeof(float))) != 0) {
        return nullptr;
    }
    // SDL's resampler holds back the last few hundred input frames, and SDL_AudioStreamFlush() drops
    // them rather than resampling them, cutting the decay. Trailing silence pushes them through.
    const std::vector<float> silence(static_cast<std::size_t>(wav.channels) * 1024, 0.0f);
    for (int round = 0; round < 16 && SDL_AudioStreamAvailable(stream.get()) < outBytes; ++round) {
        if (SDL_AudioStreamPut(stream.get(), silence.data(),
                               static_cast<int>(silence.size() * sizeof(float))) != 0) {
            return nullptr;
        }
    }
    clip->samples.resize(static_cast<std::size_t>(outFrames) * kMixChannels);
    const int got = SDL_AudioStreamGet(stream.get(), clip->samples.data(), outBytes);
    if (got <= 0) {
        return nullptr;
    }
    clip->samples.resize(static_cast<std::size_t>(got) / sizeof(float) / kMixChannels * kMixChannels);
    return clip;
}

ClipPtr LoadClip(const std::string& path) {
    WavResult decoded = LoadWavFile(path);
    return decoded.Ok() ? ToMixFormat(std::move(decoded.wav)) : nullptr;
}

}  // namespace

SdlSamplePlayer::SdlSamplePlayer(const SdlSamplePlayerOptions& options)
    : retryInterval_(options.retryInterval),
      retryWait_(options.retryWait),
      cache_(LoadClip, options.cacheBytes) {}

SdlSamplePlayer::~SdlSamplePlayer() {
    if (reopening_.valid()) {
        device_ = reopening_.get();
    }
    Close(device_, mixer_);
}

bool SdlSamplePlayer::Play(const std::string& path, std::uint32_t flags) {
    // The device comes first: without one there is no point reading the file.
    if (!EnsureDevice()) {
        return false;
    }
    ClipPtr clip = cache_.Get(path);
    if (!clip) {
        if (flags & kSndNoDefault) {
            return false;
        }
        clip = DefaultClip();
    }
    VoiceMixer::Released released;
    auto start = [&](std::size_t maxBack) {
        const std::lock_guard lock(mixer_.lock);
        const std::size_t back = mixer_.mixer.Rewind(maxBack);
        mixer_.mixer.Start(std::move(clip), released);
        return back;
    };
    if (device_.pulse) {
        device_.pulse->Rewrite(start);
    } else {
        start(0);
    }
    return true;  // `released` frees the clips the mixer let go of, now that the lock is dropped
}

// Takes the result of a finished background reopening; false while one is still running.
bool SdlSamplePlayer::TakeFinishedReopen() {
    if (!reopening_.valid()) {
        return true;
    }
    if (reopening_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return false;
    }
    device_ = reopening_.get();
    return true;
}

bool SdlSamplePlayer::EnsureDevice() {
    if (!TakeFinishedReopen()) {
        return false;
    }
    // Nothing here pumps SDL events, so a lost device (server gone, card unplugged) shows only in its status.
    if (device_.pulse ? device_.pulse->Alive()
                      : device_.id != 0 && SDL_GetAudioDeviceStatus(device_.id) != SDL_AUDIO_STOPPED) {
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < nextAttempt_) {
        return false;
    }
    nextAttempt_ = now + retryInterval_;
    if (!attempted_) {
        attempted_ = true;
        device_ = Reopen(std::move(device_), &mixer_);
        return device_.Open();
    }
    reopening_ = std::async(std::launch::async, [old = std::move(device_), mixer = &mixer_]() mutable {
        Device device = Reopen(std::move(old), mixer);
        // SDL keeps its error text in thread-local storage that it frees only for its own threads; every
        // failed attempt on a new thread would leave some behind.
        SDL_TLSCleanup();
        return device;
    });
    device_ = {};
    if (reopening_.wait_for(retryWait_) != std::future_status::ready) {
        return false;
    }
    device_ = reopening_.get();
    return device_.Open();
}

void SdlSamplePlayer::LockedMixer::Render(float* out, std::size_t frames) {
    const std::lock_guard guard(lock);
    mixer.Render(out, frames);
}

SdlSamplePlayer::Device SdlSamplePlayer::Reopen(Device old, LockedMixer* mixer) {
    Close(old, *mixer);
    Device device;
    if (!SdlDriverChosen()) {
        device.pulse =
            PulseOutput::Open("Zorvik", "Drums", kMixRate,
                              [mixer](float* out, std::size_t frames) { mixer->Render(out, frames); });
        if (device.pulse) {
            return device;
        }
    }
    // Default priority: the user's environment and the application's own settings win.
    SDL_SetHintWithPriority(SDL_HINT_APP_NAME, "Zorvik", SDL_HINT_DEFAULT);
    SDL_SetHintWithPriority(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Drums", SDL_HINT_DEFAULT);
    // SDL would turn SIGINT and SIGTERM into quit events nobody reads, and the program would no longer
    // end when the session asks it to.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        return device;
    }
    device.audioInitialised = true;

    SDL_AudioSpec want{};
    want.freq = kMixRate;
    want.format = AUDIO_F32SYS;
    want.channels = kMixChannels;
    want.samples = kDeviceBufferFrames;
    want.callback = [](void* user, Uint8* stream, int len) {
        static_cast<LockedMixer*>(user)->Render(
            reinterpret_cast<float*>(stream), static_cast<std::size_t>(len) / (sizeof(float) * kMixChannels));
    };
    want.userdata = mixer;
    // No allowed changes: SDL converts if the hardware differs, so the mixer always renders this format.
    device.id = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (device.id == 0) {
        Close(device, *mixer);
        return device;
    }
    // The device then runs, mostly rendering silence, until the player goes. Pausing it when idle would
    // save nothing measurable, as SDL's audio thread keeps feeding the device silence while paused;
    // closing it would make the next hit wait for a reopen.
    SDL_PauseAudioDevice(device.id, 0);
    return device;
}

void SdlSamplePlayer::Close(Device& device, LockedMixer& mixer) {
    device.pulse.reset();
    if (device.id != 0) {
        SDL_CloseAudioDevice(device.id);
        device.id = 0;
    }
    // Shutting the subsystem down too makes the next attempt pick the driver afresh: the sound server
    // may be back, and a back end whose connection died cannot open devices again.
    if (device.audioInitialised) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        device.audioInitialised = false;
    }
    // A reopened device starts silent.
    const std::lock_guard lock(mixer.lock);
    mixer.mixer = VoiceMixer{};
}

ClipPtr SdlSamplePlayer::DefaultClip() {
    if (!defaultClip_) {
        defaultClip_ = std::make_shared<const StereoClip>(MakeDefaultSound());
    }
    return defaultClip_;
}

}  // namespace sdl
}  // namespace zorvik::platform
