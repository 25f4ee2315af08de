#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "AlsaOutput.h"
#include "AudioOutput.h"
#include "PipeWireOutput.h"
#include "PulseOutput.h"
#include "SdlOutput.h"

namespace zorvik::platform::audio {
namespace {

// Every back end, in the order of choice.
constexpr struct BackEnd {
    OutputKind kind;
    const char* name;
    OpenBackEnd open;
} kBackEnds[] = {
    {OutputKind::kPipeWire, "pipewire", &PipeWireOutput::Open},
    {OutputKind::kPulse, "pulse", &PulseOutput::Open},
    {OutputKind::kAlsa, "alsa", &AlsaOutput::Open},
    {OutputKind::kSdl, "sdl", &SdlOutput::Open},
};

const BackEnd* Find(OutputKind kind) {
    const auto* found = std::find_if(std::begin(kBackEnds), std::end(kBackEnds),
                                     [kind](const BackEnd& backEnd) { return backEnd.kind == kind; });
    return found == std::end(kBackEnds) ? nullptr : found;
}

const BackEnd* Find(const std::string& name) {
    const auto* found = std::find_if(std::begin(kBackEnds), std::end(kBackEnds),
                                     [&name](const BackEnd& backEnd) { return name == backEnd.name; });
    return found == std::end(kBackEnds) ? nullptr : found;
}

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

const char* NameOf(OutputKind kind) {
    const BackEnd* backEnd = Find(kind);
    return backEnd != nullptr ? backEnd->name : "?";
}

std::vector<OutputKind> KindsAhead(const std::string& name) {
    const BackEnd* named = Find(name);
    if (named == nullptr) {
        return {};
    }
    std::vector<OutputKind> kinds = OutputOrder();
    kinds.erase(std::find(kinds.begin(), kinds.end(), named->kind), kinds.end());
    return kinds;
}

std::vector<OutputKind> OutputOrder() {
    const char* forced = std::getenv("ZORVIK_AUDIO");
    if (forced != nullptr && forced[0] != '\0') {
        if (const BackEnd* backEnd = Find(forced)) {
            return {backEnd->kind};
        }
        // A name we do not know forces nothing that could play; say so once rather than guess.
        static const bool warned = [forced] {
            std::string names;
            for (const BackEnd& backEnd : kBackEnds) {
                names += (names.empty() ? "" : ", ") + std::string(backEnd.name);
            }
            std::fprintf(stderr, "zorvik: ZORVIK_AUDIO=%s is none of %s\n", forced, names.c_str());
            return true;
        }();
        (void)warned;
        return {};
    }
    if (Set("SDL_AUDIODRIVER")) {
        return {OutputKind::kSdl};
    }
    std::vector<OutputKind> kinds;
    for (const BackEnd& backEnd : kBackEnds) {
        kinds.push_back(backEnd.kind);
    }
    return kinds;
}

std::unique_ptr<AudioOutput> OpenOutput(const OutputFormat& format, RenderCallback render,
                                        const OpenOptions& options) {
    OpenOptions chosen = options;
    if (chosen.kinds.empty()) {
        chosen.kinds = OutputOrder();
    }
    for (OutputKind kind : chosen.kinds) {
        if (auto output = Find(kind)->open(format, render, chosen)) {
            std::fprintf(stderr, "zorvik: drums play through %s, latency %.1f ms\n", output->Name(),
                         static_cast<double>(output->Latency().count()) / 1000.0);
            return output;
        }
    }
    return nullptr;
}

}  // namespace zorvik::platform::audio
