#pragma once
// Where the drum pads' audio goes: one interface over the sound servers and devices a Linux desktop may
// have. An output pulls frames from a render callback on its own real-time thread, reports how long a
// frame takes from there to the speaker, and says when it has died (a server going away, a card being
// unplugged), because none of them comes back by itself. No Qt in here.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Identity.h"

namespace zorvik::platform::audio {

// Every output plays interleaved float frames.
struct OutputFormat {
    int rate = 48000;
    int channels = 2;
};

// Writes the next `frames` interleaved frames. Called on the output's real-time thread: it must take no
// lock, allocate nothing and touch no file, or the output drops out.
using RenderCallback = std::function<void(float* out, std::size_t frames)>;

// Takes one MIDI message (status byte first) from the MIDI input an output offers. Called on the render
// thread between two render calls: after the frames before the message's time and before those after
// it, so what it starts plays from its own frame. The same rules as for rendering hold.
using MidiCallback = std::function<void(const std::uint8_t* message, std::size_t size)>;

class AudioOutput {
  public:
    // Given how many frames already handed over may still be taken back, steps the audio back over up
    // to that many and returns how many it stepped back.
    using Change = std::function<std::size_t(std::size_t maxBack)>;

    virtual ~AudioOutput() = default;

    // False once the device or server has gone; the caller opens a new output.
    virtual bool Alive() const = 0;
    // A short name for logs: NameOf() its back end, or a test's own.
    virtual const char* Name() const = 0;
    // From a frame rendered to it being heard, as far as the output knows.
    virtual std::chrono::microseconds Latency() const = 0;
    // Whether it offers the MIDI input OpenOptions::midi asked for.
    virtual bool HasMidiInput() const { return false; }

    // Runs `change` on the caller's thread with the render callback held still, then renders again the
    // frames it stepped back over, so a change reaches the ear sooner than the queued audio would allow.
    // Returns false without running `change` where the output cannot hold its render still (the default):
    // it steps back 0 frames, and the caller hands its change to the render thread instead.
    virtual bool Rewrite(const Change& change) {
        (void)change;
        return false;
    }
};

enum class OutputKind { kPipeWire, kPulse, kAlsa, kSdl };

struct OpenOptions {
    // Which back ends to try, in order. Empty: the order of choice (see OpenOutput).
    std::vector<OutputKind> kinds;
    // The name the output shows in the server's mixer.
    std::string appName = kAppName;
    std::string streamName = "Drums";
    // Where a MIDI input goes. Only the PipeWire output offers one: a node "<appName> <streamName> MIDI"
    // with one input port, on the render thread's own cycle. Empty: no MIDI input.
    MidiCallback midi;
    // A server that neither answers nor refuses within this long counts as absent.
    std::chrono::milliseconds connectTimeout{2'000};
    // The ALSA device. Empty: the one ZORVIK_ALSA_DEVICE names, else "default".
    std::string alsaDevice;
};

// Every back end opens through one shape: it accepts `format` and starts rendering from `render`, or
// returns nullptr. A back end is one folder and one row of the table in OpenOutput.cpp.
using OpenBackEnd = std::unique_ptr<AudioOutput> (*)(const OutputFormat& format, RenderCallback render,
                                                     const OpenOptions& options);

// The back end's name, as ZORVIK_AUDIO takes it and its outputs' Name() says it.
const char* NameOf(OutputKind kind);

// The back ends to try, from the environment: ZORVIK_AUDIO=pipewire|pulse|alsa|sdl forces one; a
// driver named in SDL_AUDIODRIVER (and no ZORVIK_AUDIO) forces SDL, whose choice it is; otherwise
// PipeWire, PulseAudio, ALSA, SDL.
std::vector<OutputKind> OutputOrder();

// The back ends OutputOrder() puts ahead of the one whose Name() is `name`: where a fallback plays, the
// ones to try again. Empty for the first choice and for a name that is none of ours.
std::vector<OutputKind> KindsAhead(const std::string& name);

// Opens the first back end in `options.kinds` (or OutputOrder()) that accepts `format` and starts it
// rendering from `render`; nullptr when none does. Blocks for as long as connecting takes, so callers
// on a GUI thread run it in the background.
std::unique_ptr<AudioOutput> OpenOutput(const OutputFormat& format, RenderCallback render,
                                        const OpenOptions& options = {});

}  // namespace zorvik::platform::audio
