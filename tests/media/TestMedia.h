#pragma once
// The media the tests, the fuzzers' seed writer and the benchmarks need, all made here so no binary blobs
// live in the repository: songs through GStreamer's own encoders, WAVs through libsndfile, and damaged
// copies of either. Nothing here asserts; each maker says whether it worked.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zorvik::testmedia {

// A folder of its own for a test, removed with everything in it when the test is done.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path operator/(const std::string& name) const {
        return path_ / std::filesystem::u8path(name);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// gst-launch fragments that encode raw audio into a file of each kind Zorvik plays.
inline constexpr const char* kWavEncoder = "wavenc";
inline constexpr const char* kOggEncoder = "audioconvert ! vorbisenc ! oggmux";
inline constexpr const char* kMp3Encoder = "lamemp3enc target=bitrate bitrate=128";
inline constexpr const char* kFlacEncoder = "audioconvert ! flacenc";
inline constexpr const char* kOpusEncoder = "audioconvert ! audioresample ! opusenc ! oggmux";
inline constexpr const char* kM4aEncoder = "audioconvert ! avenc_aac ! mp4mux";

struct Tone {
    double seconds = 1.0;
    int rate = 44100;
    int channels = 1;
    double frequency = 440.0;
    double volume = 0.5;
    // audiotestsrc's samples per buffer; 0 for a tenth of a second.
    int samplesPerBuffer = 0;
};

// Encodes a sine tone through `encoder` (one of the fragments above, or any other) into `path`.
bool EncodeTone(const std::filesystem::path& path, const std::string& encoder, const Tone& tone = {});
// Decodes a sound file and encodes it again through `encoder` into `to`.
bool Transcode(const std::filesystem::path& from, const std::filesystem::path& to,
               const std::string& encoder);

// Samples of a sine, interleaved, the same on every channel unless `spread` moves each channel up by that
// many hertz (so channels can be told apart).
std::vector<float> Sine(std::size_t frames, int channels, int rate, double frequency, double amplitude,
                        double spread = 0.0);

// Writes interleaved samples as a sound file in a libsndfile format (SF_FORMAT_WAV | SF_FORMAT_PCM_16...).
bool WriteSound(const std::filesystem::path& path, int format, int channels, int rate,
                const std::vector<float>& interleaved);
// The same for `frames` frames of sample(channel, frame), asked for frame by frame, channel by channel.
using SampleAt = std::function<double(int channel, std::size_t frame)>;
bool WriteSound(const std::filesystem::path& path, int format, int channels, int rate, std::size_t frames,
                const SampleAt& sample);
// A sound file's bytes, written through libsndfile as above; empty if libsndfile refuses the format.
std::string SoundBytes(int format, int channels, int rate, std::size_t frames, const SampleAt& sample);

// The power of one frequency in samples[from, from + count) of a mono signal at `rate` (Goertzel: one
// bin, without a whole transform).
double ToneEnergy(const std::vector<float>& samples, std::size_t from, std::size_t count, double frequency,
                  int rate);
// The frequency from `low` to `high`, in steps of `step`, with the most power in that stretch of samples.
double StrongestTone(const std::vector<float>& samples, std::size_t from, std::size_t count, double low,
                     double high, double step, int rate);

// A quiet 440 Hz tone (0.3 high) with a burst of noise every quarter second, from the start: something
// to hear the pitch of, and attacks. Interleaved; the bursts are in opposite phase on the two channels.
std::vector<float> Bursts(int rate, int channels, double seconds);
// When Bursts' bursts are heard, in seconds, when it plays up to `end` and then `repeats` more times from
// `start` round to `end`, all at `speed`.
std::vector<double> LoopedBursts(double start, double end, int repeats, double speed);
// Where sharp sounds start in the first channel, in frames: 1 ms frames whose first difference (which
// hears the bursts and not the tone under them) is four times louder than in any of the 20 ms before.
std::vector<std::size_t> Onsets(const std::vector<float>& samples, int rate, int channels);

std::string ReadBytes(const std::filesystem::path& path);
bool WriteBytes(const std::filesystem::path& path, const std::string& bytes);
inline std::span<const std::byte> AsBytes(const std::string& bytes) {
    return std::as_bytes(std::span(bytes));
}

// Header fields of a WAV's "fmt " chunk, from the start of its payload.
inline constexpr std::size_t kFmtChannels = 2;
inline constexpr std::size_t kFmtRate = 4;
inline constexpr std::size_t kFmtBlockAlign = 12;
// Where the header of the first RIFF chunk `id` starts in a RIFF file's bytes, if it has one.
std::optional<std::size_t> RiffChunk(const std::string& bytes, const char* id);
// Overwrites `width` bytes at `at` with `value`, little-endian.
void PutLittleEndian(std::string& bytes, std::size_t at, std::uint32_t value, int width);
// A WAV with one field of its "fmt " chunk overwritten (a damaged or hostile header); unchanged if it
// has no such chunk.
std::string PatchWavFormat(std::string bytes, std::size_t field, std::uint32_t value, int width);

// Ways a song file is damaged on its way to the user: a download cut short, a header without a body, a
// run of zeroed sectors.
enum class Damage { CutAt1Percent, CutAtHalf, CutAt99Percent, HeaderOnly, ZeroedMiddle };
inline constexpr Damage kDamages[] = {Damage::CutAt1Percent, Damage::CutAtHalf, Damage::CutAt99Percent,
                                      Damage::HeaderOnly, Damage::ZeroedMiddle};
const char* Name(Damage damage);
std::string Damaged(const std::string& whole, Damage damage);

// A PipeWire MIDI buffer's contents: a sequence pod of one control per message, at its frame offset.
std::vector<std::uint8_t> MidiSequence(
    const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>& messages);

// A fresh folder under /tmp, named after `purpose`.
std::filesystem::path MakeTempFolder(const std::string& purpose);

}  // namespace zorvik::testmedia
