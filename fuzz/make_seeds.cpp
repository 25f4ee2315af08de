// Writes the fuzzers' starting corpora, all made here so no binary blobs live in the repository:
//   <out>/wav    short WAVs of every coding libsndfile writes in a WAV, the accepted ones and the refused
//   <out>/music  short songs through GStreamer's own encoders: WAV, Ogg Vorbis, MP3, FLAC, Opus, M4A
//   <out>/midi   a buffer of the drums' PipeWire MIDI port
// Usage: make_seeds OUT_FOLDER

#include <gst/gst.h>
#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestMedia.h"

namespace fs = std::filesystem;
namespace testmedia = zorvik::testmedia;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUT_FOLDER\n");
        return 2;
    }
    gst_init(nullptr, nullptr);
    const fs::path out = argv[1];
    fs::create_directories(out / "wav");
    fs::create_directories(out / "music");
    int failures = 0;

    struct Coding {
        const char* name;
        int format;
    };
    const Coding codings[] = {
        {"u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8},          {"s16", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"s24", SF_FORMAT_WAV | SF_FORMAT_PCM_24},         {"s32", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
        {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT},        {"double", SF_FORMAT_WAV | SF_FORMAT_DOUBLE},
        {"ima", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM},      {"ms", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM},
        {"ulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW},          {"alaw", SF_FORMAT_WAV | SF_FORMAT_ALAW},
        {"gsm", SF_FORMAT_WAV | SF_FORMAT_GSM610},         {"wavex16", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16},
        {"wavexfloat", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT},
    };
    for (const Coding& coding : codings) {
        for (const int channels : {1, 2, 3}) {
            // GSM is mono only and the ADPCM codings at most stereo; the rest take any count.
            const int sub = coding.format & SF_FORMAT_SUBMASK;
            if (sub == SF_FORMAT_GSM610 && channels != 1) {
                continue;
            }
            if ((sub == SF_FORMAT_IMA_ADPCM || sub == SF_FORMAT_MS_ADPCM) && channels > 2) {
                continue;
            }
            const int rate = channels == 1 ? 8000 : 44100;
            const fs::path path =
                out / "wav" / (std::string(coding.name) + "-" + std::to_string(channels) + "ch.wav");
            if (!testmedia::WriteSound(path, coding.format, channels, rate,
                                       testmedia::Sine(320, channels, rate, 440, 0.5, 110))) {
                std::fprintf(stderr, "make_seeds: libsndfile would not write %s\n", path.c_str());
                ++failures;
            }
        }
    }

    struct Song {
        const char* name;
        const char* encoder;
    };
    const Song songs[] = {
        {"song.wav", testmedia::kWavEncoder},   {"song.ogg", testmedia::kOggEncoder},
        {"song.mp3", testmedia::kMp3Encoder},   {"song.flac", testmedia::kFlacEncoder},
        {"song.opus", testmedia::kOpusEncoder}, {"song.m4a", testmedia::kM4aEncoder},
    };
    // A third of a second: short seeds keep the fuzzer's inputs small and quick to load.
    const testmedia::Tone tone{.seconds = 0.3, .rate = 22050, .samplesPerBuffer = 1102};
    for (const Song& song : songs) {
        if (!testmedia::EncodeTone(out / "music" / song.name, song.encoder, tone)) {
            std::fprintf(stderr, "make_seeds: GStreamer could not make %s\n", song.name);
            ++failures;
        }
    }
    // Kits: the three generations of drumkit.xml as Debian's hydrogen-drumkits ships them, and a small
    // kit of our own packed as a .h2drumkit.
    fs::create_directories(out / "kit_xml");
    fs::create_directories(out / "kit_archive");
    const fs::path kits = "/usr/share/hydrogen/data/drumkits";
    for (const char* kit : {"Millo-Drums_v.1", "Millo_MultiLayered2", "ForzeeStereo", "VariBreaks"}) {
        std::error_code ec;
        fs::copy_file(kits / kit / "drumkit.xml", out / "kit_xml" / kit, fs::copy_options::overwrite_existing,
                      ec);
        if (ec) {
            std::fprintf(stderr, "make_seeds: no %s kit (hydrogen-drumkits): %s\n", kit,
                         ec.message().c_str());
            ++failures;
        }
    }
    const fs::path folder = out / "kit_archive" / "Tiny";
    fs::create_directories(folder);
    const std::string xml =
        "<drumkit_info><name>Tiny</name><instrumentList><instrument><name>Kick</name><muteGroup>1</muteGroup>"
        "<layer><filename>kick.wav</filename><min>0</min><max>0.5</max><gain>1</gain></layer>"
        "<layer><filename>kick.wav</filename><min>0.5</min><max>1</max><gain>0.8</gain></layer>"
        "</instrument></instrumentList></drumkit_info>";
    const bool wrote = testmedia::WriteBytes(folder / "drumkit.xml", xml) &&
                       testmedia::WriteSound(folder / "kick.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000,
                                             testmedia::Sine(400, 1, 8000, 100, 0.5));
    const std::string tar = "tar -C '" + (out / "kit_archive").string() + "' -czf '" +
                            (out / "kit_archive" / "tiny.h2drumkit").string() + "' Tiny";
    if (!wrote || std::system(tar.c_str()) != 0) {
        std::fprintf(stderr, "make_seeds: cannot pack the kit seed\n");
        ++failures;
    }
    fs::remove_all(folder);

    // A MIDI buffer of two notes and a program change, behind its chunk's offset and size.
    fs::create_directories(out / "midi");
    const std::vector<std::uint8_t> sequence =
        testmedia::MidiSequence({{0, {0x99, 36, 100}}, {12, {0x99, 42, 64}}, {30, {0xC9, 2}}});
    const std::uint32_t chunk[2] = {0, static_cast<std::uint32_t>(sequence.size())};
    std::string midi(reinterpret_cast<const char*>(chunk), sizeof chunk);
    midi.append(sequence.begin(), sequence.end());
    if (!testmedia::WriteBytes(out / "midi" / "notes", midi)) {
        std::fprintf(stderr, "make_seeds: cannot write the MIDI seed\n");
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
