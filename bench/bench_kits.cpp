// Drum kits: how long each installed Hydrogen kit takes to be ready (beside sox decoding and converting
// the same files to 48 kHz float in the same run), the memory it then holds beside its decoded samples,
// what rendering 64 voices costs in 64-frame blocks, how long a render block takes at most while a kit
// loads on every core and at the switch (and whether a MIDI hit is lost meanwhile), and what resampling a
// full-scale sweep from 44.1 to 48 kHz leaves outside the sweep.
//
//   bench_kits [KITS_FOLDER]     (default /usr/share/hydrogen/data/drumkits)
//
// Targets: ForzeeStereo ready within 2 s, the others within 0.5 s; memory within 10 % of the decoded
// samples; 64 voices within 5 % of one core; no render block late while loading; aliasing below -100 dBFS.

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "DrumPlayer.h"
#include "KitLoader.h"
#include "KitMixer.h"
#include "Resampler.h"

namespace {

namespace fs = std::filesystem;
namespace kit = zorvik::kit;
using namespace zorvik::platform;
using namespace zorvik::platform::samples;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// What the program holds on its heap, mapped blocks included.
std::size_t HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// sox decoding and converting every sample of the kit to 48 kHz float, one file after another.
double SoxSeconds(const kit::Kit& kit, const fs::path& folder) {
    const fs::path list = fs::temp_directory_path() / "zorvik-bench-kit-files";
    {
        std::ofstream out(list);
        for (const kit::Instrument& instrument : kit.instruments) {
            for (const kit::Layer& layer : instrument.layers) {
                for (const kit::SampleRef& sample : layer.samples) {
                    out << (folder / sample.file).string() << '\n';
                }
            }
        }
    }
    const std::string command =
        "while IFS= read -r f; do sox \"$f\" -t f32 -r 48000 -c 2 /dev/null; done < '" + list.string() +
        "' 2>/dev/null";
    const auto start = Clock::now();
    (void)std::system(command.c_str());
    const double seconds = Seconds(Clock::now() - start);
    fs::remove(list);
    return seconds;
}

void LoadTimes(const fs::path& kits) {
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(kits)) {
        folders.push_back(entry.path());
    }
    std::sort(folders.begin(), folders.end());
    const std::atomic<bool> cancelled{false};
    for (const fs::path& folder : folders) {
        double best = 1e9;
        std::size_t bytes = 0, grown = 0, instruments = 0;
        for (int run = 0; run < 3; ++run) {
            const std::size_t before = HeapBytes();
            const auto start = Clock::now();
            KitLoad load = LoadKitAt(folder.string(), cancelled);
            best = std::min(best, Seconds(Clock::now() - start));
            if (!load.kit) {
                std::printf("%s: refused: %s\n", folder.filename().c_str(), load.error.c_str());
                break;
            }
            bytes = load.kit->bytes;
            grown = HeapBytes() - before;
            instruments = load.kit->kit.instruments.size();
        }
        const kit::OpenedKit opened = kit::OpenHydrogenKit(folder.string());
        const double sox = SoxSeconds(opened.kit, folder);
        std::printf(
            "FIGURE|kit ready|%s|%zu instruments|%.3f s|sox %.3f s|x%.1f faster|decoded %.1f MB|"
            "held %.1f MB (%+.1f %%)\n",
            folder.filename().c_str(), instruments, best, sox, sox / best, bytes / 1e6, grown / 1e6,
            bytes ? 100.0 * (static_cast<double>(grown) / static_cast<double>(bytes) - 1.0) : 0.0);
    }
}

// 64 voices of 4 s each ringing, rendered in 64-frame blocks: the share of one core at 48 kHz.
void RenderCost() {
    auto loaded = std::make_shared<LoadedKit>();
    for (int i = 0; i < 64; ++i) {
        kit::Instrument instrument;
        instrument.name = "Perc";
        instrument.layers.push_back({0.0f, 1.0f, {{"", 1.0f}}});
        instrument.notes.push_back(static_cast<std::uint8_t>(i));
        loaded->kit.instruments.push_back(instrument);
        loaded->clips.push_back(
            {{std::make_shared<StereoClip>(StereoClip{std::vector<float>(kMixRate * 8, 0.01f)})}});
    }
    KitMixer mixer;
    mixer.Use(loaded.get());
    for (int i = 0; i < 64; ++i) {
        mixer.Hit(i, 127);
    }
    std::vector<float> out(64 * kMixChannels);
    const int blocks = 2000;  // 2.7 s of sound, within the voices' length
    const auto start = Clock::now();
    for (int b = 0; b < blocks; ++b) {
        std::fill(out.begin(), out.end(), 0.0f);
        mixer.Mix(out.data(), 64);
    }
    const double perBlock = Seconds(Clock::now() - start) / blocks;
    std::printf("FIGURE|render|64 voices, 64-frame block|%.2f us a block|%.2f %% of one core\n",
                perBlock * 1e6, 100.0 * perBlock / (64.0 / kMixRate));
}

class PacedOutput final : public audio::AudioOutput {
  public:
    bool Alive() const override { return true; }
    const char* Name() const override { return "paced"; }
    std::chrono::microseconds Latency() const override { return {}; }
};

// The player rendering 64-frame blocks at the pace of a 48 kHz device on its own thread, with a MIDI
// hit every 20 ms, while the kit in `folder` loads on every core and then takes over.
void LoadWhilePlaying(const fs::path& folder) {
    audio::RenderCallback render;
    audio::MidiCallback midi;
    DrumPlayerOptions options;
    options.openOutput = [&](audio::RenderCallback r, audio::MidiCallback m) {
        render = std::move(r);
        midi = std::move(m);
        return std::make_unique<PacedOutput>();
    };
    DrumPlayer player(options);
    const std::atomic<bool> cancelled{false};
    player.UseKit(LoadKitAt(fs::path(BENCH_SOUNDS_DIR).string(), cancelled).kit);
    player.Prepare();
    while (!player.Output()) {
        std::this_thread::yield();
        player.Prepare();
    }
    std::atomic<bool> stop{false};
    std::atomic<int> late{0}, slow{0}, hits{0};
    std::atomic<double> worst{0};
    std::thread device([&] {
        const auto period = std::chrono::microseconds(1333);
        std::vector<float> out(64 * kMixChannels);
        auto next = Clock::now();
        for (int block = 0; !stop; ++block) {
            if (block % 15 == 0) {
                const std::uint8_t note[3] = {0x99, 36, 100};
                midi(note, 3);
                ++hits;
            }
            const auto start = Clock::now();
            render(out.data(), 64);
            const double took = Seconds(Clock::now() - start);
            worst = std::max(worst.load(), took);
            if (took > 64.0 / kMixRate) {
                ++slow;  // the render itself outran the device
            }
            next += period;
            if (Clock::now() > next + period) {
                ++late;  // a real device would have run dry
            }
            std::this_thread::sleep_until(next);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = Clock::now();
    KitLoad load = LoadKitAt(folder.string(), cancelled);
    const double loading = Seconds(Clock::now() - start);
    player.UseKit(load.kit);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    device.join();
    int rows = 0;
    for (MidiEvent event; player.TakeMidiEvent(event);) {
        rows += event.kind == MidiEvent::Kind::kRowHit;
    }
    std::printf(
        "FIGURE|while loading|%s in %.3f s|render call at most %.1f us|render calls over a period %d|"
        "device thread woken late %d|hits %d, taken %d\n",
        folder.filename().c_str(), loading, worst.load() * 1e6, slow.load(), late.load(), hits.load(), rows);
}

// A full-scale sweep from 20 Hz to 20 kHz at 44.1 kHz, converted to 48 kHz: in short windows along it, the
// strongest component more than 500 Hz away from the sweep's own frequency, in dBFS.
void ResamplerSweep() {
    const int inRate = 44100;
    const std::size_t frames = static_cast<std::size_t>(inRate) * 10;
    std::vector<float> sweep(frames);
    const double f0 = 20, f1 = 20000, duration = static_cast<double>(frames) / inRate;
    const double k = std::log(f1 / f0) / duration;
    auto frequencyAt = [&](double t) { return f0 * std::exp(k * t); };
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / inRate;
        sweep[i] =
            static_cast<float>(0.999 * std::sin(2 * std::numbers::pi * f0 * (std::exp(k * t) - 1) / k));
    }
    const std::vector<float> out = Resample(sweep.data(), frames, 1, inRate, kMixRate);
    const std::size_t n = 4096;
    double worst = -400;
    double worstAt = 0;
    for (std::size_t from = n; from + 2 * n < out.size(); from += n) {
        const double centre = frequencyAt((static_cast<double>(from) + n / 2.0) / kMixRate);
        for (std::size_t bin = 1; bin < n / 2; ++bin) {
            const double f = static_cast<double>(bin) * kMixRate / n;
            // The sweep moves 0.4 % of its frequency in a window; keep well clear of it.
            if (std::abs(f - centre) < 500 + 0.01 * centre) {
                continue;
            }
            std::complex<double> sum = 0;
            double windowSum = 0;
            for (std::size_t i = 0; i < n; ++i) {
                // Blackman-Harris: side lobes below -92 dB, so they do not pass for aliasing.
                const double x = 2 * std::numbers::pi * static_cast<double>(i) / (n - 1);
                const double w =
                    0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
                windowSum += w;
                sum += w * out[from + i] * std::polar(1.0, -2 * std::numbers::pi * bin * i / n);
            }
            const double level = 20 * std::log10(std::abs(sum) * 2 / windowSum + 1e-20);
            if (level > worst) {
                worst = level;
                worstAt = f;
            }
        }
        from += 7 * n;  // every eighth window along the sweep
    }
    std::printf(
        "FIGURE|resampling 44.1 to 48 kHz|full-scale sweep|strongest component off the sweep %.1f dBFS at "
        "%.0f Hz\n",
        worst, worstAt);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path kits = argc > 1 ? argv[1] : "/usr/share/hydrogen/data/drumkits";
    LoadTimes(kits);
    RenderCost();
    LoadWhilePlaying(kits / "ForzeeStereo");
    ResamplerSweep();
    return 0;
}
