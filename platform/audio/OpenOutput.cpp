#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AlsaOutput.h"
#include "AudioOutput.h"
#include "PipeWireOutput.h"
#include "PulseOutput.h"
#include "SdlOutput.h"

namespace zorvik::platform::audio {
namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

std::unique_ptr<AudioOutput> OpenOne(OutputKind kind, const OutputFormat& format,
                                     const RenderCallback& render, const OpenOptions& options,
                                     bool afterOurOwn) {
    switch (kind) {
        case OutputKind::kPipeWire:
            return PipeWireOutput::Open(format, render, options.appName, options.streamName,
                                        options.connectTimeout, options.midi);
        case OutputKind::kPulse: {
            // Our stream plays stereo only; a PulseAudio server converts for the sink.
            if (format.channels != 2) {
                return nullptr;
            }
            PulseOutput::Options pulse;
            pulse.connectTimeout = options.connectTimeout;
            return PulseOutput::Open(options.appName.c_str(), options.streamName.c_str(), format.rate, render,
                                     pulse);
        }
        case OutputKind::kAlsa:
            return AlsaOutput::Open(format, render, AlsaOutput::DefaultDevice());
        case OutputKind::kSdl:
            return SdlOutput::Open(format, render, options.appName.c_str(), options.streamName.c_str(),
                                   afterOurOwn);
    }
    return nullptr;
}

// The names ZORVIK_AUDIO takes and the outputs report.
constexpr struct {
    const char* name;
    OutputKind kind;
} kNames[] = {{"pipewire", OutputKind::kPipeWire},
              {"pulse", OutputKind::kPulse},
              {"alsa", OutputKind::kAlsa},
              {"sdl", OutputKind::kSdl}};

}  // namespace

std::vector<OutputKind> KindsAhead(const std::string& name) {
    const auto named = std::find_if(std::begin(kNames), std::end(kNames),
                                    [&name](const auto& entry) { return name == entry.name; });
    if (named == std::end(kNames)) {
        return {};
    }
    std::vector<OutputKind> kinds = OutputOrder();
    kinds.erase(std::find(kinds.begin(), kinds.end(), named->kind), kinds.end());
    return kinds;
}

std::vector<OutputKind> OutputOrder() {
    const char* forced = std::getenv("ZORVIK_AUDIO");
    if (forced != nullptr && forced[0] != '\0') {
        for (const auto& name : kNames) {
            if (std::strcmp(forced, name.name) == 0) {
                return {name.kind};
            }
        }
        // A name we do not know forces nothing that could play; say so once rather than guess.
        static const bool warned = [forced] {
            std::fprintf(stderr, "zorvik: ZORVIK_AUDIO=%s is none of pipewire, pulse, alsa, sdl\n", forced);
            return true;
        }();
        (void)warned;
        return {};
    }
    if (Set("SDL_AUDIODRIVER")) {
        return {OutputKind::kSdl};
    }
    return {OutputKind::kPipeWire, OutputKind::kPulse, OutputKind::kAlsa, OutputKind::kSdl};
}

std::unique_ptr<AudioOutput> OpenOutput(const OutputFormat& format, RenderCallback render,
                                        const OpenOptions& options) {
    const std::vector<OutputKind> kinds = options.kinds.empty() ? OutputOrder() : options.kinds;
    const bool afterOurOwn =
        std::any_of(kinds.begin(), kinds.end(), [](OutputKind kind) { return kind != OutputKind::kSdl; });
    for (OutputKind kind : kinds) {
        if (auto output = OpenOne(kind, format, render, options, afterOurOwn)) {
            std::fprintf(stderr, "zorvik: drums play through %s, latency %.1f ms\n", output->Name(),
                         static_cast<double>(output->Latency().count()) / 1000.0);
            return output;
        }
    }
    return nullptr;
}

}  // namespace zorvik::platform::audio
