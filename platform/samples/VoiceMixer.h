#pragma once
// The one-voice mixer the audio callback runs. A new hit cuts the sounding one; the cut sound is not
// stopped dead (that clicks) but faded out over kFadeFrames while the new hit already plays.
//
// Every sound is placed on the timeline of frames the mixer has put out, so what any frame holds does
// not depend on how the output was cut into buffers. That lets a hit reach back over frames already
// handed to the sound server but not yet played: Rewind() steps back, Start() places the hit there,
// and Render() produces the same frames again with the hit in them.
//
// Threading: Start(), Rewind() and Render() must not run concurrently; the player runs them all on the
// render side (the output's thread, or the caller's while the output holds its render still).
// Neither Render() nor Start() allocates or frees: clips the mixer has finished with are handed back
// from Start() so they are freed on the caller's thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zorvik::platform::samples {

inline constexpr int kMixRate = 48000;
inline constexpr int kMixChannels = 2;

// A sound converted to the device format: interleaved stereo float at kMixRate.
struct StereoClip {
    std::vector<float> samples;

    std::size_t Frames() const { return samples.size() / kMixChannels; }
};
using ClipPtr = std::shared_ptr<const StereoClip>;

class VoiceMixer {
  public:
    static constexpr std::size_t kFadeFrames = kMixRate / 500;  // 2 ms
    // A tail lives for kFadeFrames, shorter than any device buffer, so tails only pile up when hits come
    // faster than the device pulls buffers; a handful covers that, and the quietest one goes first.
    static constexpr std::size_t kMaxTails = 4;

    using Released = std::array<ClipPtr, kMaxTails + 1>;

    // Makes `clip` the voice from the next frame to be rendered on, at `gain`, cutting the one before it.
    // The clips the mixer lets go of are moved into `released`; the caller destroys them away from the
    // real-time thread.
    void Start(ClipPtr clip, Released& released, float gain = 1.0f);
    // Cuts the voice from the next frame on, as a new Start() would, and starts nothing.
    void Stop(Released& released);

    // Writes the next `frames` interleaved stereo frames: the voice plus any fading tails, silence after.
    void Render(float* out, std::size_t frames);
    // The same frames added to what `out` holds, for several mixers playing into one buffer. The caller
    // keeps the sum in range.
    void Mix(float* out, std::size_t frames);

    // Whether the next frame to render holds any sound.
    bool Sounding() const;

    // Steps back over up to `frames` rendered frames, so that the next Start() and Render() take them
    // again; never back past the last Start(). Returns how many frames it stepped back.
    std::size_t Rewind(std::size_t frames);

  private:
    struct Voice {
        ClipPtr clip;
        std::uint64_t start = 0;  // the frame that plays the clip's first frame
        std::uint64_t cut = 0;    // tails only: the frame its fade begins
        float gain = 1.0f;

        bool SoundingAt(std::uint64_t frame) const { return clip && frame - start < clip->Frames(); }
        bool FadedAt(std::uint64_t frame) const { return frame - cut >= kFadeFrames; }
    };

    // Moves the voice into a fading tail (or lets it go, if never heard) and releases what is done with.
    void Cut(Released& released);

    std::uint64_t next_ = 0;       // the next frame Render() writes
    std::uint64_t lastStart_ = 0;  // Rewind() stops here
    Voice voice_;
    std::array<Voice, kMaxTails> tails_;
};

}  // namespace zorvik::platform::samples
