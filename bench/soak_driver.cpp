// The long session, in process, on the program's own stack: SoundControl over the SDL player and
// MusicControl over the GStreamer graph, both playing to the system's default output (bench/soak.sh gives
// it a private sound server). Drum hits at a steady rate on this one thread, as the GUI thread makes
// them, with a song playing and a new one loaded at even intervals. Prints what it did and how the
// process's memory, open files and threads moved, for soak.sh to check against the recording.
//
// Usage: soak_driver SECONDS HITS_PER_SECOND LOADS WARMUP_SECONDS WORK_FOLDER

#include <gst/gst.h>
#include <sndfile.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "DrumPlayer.h"
#include "GstGraph.h"
#include "MusicControl.h"
#include "ProcessStats.h"
#include "SoundControl.h"
#include "TestMedia.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using zorvik::reliability::ProcessStats;
using zorvik::reliability::ReadProcessStats;

namespace {

// A hit that ends long before the next one: 10 ms of 1 kHz, so each hit is one onset in the recording.
bool WriteBlip(const fs::path& path) {
    return zorvik::testmedia::WriteSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000,
                                         zorvik::testmedia::Sine(480, 1, 48000, 1000, 0.5));
}

// A quiet steady tone: no onsets of its own, so every onset in the recording is a hit.
bool WriteSong(const fs::path& path, const std::string& encoder) {
    return zorvik::testmedia::EncodeTone(path, "audioconvert ! " + encoder, {.seconds = 20, .volume = 0.1});
}

void PrintStats(const char* when, double at, const ProcessStats& s) {
    std::printf("STATS %s t=%.0f rss_kib=%ld files=%zu threads=%zu\n", when, at, s.rssKiB, s.files,
                s.threads);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: soak_driver SECONDS HITS_PER_SECOND LOADS WARMUP_SECONDS WORK_FOLDER\n");
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    const double hitsPerSecond = std::atof(argv[2]);
    const int loads = std::atoi(argv[3]);
    const double warmUp = std::atof(argv[4]);
    const fs::path work = argv[5];
    gst_init(nullptr, nullptr);
    fs::create_directories(work);
    const fs::path blip = work / "blip.wav";
    const std::vector<fs::path> songs{work / "song one.ogg", work / "song two.mp3"};
    if (!WriteBlip(blip) || !WriteSong(songs[0], "vorbisenc ! oggmux") ||
        !WriteSong(songs[1], "lamemp3enc target=bitrate bitrate=64")) {
        std::fprintf(stderr, "soak_driver: cannot make the test sounds\n");
        return 1;
    }

    zorvik::MusicControl music([] { return zorvik::MakeGstGraph(); });
    zorvik::SoundControl sound([] { return zorvik::platform::MakeDrumPlayer(); });

    const auto hitPeriod =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / hitsPerSecond));
    const auto loadPeriod = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(seconds / std::max(loads, 1)));
    const auto start = Clock::now();
    // Wall-clock time of the schedule's start, to line the hit times up with the recording.
    std::printf("START epoch_ns=%lld\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count()));
    const auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const auto warmUpEnd =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(warmUp));
    auto nextHit = start;
    auto nextLoad = start;
    auto nextStats = start;
    long hits = 0, played = 0, late = 0;
    int loaded = 0, loadFailures = 0;
    double worstLoadMs = 0, worstHitMs = 0;
    ProcessStats atWarmUp{};
    std::vector<ProcessStats> afterWarmUp;
    bool warm = false;

    while (Clock::now() < end) {
        const auto now = Clock::now();
        const double at = std::chrono::duration<double>(now - start).count();
        if (loaded + loadFailures < loads && now >= nextLoad) {
            const auto t0 = Clock::now();
            const bool ok =
                music.LoadMusic(songs[static_cast<std::size_t>(loaded + loadFailures) % songs.size()]) ==
                    zorvik::kTrue &&
                music.SetMusicVolume(-25) == zorvik::kTrue && music.PlayMusic() == zorvik::kTrue;
            worstLoadMs =
                std::max(worstLoadMs, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            if (ok) {
                ++loaded;
            } else {
                ++loadFailures;
                std::printf("LOAD FAILED at %.1f s: %s\n", at, music.LoadErrorText().c_str());
            }
            nextLoad += loadPeriod;
            continue;
        }
        if (now >= nextStats) {
            const ProcessStats stats = ReadProcessStats();
            PrintStats("sample", at, stats);
            if (!warm && now >= warmUpEnd) {
                warm = true;
                atWarmUp = stats;
            } else if (warm) {
                afterWarmUp.push_back(stats);
            }
            nextStats += std::chrono::seconds(seconds >= 120 ? 10 : 2);
            continue;
        }
        if (now >= nextHit) {
            const auto t0 = Clock::now();
            if (sound.sndPlaySound(blip.string(), zorvik::SoundControl::SND_ASYNC)) {
                ++played;
                std::printf("HIT %.4f\n", std::chrono::duration<double>(t0 - start).count());
            }
            worstHitMs =
                std::max(worstHitMs, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            ++hits;
            // A hit held up by a load is played at once, but the ones it missed are not crammed in after
            // it: hits stay at least 3/5 of a period apart, so each is one onset in the recording.
            nextHit += hitPeriod;
            if (nextHit < t0 + hitPeriod * 3 / 5) {
                ++late;
                nextHit = t0 + hitPeriod;
            }
            continue;
        }
        std::this_thread::sleep_until(std::min({nextHit, nextLoad, nextStats}));
    }
    (void)music.CloseMusic();
    const ProcessStats final = ReadProcessStats();
    PrintStats("end", std::chrono::duration<double>(Clock::now() - start).count(), final);
    std::printf(
        "SOAK hits=%ld played=%ld rescheduled=%ld worst_hit_ms=%.2f loads=%d load_failures=%d "
        "worst_load_ms=%.1f\n",
        hits, played, late, worstHitMs, loaded, loadFailures, worstLoadMs);
    std::printf("SOAK rss_meaningful=%d\n", ZORVIK_RSS_MEANINGFUL);
    // Memory, files and threads come and go with each song (a pipeline, its buffers, its streaming
    // threads and GStreamer's pool threads, which end on their own clock), so the first half of the
    // samples after the warm-up is set against the second. Memory: the most seen in each; set against
    // the one sample at the warm-up's end it counted a song loading then against one playing at its
    // peak, and the allocator still settling after a short warm-up (2-4 MiB over the short session's
    // 30 s, flat after its first 20). Files and threads: the fewest seen in each, what stays between
    // songs, which a leak raises for good; the most seen in each half told a pool thread caught in one
    // half and not in the other (8 or 9 at a sample) as a thread left behind.
    const std::size_t half = std::max<std::size_t>(afterWarmUp.size() / 2, 1);
    auto most = [&](std::size_t from, std::size_t count, auto ProcessStats::*field) {
        long m = 0;
        for (std::size_t i = from; i < std::min(from + count, afterWarmUp.size()); ++i) {
            m = std::max(m, static_cast<long>(afterWarmUp[i].*field));
        }
        return m;
    };
    auto fewest = [&](std::size_t from, std::size_t count, auto ProcessStats::*field) {
        long m = LONG_MAX;
        for (std::size_t i = from; i < std::min(from + count, afterWarmUp.size()); ++i) {
            m = std::min(m, static_cast<long>(afterWarmUp[i].*field));
        }
        return m == LONG_MAX ? 0 : m;
    };
    const std::size_t lastFrom = afterWarmUp.size() > half ? afterWarmUp.size() - half : 0;
    std::printf("SOAK rss_growth_kib=%ld files_growth=%ld threads_growth=%ld warmup_rss_kib=%ld\n",
                most(lastFrom, half, &ProcessStats::rssKiB) - most(0, half, &ProcessStats::rssKiB),
                fewest(lastFrom, half, &ProcessStats::files) - fewest(0, half, &ProcessStats::files),
                fewest(lastFrom, half, &ProcessStats::threads) - fewest(0, half, &ProcessStats::threads),
                atWarmUp.rssKiB);
    return loadFailures == 0 ? 0 : 1;
}
