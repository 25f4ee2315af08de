// What a pad hit costs the GUI thread (read + decode + convert + hand-over to the audio callback), and
// what an open but silent device costs in CPU. Runs on SDL's dummy driver unless SDL_AUDIODRIVER says
// otherwise, e.g. SDL_AUDIODRIVER=pulseaudio to measure against a real sound server.
//
// Targets: p99 of a hit <= 1 ms; idle CPU <= 2 % of a core.

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "DrumPlayer.h"
#include "TestMedia.h"

namespace {

namespace fs = std::filesystem;
using zorvik::platform::samples::DrumPlayer;

// A kick-like thump: a falling sine under a fast decay, with a little noise on the attack.
double Kick(int, std::size_t frame, int rate, std::mt19937& noise) {
    const double t = static_cast<double>(frame) / rate;
    const double pitch = 50 + 100 * std::exp(-t * 30);
    std::uniform_real_distribution<double> dist(-1, 1);
    return 0.8 * std::exp(-t * 8) * std::sin(2 * std::numbers::pi * pitch * t) +
           0.1 * std::exp(-t * 60) * dist(noise);
}

// A crash-like wash: noise with a long decay, different on each side.
double Crash(int, std::size_t frame, int rate, std::mt19937& noise) {
    const double t = static_cast<double>(frame) / rate;
    std::uniform_real_distribution<double> dist(-1, 1);
    return 0.5 * std::exp(-t * 2) * dist(noise);
}

// Per process, so two runs on one machine do not trip over each other's files.
fs::path BenchFile(const std::string& name) {
    return fs::temp_directory_path() / ("zorvik-bench-" + std::to_string(::getpid()) + "-" + name);
}

fs::path WriteWav(const std::string& name, int channels, int rate, double seconds,
                  double (*shape)(int, std::size_t, int, std::mt19937&)) {
    const fs::path path = BenchFile(name);
    std::mt19937 noise(1);
    if (!zorvik::testmedia::WriteSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, channels, rate,
                                       static_cast<std::size_t>(seconds * rate),
                                       [&](int c, std::size_t f) { return shape(c, f, rate, noise); })) {
        std::abort();
    }
    return path;
}

const fs::path& DrumWav() {
    static const fs::path path = WriteWav("kick.wav", 1, 48000, 0.5, Kick);
    return path;
}

const fs::path& CrashWav() {
    static const fs::path path = WriteWav("crash.wav", 2, 44100, 2.0, Crash);
    return path;
}

// Times every hit so the report carries the tail, not only the mean.
void TimeHits(benchmark::State& state, DrumPlayer& player, const std::string& path, bool expectPlayed) {
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const bool played = player.Play(path, 0);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (played != expectPlayed) {
            state.SkipWithError("unexpected Play() result");
            return;
        }
        state.SetIterationTime(took.count());
        micros.push_back(took.count() * 1e6);
    }
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (const double m : micros) {
        sum += m;
    }
    const auto at = [&](double q) {
        return micros[static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1))];
    };
    state.counters["mean_us"] = sum / static_cast<double>(micros.size());
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = at(1.0);
}

// Cold: every hit reads, decodes and converts the file (the first hit of a sound, or a sound just
// rewritten on disk). Warm: the usual case of a pad hit again, served from the clip cache.
void BM_Hit(benchmark::State& state, const fs::path& (*wav)(), bool cached) {
    DrumPlayer player({.cacheBytes = cached ? std::size_t{64} << 20 : 0});
    const std::string path = wav().string();
    if (!player.Play(path, 0)) {  // opens the device outside the timed loop
        state.SkipWithError("no audio device");
        return;
    }
    TimeHits(state, player, path, true);
}
BENCHMARK_CAPTURE(BM_Hit, cold_kick_48k_mono_0_5s, DrumWav, false)
    ->Iterations(2000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Hit, cold_crash_44k_stereo_2s, CrashWav, false)
    ->Iterations(2000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Hit, warm_kick_48k_mono_0_5s, DrumWav, true)
    ->Iterations(2000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Hit, warm_crash_44k_stereo_2s, CrashWav, true)
    ->Iterations(2000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// With no usable driver every hit must fail fast; one in every retry interval pays for a new attempt.
void BM_HitWithoutDevice(benchmark::State& state) {
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = driver ? driver : "";
    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    {
        DrumPlayer player;
        TimeHits(state, player, DrumWav().string(), false);
    }
    ::setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
}
BENCHMARK(BM_HitWithoutDevice)->Iterations(20000)->UseManualTime()->Unit(benchmark::kMicrosecond);

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The whole process's CPU while the device is open and has nothing to play.
void BM_IdleCpu(benchmark::State& state) {
    DrumPlayer player;
    if (!player.Play(DrumWav().string(), 0)) {
        state.SkipWithError("no audio device");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // let the hit end
    for (auto _ : state) {
        const double cpuBefore = CpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallBefore;
        state.counters["cpu_percent"] = 100 * (CpuSeconds() - cpuBefore) / wall.count();
    }
}
BENCHMARK(BM_IdleCpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("SDL_AUDIODRIVER", "dummy", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove(BenchFile("kick.wav"), ignored);
    fs::remove(BenchFile("crash.wav"), ignored);
    return 0;
}
