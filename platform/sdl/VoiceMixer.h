#pragma once
// The one-voice mixer the audio callback runs. A new hit cuts the sounding one; the cut sound is not
// stopped dead (that clicks) but faded out over kFadeFrames while the new hit already plays.
//
// Threading: Start() and Render() must not run concurrently (the player calls Start() under the
// audio device lock, and SDL calls Render() with that lock held). Render() never allocates or frees:
// clips the mixer has finished with are handed back from Start() so they are freed outside the lock.

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

namespace zorvik::platform::sdl {

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

    // Makes `clip` the voice, from its first frame. The clips the mixer lets go of are moved into
    // `released`; the caller destroys them once it no longer holds the audio lock.
    void Start(ClipPtr clip, Released& released);

    // Writes `frames` interleaved stereo frames: the voice plus any fading tails, silence after them.
    void Render(float* out, std::size_t frames);

  private:
    struct Voice {
        ClipPtr clip;
        std::size_t pos = 0;
        std::size_t fadeLeft = 0;  // tails only: frames until silent

        bool Sounding() const { return clip && pos < clip->Frames(); }
    };

    Voice voice_;
    std::array<Voice, kMaxTails> tails_;
};

}  // namespace zorvik::platform::sdl
