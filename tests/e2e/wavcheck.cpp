// Measures recordings for the end-to-end tests: where a known sample occurs, the level and pitch of a
// stretch, the onsets of a pulsed tone, and dropouts in a steady one. Reads any file libsndfile reads; works
// on the mono mix.

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Audio {
    std::vector<double> mono;
    int rate = 0;
};

Audio Read(const char* path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "cannot read %s: %s\n", path, sf_strerror(nullptr));
        std::exit(2);
    }
    std::vector<double> frames(static_cast<std::size_t>(info.frames) *
                               static_cast<std::size_t>(info.channels));
    const sf_count_t got = sf_readf_double(file, frames.data(), info.frames);
    sf_close(file);
    Audio audio;
    audio.rate = info.samplerate;
    audio.mono.resize(static_cast<std::size_t>(got));
    for (std::size_t i = 0; i < audio.mono.size(); ++i) {
        double sum = 0;
        for (int c = 0; c < info.channels; ++c) {
            sum += frames[i * static_cast<std::size_t>(info.channels) + static_cast<std::size_t>(c)];
        }
        audio.mono[i] = sum / info.channels;
    }
    return audio;
}

std::size_t Index(const Audio& a, double seconds) {
    return std::min(a.mono.size(), static_cast<std::size_t>(std::max(0.0, seconds) * a.rate));
}

double RmsDb(const Audio& a, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) {
        sum += a.mono[i] * a.mono[i];
    }
    const double rms = to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
    return rms > 0 ? 20 * std::log10(rms) : -200.0;
}

// Frequency from the mean distance between rising zero crossings, interpolated.
double Frequency(const Audio& a, std::size_t from, std::size_t to) {
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        if (a.mono[i - 1] < 0 && a.mono[i] >= 0) {
            const double t = static_cast<double>(i - 1) + a.mono[i - 1] / (a.mono[i - 1] - a.mono[i]);
            if (first < 0) {
                first = t;
            }
            last = t;
            ++crossings;
        }
    }
    return crossings > 1 ? a.rate * (crossings - 1) / (last - first) : 0.0;
}

// The offset where `sample`'s first 40 ms best match the recording (normalised cross-correlation),
// searched from `from` seconds on; prints "<seconds> <correlation>".
void Find(const Audio& rec, const Audio& sample, double from) {
    const std::size_t n =
        std::min<std::size_t>(sample.mono.size(), static_cast<std::size_t>(0.04 * sample.rate));
    double sampleEnergy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sampleEnergy += sample.mono[i] * sample.mono[i];
    }
    double best = -1;
    std::size_t bestAt = 0;
    for (std::size_t at = Index(rec, from); at + n < rec.mono.size(); ++at) {
        double dot = 0, energy = 0;
        for (std::size_t i = 0; i < n; ++i) {
            dot += rec.mono[at + i] * sample.mono[i];
            energy += rec.mono[at + i] * rec.mono[at + i];
        }
        const double corr = energy > 0 ? dot / std::sqrt(energy * sampleEnergy) : 0;
        if (corr > best) {
            best = corr;
            bestAt = at;
        }
    }
    std::printf("%.4f %.3f\n", static_cast<double>(bestAt) / rec.rate, best);
}

constexpr std::size_t kMaxGains = 3;

// How loud each of `samples` (at most kMaxGains) plays in the recording from `at` seconds on: the
// least-squares gains of their first 30 ms together, so two drums struck at once are told apart. The
// samples start together somewhere within 2 ms of `at`; the best fit there is taken. Prints the start
// (seconds) and a gain each.
void Gains(const Audio& rec, double at, const std::vector<Audio>& samples) {
    const std::size_t n = static_cast<std::size_t>(0.03 * rec.rate);
    const std::size_t k = samples.size();
    const auto reach = static_cast<long>(0.002 * rec.rate);
    double bestResidual = -1;
    std::size_t bestAt = 0;
    std::array<double, kMaxGains> bestGains{};
    for (long shift = -reach; shift <= reach; ++shift) {
        const long start = static_cast<long>(Index(rec, at)) + shift;
        if (start < 0 || static_cast<std::size_t>(start) + n >= rec.mono.size()) {
            continue;
        }
        const auto from = static_cast<std::size_t>(start);
        // Normal equations G g = b, solved by elimination.
        std::array<std::array<double, kMaxGains + 1>, kMaxGains> g{};
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t a = 0; a < k; ++a) {
                const double sa = i < samples[a].mono.size() ? samples[a].mono[i] : 0.0;
                for (std::size_t b = 0; b < k; ++b) {
                    g[a][b] += sa * (i < samples[b].mono.size() ? samples[b].mono[i] : 0.0);
                }
                g[a][k] += sa * rec.mono[from + i];
            }
        }
        for (std::size_t c = 0; c < k; ++c) {
            for (std::size_t r = c + 1; r < k; ++r) {
                const double f = g[c][c] != 0 ? g[r][c] / g[c][c] : 0.0;
                for (std::size_t j = c; j <= k; ++j) {
                    g[r][j] -= f * g[c][j];
                }
            }
        }
        std::array<double, kMaxGains> gains{};
        for (std::size_t c = k; c-- > 0;) {
            double sum = g[c][k];
            for (std::size_t j = c + 1; j < k; ++j) {
                sum -= g[c][j] * gains[j];
            }
            gains[c] = g[c][c] != 0 ? sum / g[c][c] : 0.0;
        }
        double residual = 0;
        for (std::size_t i = 0; i < n; ++i) {
            double model = 0;
            for (std::size_t a = 0; a < k; ++a) {
                model += gains[a] * (i < samples[a].mono.size() ? samples[a].mono[i] : 0.0);
            }
            residual += (rec.mono[from + i] - model) * (rec.mono[from + i] - model);
        }
        if (bestResidual < 0 || residual < bestResidual) {
            bestResidual = residual;
            bestAt = from;
            bestGains = gains;
        }
    }
    std::printf("%.4f", static_cast<double>(bestAt) / rec.rate);
    for (std::size_t a = 0; a < k; ++a) {
        std::printf(" %.3f", bestGains[a]);
    }
    std::printf("\n");
}

// Times (seconds) where the 5 ms level rises above `thresholdDb` after having been below it.
void Onsets(const Audio& a, double from, double to, double thresholdDb) {
    const std::size_t window = static_cast<std::size_t>(0.005 * a.rate);
    bool above = true;
    for (std::size_t i = Index(a, from); i + window < Index(a, to); i += window) {
        const bool now = RmsDb(a, i, i + window) > thresholdDb;
        if (now && !above) {
            std::printf("%.4f\n", static_cast<double>(i) / a.rate);
        }
        above = now;
    }
}

// Attacks of a drum loop whose attacks fall every `period` seconds, found in 1 ms frames (a frame whose
// energy is at least 10 dB over the mean of the 20 ms before it, above -50 dBFS, 20 ms after the last
// attack) from `from` to `to`, and placed against the timeline that most of them keep: the median of
// their offsets from the first one's, so that a recording starting on a beat that came early or late
// does not put all the others off. Prints the beats heard, the share of them heard twice (a second
// attack within 60 ms), and the median distance of each beat's first attack from its place on the
// timeline, in milliseconds.
void Attacks(const Audio& a, double from, double to, double period) {
    const std::size_t frame = static_cast<std::size_t>(0.001 * a.rate);
    std::vector<double> energy, attacks;
    for (std::size_t i = Index(a, from); i + frame < Index(a, to); i += frame) {
        double sum = 0;
        for (std::size_t j = i; j < i + frame; ++j) {
            sum += a.mono[j] * a.mono[j];
        }
        energy.push_back(sum / static_cast<double>(frame));
    }
    double last = -1;
    for (std::size_t i = 20; i < energy.size(); ++i) {
        double before = 0;
        for (std::size_t j = i - 20; j < i; ++j) {
            before += energy[j] / 20;
        }
        const double t = from + 0.001 * static_cast<double>(i);
        if (energy[i] > 1e-5 && energy[i] >= 10 * before && (last < 0 || t - last >= 0.02)) {
            attacks.push_back(t);
            last = t;
        }
    }
    if (attacks.empty()) {
        std::printf("0 0 none\n");
        return;
    }
    std::vector<double> offsets;
    std::size_t beats = 0, twice = 0;
    for (std::size_t i = 0; i < attacks.size(); ++i) {
        if (i > 0 && attacks[i] - attacks[i - 1] < 0.06) {
            ++twice;
            continue;
        }
        ++beats;
        const double since = attacks[i] - attacks[0];
        offsets.push_back(since - std::round(since / period) * period);
    }
    std::vector<double> sorted = offsets;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
    const double timeline = sorted[sorted.size() / 2];
    std::vector<double> errors;
    for (const double offset : offsets) {
        errors.push_back(std::abs(offset - timeline) * 1000);
    }
    std::nth_element(errors.begin(), errors.begin() + static_cast<long>(errors.size() / 2), errors.end());
    std::printf("%zu %.1f %.1f\n", beats, 100.0 * static_cast<double>(twice) / static_cast<double>(beats),
                errors[errors.size() / 2]);
}

// The first time (seconds) from `from` on where the 2 ms level rises above `thresholdDb`.
void FirstSound(const Audio& a, double from, double thresholdDb) {
    const std::size_t window = std::max<std::size_t>(1, static_cast<std::size_t>(0.002 * a.rate));
    for (std::size_t i = Index(a, from); i + window < a.mono.size(); i += window) {
        if (RmsDb(a, i, i + window) > thresholdDb) {
            std::printf("%.4f\n", static_cast<double>(i) / a.rate);
            return;
        }
    }
    std::printf("none\n");
}

// Runs of at least 0.5 ms of digital silence from `from` to `to` seconds: in a steady tone, each one
// is a dropout. Prints their count, then the start of each (seconds).
void Gaps(const Audio& a, double from, double to) {
    const std::size_t shortest = static_cast<std::size_t>(0.0005 * a.rate);
    std::vector<double> starts;
    std::size_t run = 0;
    const std::size_t end = Index(a, to);
    for (std::size_t i = Index(a, from); i <= end; ++i) {
        if (i < end && a.mono[i] == 0.0) {
            ++run;
            continue;
        }
        if (run >= shortest) {
            starts.push_back(static_cast<double>(i - run) / a.rate);
        }
        run = 0;
    }
    std::printf("%zu", starts.size());
    for (const double s : starts) {
        std::printf(" %.3f", s);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string verb = argc > 2 ? argv[1] : "";
    if (verb == "level" && argc == 5) {
        const Audio a = Read(argv[2]);
        std::printf("%.2f\n", RmsDb(a, Index(a, std::atof(argv[3])), Index(a, std::atof(argv[4]))));
    } else if (verb == "freq" && argc == 5) {
        const Audio a = Read(argv[2]);
        std::printf("%.2f\n", Frequency(a, Index(a, std::atof(argv[3])), Index(a, std::atof(argv[4]))));
    } else if (verb == "freqs" && argc == 6) {
        // The frequency in each STEP seconds from FROM to TO: where in a sweep the music is.
        const Audio a = Read(argv[2]);
        const double step = std::atof(argv[5]);
        for (double at = std::atof(argv[3]); at + step <= std::atof(argv[4]); at += step) {
            std::printf("%.3f %.1f\n", at, Frequency(a, Index(a, at), Index(a, at + step)));
        }
    } else if (verb == "find" && argc == 5) {
        Find(Read(argv[2]), Read(argv[3]), std::atof(argv[4]));
    } else if (verb == "gains" && argc >= 5 && static_cast<std::size_t>(argc - 4) <= kMaxGains) {
        std::vector<Audio> samples;
        for (int i = 4; i < argc; ++i) {
            samples.push_back(Read(argv[i]));
        }
        Gains(Read(argv[2]), std::atof(argv[3]), samples);
    } else if (verb == "onsets" && argc == 6) {
        Onsets(Read(argv[2]), std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]));
    } else if (verb == "attacks" && argc == 6) {
        Attacks(Read(argv[2]), std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]));
    } else if (verb == "first" && argc == 5) {
        FirstSound(Read(argv[2]), std::atof(argv[3]), std::atof(argv[4]));
    } else if (verb == "gaps" && argc == 5) {
        Gaps(Read(argv[2]), std::atof(argv[3]), std::atof(argv[4]));
    } else if (verb == "length" && argc == 3) {
        const Audio a = Read(argv[2]);
        std::printf("%.4f\n", static_cast<double>(a.mono.size()) / a.rate);
    } else {
        std::fprintf(
            stderr,
            "usage: wavcheck level|freq FILE FROM TO | freqs FILE FROM TO STEP | find REC SAMPLE FROM |\n"
            "       onsets FILE FROM TO DB |"
            "       gains REC AT SAMPLE... | first FILE FROM DB | gaps FILE FROM TO | length FILE |\n"
            "       attacks FILE FROM TO PERIOD\n");
        return 2;
    }
    return 0;
}
