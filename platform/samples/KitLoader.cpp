#include "KitLoader.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "DefaultSound.h"
#include "NoteMap.h"
#include "Resampler.h"

namespace zorvik::platform::samples {
namespace {

// The niceness of the decoding threads: well behind the audio threads and the GUI, still ahead of a
// batch job.
constexpr int kBackgroundNice = 10;

struct Job {
    std::size_t instrument, layer, sample;
    ClipPtr clip;
    std::string error;
};

const char* Why(WavError error) {
    switch (error) {
        case WavError::kNotWav:
            return "is not a sample libsndfile reads (WAV, AIFF, FLAC, Ogg)";
        case WavError::kUnsupportedCoding:
            return "uses a coding that is not played";
        case WavError::kBadLayout:
            return "has a channel count or rate out of range";
        case WavError::kNoAudio:
            return "holds no audio";
        default:
            return "cannot be read";
    }
}

}  // namespace

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
    return clip->samples.empty() ? nullptr : clip;
}

KitLoad LoadKit(kit::OpenedKit opened, const std::atomic<bool>& cancelled) {
    KitLoad out;
    out.warnings = std::move(opened.warnings);
    if (!opened.error.empty() || !opened.files) {
        out.error = opened.error.empty() ? "it has no files" : opened.error;
        return out;
    }
    kit::Kit& kit = opened.kit;
    std::vector<Job> jobs;
    for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
        if (kit.instruments[i].muted) {
            continue;
        }
        for (std::size_t l = 0; l < kit.instruments[i].layers.size(); ++l) {
            for (std::size_t s = 0; s < kit.instruments[i].layers[l].samples.size(); ++s) {
                jobs.push_back({i, l, s, {}, {}});
            }
        }
    }

    // Samples are decoded on every core; each worker takes the next one not yet taken.
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> bytes{0};
    std::atomic<bool> tooBig{false};
    auto work = [&] {
        for (std::size_t j = next++; j < jobs.size() && !tooBig && !cancelled; j = next++) {
            Job& job = jobs[j];
            const std::string& file =
                kit.instruments[job.instrument].layers[job.layer].samples[job.sample].file;
            kit::FileBytes data = opened.files->Read(file);
            if (!data.error.empty()) {
                job.error = data.error;
                continue;
            }
            WavResult decoded = DecodeSample(data.bytes);
            data.bytes = {};
            if (!decoded.Ok()) {
                job.error = "\"" + file + "\" " + Why(decoded.error);
                continue;
            }
            job.clip = ToMixFormat(std::move(decoded.wav));
            if (!job.clip) {
                job.error = "\"" + file + "\" cannot be converted to the output's rate";
                continue;
            }
            if (bytes += job.clip->samples.size() * sizeof(float); bytes > kit::kMaxKitBytes) {
                tooBig = true;
            }
        }
    };
    // Decoding is background work, on threads of its own that give way to every other: on a desktop
    // where the audio threads have no real-time priority, a kit loading on every core while the user
    // plays made the drums miss their cycles, and MIDI notes came a cycle or two late.
    const auto background = [&work] {
        (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kBackgroundNice);
        work();
    };
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::vector<std::thread> workers;
    for (unsigned c = 0; c < cores && c < jobs.size(); ++c) {
        workers.emplace_back(background);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (cancelled) {
        out.error = "its loading was cancelled";
        return out;
    }
    if (tooBig) {
        out.error = "its samples decode to more than " + std::to_string(kit::kMaxKitBytes >> 20) + " MB";
        return out;
    }

    static const ClipPtr defaultSound = std::make_shared<const StereoClip>(MakeDefaultSound());
    auto loaded = std::make_shared<LoadedKit>();
    loaded->soundsKit = opened.soundsKit;
    loaded->bytes = bytes;
    loaded->clips.resize(kit.instruments.size());
    for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
        loaded->clips[i].resize(kit.instruments[i].layers.size());
        for (std::size_t l = 0; l < kit.instruments[i].layers.size(); ++l) {
            loaded->clips[i][l].resize(kit.instruments[i].layers[l].samples.size());
        }
    }
    for (Job& job : jobs) {
        if (!job.clip && opened.soundsKit) {
            job.clip = defaultSound;
        }
        if (!job.clip) {
            out.warnings.push_back("left out: " + job.error);
        }
        loaded->clips[job.instrument][job.layer][job.sample] = std::move(job.clip);
    }
    // What does not play leaves the kit: samples, then the layers and instruments left empty.
    bool anything = false;
    for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
        auto& layers = kit.instruments[i].layers;
        auto& clips = loaded->clips[i];
        for (std::size_t l = layers.size(); l-- > 0;) {
            for (std::size_t s = clips[l].size(); s-- > 0;) {
                if (clips[l][s]) {
                    continue;
                }
                clips[l].erase(clips[l].begin() + static_cast<std::ptrdiff_t>(s));
                layers[l].samples.erase(layers[l].samples.begin() + static_cast<std::ptrdiff_t>(s));
            }
            if (!clips[l].empty()) {
                continue;
            }
            clips.erase(clips.begin() + static_cast<std::ptrdiff_t>(l));
            layers.erase(layers.begin() + static_cast<std::ptrdiff_t>(l));
        }
        anything = anything || (!layers.empty() && !kit.instruments[i].muted);
    }
    if (!anything) {
        out.error = "none of its samples can be played";
        if (!out.warnings.empty()) {
            out.error += " (" + out.warnings.front() + ")";
        }
        return out;
    }
    kit::AssignNotes(kit);
    loaded->hiHats = kit::FindHiHats(kit);
    out.name = kit.name;
    loaded->kit = std::move(kit);
    out.kit = std::move(loaded);
    return out;
}

KitLoad LoadKitAt(const std::string& path, const std::atomic<bool>& cancelled) {
    return LoadKit(kit::OpenKit(path), cancelled);
}

}  // namespace zorvik::platform::samples
