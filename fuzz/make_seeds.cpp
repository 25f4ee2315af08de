// Writes the fuzzers' starting corpora, all made here so no binary blobs live in the repository:
//   <out>/wav    short WAVs of every coding libsndfile writes in a WAV, the accepted ones and the refused
//   <out>/music  short songs through GStreamer's own encoders: WAV, Ogg Vorbis, MP3, FLAC, Opus
// Usage: make_seeds OUT_FOLDER

#include <gst/gst.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool WriteWav(const fs::path& path, int format, int channels, int rate, int frames) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    std::vector<float> data(static_cast<std::size_t>(frames * channels));
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            data[static_cast<std::size_t>(f * channels + c)] =
                static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * (440 + 110 * c) * f / rate));
    sf_writef_float(file, data.data(), frames);
    sf_close(file);
    return true;
}

bool Encode(const fs::path& path, const std::string& encoder) {
    const std::string description =
        "audiotestsrc wave=sine freq=440 num-buffers=6 samplesperbuffer=1102 ! "
        "audio/x-raw,rate=22050,channels=1 ! "
        "audioconvert ! audioresample ! " +
        encoder + " ! filesink name=out";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (!pipeline) return false;
    GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    g_object_set(out, "location", path.c_str(), nullptr);
    gst_object_unref(out);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* done = gst_bus_timed_pop_filtered(
        bus, 30 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = done && GST_MESSAGE_TYPE(done) == GST_MESSAGE_EOS;
    if (done) gst_message_unref(done);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

}  // namespace

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
            if (sub == SF_FORMAT_GSM610 && channels != 1) continue;
            if ((sub == SF_FORMAT_IMA_ADPCM || sub == SF_FORMAT_MS_ADPCM) && channels > 2) continue;
            const int rate = channels == 1 ? 8000 : 44100;
            const fs::path path =
                out / "wav" / (std::string(coding.name) + "-" + std::to_string(channels) + "ch.wav");
            if (!WriteWav(path, coding.format, channels, rate, 320)) {
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
        {"song.wav", "wavenc"},
        {"song.ogg", "vorbisenc ! oggmux"},
        {"song.mp3", "lamemp3enc target=bitrate bitrate=32"},
        {"song.flac", "flacenc"},
        {"song.opus", "opusenc ! oggmux"},
    };
    for (const Song& song : songs) {
        if (!Encode(out / "music" / song.name, song.encoder)) {
            std::fprintf(stderr, "make_seeds: GStreamer could not make %s\n", song.name);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
