#include "SdlOutput.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

namespace zorvik::platform::audio {
namespace {

// SDL is loaded when an SDL output is first opened, not linked: it is the last resort, seldom opened,
// and with it come seventeen libraries (X11's extensions, Wayland's, decorations) that every launch
// would otherwise load before the splash is shown.
struct SdlLibrary {
    decltype(&SDL_InitSubSystem) InitSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) QuitSubSystem = nullptr;
    decltype(&SDL_GetNumAudioDrivers) GetNumAudioDrivers = nullptr;
    decltype(&SDL_GetAudioDriver) GetAudioDriver = nullptr;
    decltype(&SDL_GetHint) GetHint = nullptr;
    decltype(&SDL_SetHint) SetHint = nullptr;
    decltype(&SDL_SetHintWithPriority) SetHintWithPriority = nullptr;
    decltype(&SDL_ResetHint) ResetHint = nullptr;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice = nullptr;
    decltype(&SDL_GetAudioDeviceStatus) GetAudioDeviceStatus = nullptr;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice = nullptr;
    decltype(&SDL_TLSCleanup) TLSCleanup = nullptr;
};

// The library, or null if it is not installed (then there is no SDL output). Loaded once and kept to
// the process's end: SDL's threads and handlers may outlive any one output.
const SdlLibrary* Sdl() {
    static const SdlLibrary* const library = []() -> const SdlLibrary* {
        void* handle = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "zorvik: no SDL output: %s\n", dlerror());
            return nullptr;
        }
        static SdlLibrary loaded;
        bool complete = true;
        auto bind = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            complete = complete && function != nullptr;
        };
        bind(loaded.InitSubSystem, "SDL_InitSubSystem");
        bind(loaded.QuitSubSystem, "SDL_QuitSubSystem");
        bind(loaded.GetNumAudioDrivers, "SDL_GetNumAudioDrivers");
        bind(loaded.GetAudioDriver, "SDL_GetAudioDriver");
        bind(loaded.GetHint, "SDL_GetHint");
        bind(loaded.SetHint, "SDL_SetHint");
        bind(loaded.SetHintWithPriority, "SDL_SetHintWithPriority");
        bind(loaded.ResetHint, "SDL_ResetHint");
        bind(loaded.OpenAudioDevice, "SDL_OpenAudioDevice");
        bind(loaded.PauseAudioDevice, "SDL_PauseAudioDevice");
        bind(loaded.GetAudioDeviceStatus, "SDL_GetAudioDeviceStatus");
        bind(loaded.CloseAudioDevice, "SDL_CloseAudioDevice");
        bind(loaded.TLSCleanup, "SDL_TLSCleanup");
        if (!complete) {
            std::fprintf(stderr, "zorvik: no SDL output: the installed SDL lacks a function it needs\n");
            return nullptr;
        }
        return &loaded;
    }();
    return library;
}

// Latency follows the buffer: 256 frames is 5.3 ms at 48 kHz.
constexpr Uint16 kDeviceBufferFrames = 256;

// SDL's drivers that our own outputs cover (on Linux, sndio plays through ALSA too), and those that
// never play to a listener.
bool OursOrSilent(const std::string& driver) {
    return driver == "pipewire" || driver == "pulseaudio" || driver == "alsa" || driver == "sndio" ||
           driver == "disk" || driver == "dummy";
}

// SDL's audio with the drivers our own outputs do not cover; false if it has none that starts. Ours
// have just failed on the same server or device, and at a server's restart SDL's could take it
// half-started and keep the drums on SDL's stream, with its dropouts, for the rest of the session.
bool InitOtherDrivers() {
    std::string others;
    for (int i = 0; i < Sdl()->GetNumAudioDrivers(); ++i) {
        const std::string driver = Sdl()->GetAudioDriver(i);
        if (!OursOrSilent(driver)) {
            others += (others.empty() ? "" : ",") + driver;
        }
    }
    if (others.empty()) {
        return false;
    }
    Sdl()->SetHint(SDL_HINT_AUDIODRIVER, others.c_str());
    const bool started = Sdl()->InitSubSystem(SDL_INIT_AUDIO) == 0;
    Sdl()->ResetHint(SDL_HINT_AUDIODRIVER);
    return started;
}

}  // namespace

std::unique_ptr<AudioOutput> SdlOutput::Open(const OutputFormat& format, RenderCallback render,
                                             const OpenOptions& options) {
    const std::vector<OutputKind> kinds = options.kinds.empty() ? OutputOrder() : options.kinds;
    if (Sdl() == nullptr) {
        return nullptr;
    }
    const bool afterOurOwn =
        std::any_of(kinds.begin(), kinds.end(), [](OutputKind kind) { return kind != OutputKind::kSdl; });
    std::unique_ptr<SdlOutput> output(new SdlOutput(std::move(render)));
    const bool started =
        output->Start(format, options.appName.c_str(), options.streamName.c_str(), afterOurOwn);
    // SDL keeps its error text in thread-local storage that it frees only for its own threads; an
    // opening on a short-lived thread would leave some behind at every attempt.
    Sdl()->TLSCleanup();
    if (!started) {
        return nullptr;
    }
    return output;
}

bool SdlOutput::Start(const OutputFormat& format, const char* appName, const char* streamName,
                      bool afterOurOwn) {
    // Default priority: the user's environment and the application's own settings win.
    Sdl()->SetHintWithPriority(SDL_HINT_APP_NAME, appName, SDL_HINT_DEFAULT);
    Sdl()->SetHintWithPriority(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, streamName, SDL_HINT_DEFAULT);
    // SDL would turn SIGINT and SIGTERM into quit events nobody reads, and the program would no longer
    // end when the session asks it to.
    Sdl()->SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A driver named by the user (SDL_AUDIODRIVER) is always theirs to have.
    const bool othersOnly = afterOurOwn && Sdl()->GetHint(SDL_HINT_AUDIODRIVER) == nullptr;
    if (!(othersOnly ? InitOtherDrivers() : Sdl()->InitSubSystem(SDL_INIT_AUDIO) == 0)) {
        return false;
    }
    initialised_ = true;
    channels_ = format.channels;

    SDL_AudioSpec want{};
    want.freq = format.rate;
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(format.channels);
    want.samples = kDeviceBufferFrames;
    want.callback = [](void* user, Uint8* stream, int len) {
        auto* self = static_cast<SdlOutput*>(user);
        self->render_(
            reinterpret_cast<float*>(stream),
            static_cast<std::size_t>(len) / (sizeof(float) * static_cast<std::size_t>(self->channels_)));
    };
    want.userdata = this;
    // No allowed changes: SDL converts if the hardware differs, so the render always has this format.
    device_ = Sdl()->OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (device_ == 0) {
        return false;
    }
    latency_ = std::chrono::microseconds(2LL * kDeviceBufferFrames * 1'000'000 / format.rate);
    // The device then runs, mostly rendering silence, until the output goes: SDL's audio thread keeps
    // feeding the device silence while paused anyway, and closing it would make the next hit wait.
    Sdl()->PauseAudioDevice(device_, 0);
    return true;
}

// Nothing here pumps SDL events, so a lost device (server gone, card unplugged) shows only in its status.
bool SdlOutput::Alive() const {
    return device_ != 0 && Sdl()->GetAudioDeviceStatus(device_) != SDL_AUDIO_STOPPED;
}

SdlOutput::~SdlOutput() {
    if (device_ != 0) {
        Sdl()->CloseAudioDevice(device_);
    }
    // Shutting the subsystem down too makes the next opening pick the driver afresh: the sound server
    // may be back, and a back end whose connection died cannot open devices again.
    if (initialised_) {
        Sdl()->QuitSubSystem(SDL_INIT_AUDIO);
    }
    Sdl()->TLSCleanup();
}

}  // namespace zorvik::platform::audio
