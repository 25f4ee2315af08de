#pragma once
// Drum attacks as they were played, in a slowed-down song.
//
// A phase vocoder, however fine, spreads a sharp attack over its analysis window when it lengthens the
// sound: at half speed Rubber Band's attacks rise several milliseconds slower than the song's and their
// energy comes a few milliseconds early, by an amount that changes with the ratio and the sample rate.
// A drummer playing along hears both. So the stretch element listens to the song as it comes in, finds
// its attacks, and around each one plays the song's own frames at their own pace, placed so that the
// attack lands exactly where the slowed song puts it; before the attack it cross-fades from the stretcher
// to the song, after it back again. The stretcher's latency is the look-ahead that makes this possible:
// an attack is found well before its turn to be heard, and there is time to wait a millisecond after it
// to know whether it stands clear of what came before. The caller gives the song frame the stretched
// sound is at, which after a speed change is not quite where the element's own timeline is.
//
// Only slowing down is treated so. Sped up, the stretcher keeps attacks within a couple of milliseconds,
// and at normal speed the element passes the song through anyway.
//
// Everything here runs on the streaming thread; nothing allocates or locks after Configure.

#include <array>
#include <cstddef>
#include <cstdint>

#include "SpscRing.h"

namespace zorvik::platform::gst {

class AttackKeeper {
  public:
    static constexpr int kMaxChannels = 16;

    // One output frame: out = stretched * stretchedGain + history[frame] * songGain. The fades keep the
    // power, not the amplitude: the two signals are the same music at slightly different moments, so they
    // add up like unrelated ones, and a plain cross-fade would dip in the middle.
    struct Mix {
        float stretchedGain = 1.0f;
        float songGain = 0.0f;
        std::int64_t frame = 0;
    };

    void Configure(int rate, int channels);
    // Forgets every attack found and any splice under way: after a flush, a seek or a new segment.
    void Reset();
    // The next `count` input frames (interleaved), in order from the frame after the last Reset.
    void Listen(const float* frames, std::size_t count);
    // For the next output frame, which belongs to input frame `songFrame` at `speed`, with `framesIn`
    // input frames there to be read.
    Mix Next(double songFrame, double speed, std::int64_t framesIn);
    // The output has gone past `songFrame` without asking (played through at normal speed): attacks
    // before it are forgotten and any splice under way ends.
    void Skip(std::int64_t songFrame);

  private:
    enum class Phase { Idle, In, Hold, Out };

    void EndBlock();

    // The finder's state.
    int channels_ = 1;
    int blockFrames_ = 1;
    int lookBackBlocks_ = 1;
    int clearBlocks_ = 1;   // blocks before an attack that must be quiet under it
    int decideBlocks_ = 1;  // blocks after it whose loudest is its level
    std::int64_t refractoryFrames_ = 0;
    float peakDecay_ = 1.0f;
    std::int64_t framesSeen_ = 0;
    int inBlock_ = 0;
    double sumLevel_ = 0.0, sumEdge_ = 0.0;
    std::array<float, kMaxChannels> previous_{};
    // Mean square of each recent block, plain and differentiated (the latter hears hats and snares over
    // a ringing kick), by block count since the last Reset.
    static constexpr int kPastBlocks = 128;
    std::array<float, kPastBlocks> pastLevel_{}, pastEdge_{};
    std::int64_t blocks_ = 0;
    float peakLevel_ = 0.0f, peakEdge_ = 0.0f;
    std::int64_t lastAttack_ = 0;  // the input frame of the last attack that stood clear
    // An attack found and not yet known to stand clear of what came before it.
    bool candidate_ = false;
    std::int64_t candidateFrame_ = 0, candidateBlock_ = 0;

    // Attacks found and not yet reached by the output, oldest first: the input frame each starts at and
    // how long a lead-in it takes, in output frames. Both ends are on the streaming thread.
    struct Attack {
        std::int64_t frame = 0;
        std::int64_t lead = 0;
    };
    SpscRing<Attack, 128> attacks_;

    // The splice under way.
    Phase phase_ = Phase::Idle;
    float fade_ = 0.0f;  // 0 all stretcher, 1 all song
    std::int64_t frame_ = 0, holdEnd_ = 0;
    std::int64_t shortLead_ = 0, longLead_ = 0, postFrames_ = 0, fadeOutFrames_ = 1;
    float fadeInStep_ = 1.0f, fadeOutStep_ = 1.0f;
};

}  // namespace zorvik::platform::gst
