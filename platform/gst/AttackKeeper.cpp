#include "AttackKeeper.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zorvik::platform::gst {
namespace {

// The finder hears in half-millisecond blocks: an attack is placed to within one of them, which at half
// speed is also the most it can land off its beat.
constexpr double kBlockSeconds = 0.0005;
// An attack is a block at least 6 dB louder than every block of the 10 ms before it...
constexpr double kLookBackSeconds = 0.010;
constexpr float kRise = 4.0f;
// ...and no quieter than 45 dB under the loudest of the last few seconds, so that the noise floor of a
// fade-out does not count.
constexpr float kQuiet = 3.2e-5f;
constexpr double kPeakSeconds = 3.0;
constexpr float kSilence = 1e-9f;
// A drum's own attack is one event: its first 30 ms find no second one.
constexpr double kRefractorySeconds = 0.030;
// Only an attack that stands clear of the sound before it is spliced: its loudest block in its first
// millisecond at least 20 dB over the loudest of the 45 ms before it, as far back as the stretcher smears an
// attack (half its longest window, 2048 frames), so that its swell would be heard. Drums on their own (an
// intro, a break, a solo, a count-in) pass; a hit in a full band mix does not. There, with guitars, bass and
// cymbals under every hit, the stretcher's own attack is as good, and the lead-in and the hand-back only add
// onsets and move them: on real band recordings, splicing every hit cost up to 2 ms of timing and a few
// onsets heard wrong, while at 20 dB none was worse than the stretcher alone.
constexpr double kClearSeconds = 0.045;
constexpr double kDecideSeconds = 0.0005;
constexpr float kClear = 100.0f;

// The song's own frames are heard from 12 ms before the attack to 10 ms after it, then fade back to the
// stretcher over 5 ms; from up to 45 ms before it where the song is silent there. Before: the stretcher
// brings an attack's energy early, as a swell just ahead of the beat, and the song's own lead-in takes its
// place. Most of the swell lies in the last 8 ms, 11 ms after a speed change while the song plays (the
// stretched beat is then known only to within 3.5 ms); so 12 ms covers it where the song has sound of its
// own before the attack, and there a longer lead-in is worse, not better: it replays what was already heard
// (at half speed, half of it), and on real recordings the replayed room sound was heard as the onset itself,
// as far ahead of the beat as the lead-in was long. Out of silence, though, a loud attack's swell reaches
// back 30 to 45 ms, by half the stretcher's longest window, and replaying silence costs nothing: there the
// lead-in goes back over the quiet, a block at least 55 dB under the attack, as far as the swell can reach
// (an MP3's silence holds a pre-echo 58 dB under a sharp attack in the 12 ms before it; the room sound of
// an acoustic kit, 40 to 50 dB under its hits, is not silence).
// After: the attack has reached its peak, and the stretcher's version of the decay takes over while the two
// are still at about the same level (the song's own decay, heard at its own pace, falls faster than the
// slowed one: a later hand-over would be heard as a second, quieter attack). A longer fade-out lets a low
// tone and its slowed copy cancel for a few milliseconds, which is heard as a flutter.
constexpr double kShortLeadSeconds = 0.012;
constexpr double kLongLeadSeconds = 0.045;
constexpr float kSilent = 3.2e-6f;
constexpr double kPostSeconds = 0.010;
constexpr double kFadeInSeconds = 0.003;
constexpr double kFadeOutSeconds = 0.005;

std::int64_t FramesOf(double seconds, int rate) {
    return std::max<std::int64_t>(1, std::llround(seconds * rate));
}

}  // namespace

void AttackKeeper::Configure(int rate, int channels) {
    channels_ = std::clamp(channels, 1, kMaxChannels);
    blockFrames_ = static_cast<int>(FramesOf(kBlockSeconds, rate));
    lookBackBlocks_ = static_cast<int>(kLookBackSeconds / kBlockSeconds);
    clearBlocks_ = static_cast<int>(kClearSeconds / kBlockSeconds);
    decideBlocks_ = static_cast<int>(kDecideSeconds / kBlockSeconds);
    static_assert((kClearSeconds + kDecideSeconds) / kBlockSeconds < kPastBlocks);
    refractoryFrames_ = FramesOf(kRefractorySeconds, rate);
    peakDecay_ = static_cast<float>(std::exp(-kBlockSeconds / kPeakSeconds));
    shortLead_ = FramesOf(kShortLeadSeconds, rate);
    longLead_ = FramesOf(kLongLeadSeconds, rate);
    postFrames_ = FramesOf(kPostSeconds, rate);
    fadeInStep_ = 1.0f / static_cast<float>(FramesOf(kFadeInSeconds, rate));
    fadeOutFrames_ = FramesOf(kFadeOutSeconds, rate);
    fadeOutStep_ = 1.0f / static_cast<float>(fadeOutFrames_);
    Reset();
}

void AttackKeeper::Reset() {
    framesSeen_ = 0;
    inBlock_ = 0;
    sumLevel_ = sumEdge_ = 0.0;
    previous_.fill(0.0f);
    pastLevel_.fill(0.0f);
    pastEdge_.fill(0.0f);
    blocks_ = 0;
    peakLevel_ = peakEdge_ = 0.0f;
    lastAttack_ = -refractoryFrames_;  // an attack on the very first block counts
    candidate_ = false;
    attacks_.Clear();
    phase_ = Phase::Idle;
    fade_ = 0.0f;
}

void AttackKeeper::Skip(std::int64_t songFrame) {
    while (const Attack* next = attacks_.Peek()) {
        if (next->frame >= songFrame) {
            break;
        }
        attacks_.Drop();
    }
    phase_ = Phase::Idle;
    fade_ = 0.0f;
}

void AttackKeeper::Listen(const float* frames, std::size_t count) {
    // Channel by channel: a sound panned wide, or in opposite phase on the two sides, is no quieter.
    for (std::size_t i = 0; i < count; ++i) {
        for (int c = 0; c < channels_; ++c) {
            const float sample = frames[i * channels_ + c];
            const float edge = sample - previous_[c];
            previous_[c] = sample;
            sumLevel_ += double(sample) * sample;
            sumEdge_ += double(edge) * edge;
        }
        ++framesSeen_;
        if (++inBlock_ == blockFrames_) {
            EndBlock();
        }
    }
}

void AttackKeeper::EndBlock() {
    const double samples = double(blockFrames_) * channels_;
    const auto level = static_cast<float>(sumLevel_ / samples);
    const auto edge = static_cast<float>(sumEdge_ / samples);
    const std::int64_t blockStart = framesSeen_ - blockFrames_;
    inBlock_ = 0;
    sumLevel_ = sumEdge_ = 0.0;

    const auto loudest = [this](std::int64_t from, std::int64_t to, float& levelMax, float& edgeMax) {
        levelMax = edgeMax = 0.0f;
        for (std::int64_t b = std::max<std::int64_t>(0, from); b < to; ++b) {
            levelMax = std::max(levelMax, pastLevel_[static_cast<std::size_t>(b % kPastBlocks)]);
            edgeMax = std::max(edgeMax, pastEdge_[static_cast<std::size_t>(b % kPastBlocks)]);
        }
    };
    float before = 0.0f, edgeBefore = 0.0f;
    loudest(blocks_ - lookBackBlocks_, blocks_, before, edgeBefore);
    peakLevel_ = std::max(peakLevel_ * peakDecay_, level);
    peakEdge_ = std::max(peakEdge_ * peakDecay_, edge);
    pastLevel_[static_cast<std::size_t>(blocks_ % kPastBlocks)] = level;
    pastEdge_[static_cast<std::size_t>(blocks_ % kPastBlocks)] = edge;
    ++blocks_;

    if (candidate_ && blocks_ - candidateBlock_ >= decideBlocks_) {
        candidate_ = false;
        float leadLevel = 0.0f, leadEdge = 0.0f, attackLevel = 0.0f, attackEdge = 0.0f;
        loudest(candidateBlock_ - clearBlocks_, candidateBlock_, leadLevel, leadEdge);
        loudest(candidateBlock_, blocks_, attackLevel, attackEdge);
        if (attackLevel >= kClear * leadLevel || attackEdge >= kClear * leadEdge) {
            std::int64_t quiet = 0;
            while (quiet < clearBlocks_ && candidateBlock_ - quiet > 0 &&
                   pastLevel_[static_cast<std::size_t>((candidateBlock_ - quiet - 1) % kPastBlocks)] <=
                       kSilent * attackLevel) {
                ++quiet;
            }
            const std::int64_t lead = std::clamp(quiet * blockFrames_, shortLead_, longLead_);
            // A full list drops the newest: the output is far behind and would pass over it anyway.
            attacks_.Push(Attack{candidateFrame_, lead});
            lastAttack_ = candidateFrame_;
        }
    }
    // A rise that did not stand clear takes no refractory time: in a compressed song (an MP3 above all) a
    // hit's pre-echo rises out of the silence a few milliseconds before the hit itself, and is too faint
    // to be clear of the silence's own noise; the hit that follows must still be found.
    const bool rises = (level > kRise * before && level > kQuiet * peakLevel_ && level > kSilence) ||
                       (edge > kRise * edgeBefore && edge > kQuiet * peakEdge_ && edge > kSilence);
    if (rises && !candidate_ && blockStart - lastAttack_ >= refractoryFrames_) {
        candidate_ = true;
        candidateFrame_ = blockStart;
        candidateBlock_ = blocks_ - 1;
    }
}

AttackKeeper::Mix AttackKeeper::Next(double songFrame, double speed, std::int64_t framesIn) {
    while (const Attack* next = attacks_.Peek()) {
        const std::int64_t attack = next->frame;
        if (static_cast<double>(attack) < songFrame) {
            attacks_.Drop();  // passed over: played at a speed that keeps attacks, or found too late
            continue;
        }
        // Output frames until the slowed song reaches the attack.
        const double due = (static_cast<double>(attack) - songFrame) / speed;
        if (speed >= 1.0 || due > static_cast<double>(next->lead)) {
            break;
        }
        attacks_.Drop();
        // An attack due while a splice is still under way (a flam, a fast roll played nearly at speed)
        // is left to the stretcher: the splice carries on.
        if (phase_ != Phase::Idle) {
            continue;
        }
        phase_ = Phase::In;
        frame_ = attack - std::llround(due);
        holdEnd_ = attack + postFrames_;
    }

    Mix mix;
    if (phase_ == Phase::Idle) {
        return mix;
    }
    // The song's frames run out before the stretcher's only at a very slow speed; leave in time.
    if (phase_ != Phase::Out && frame_ + fadeOutFrames_ >= framesIn) {
        phase_ = Phase::Out;
    }
    constexpr float kQuarterTurn = std::numbers::pi_v<float> / 2;
    mix = {std::cos(fade_ * kQuarterTurn), std::sin(fade_ * kQuarterTurn), frame_};

    ++frame_;
    switch (phase_) {
        case Phase::In:
            fade_ = std::min(1.0f, fade_ + fadeInStep_);
            if (fade_ >= 1.0f) {
                phase_ = Phase::Hold;
            }
            break;
        case Phase::Hold:
            if (frame_ >= holdEnd_) {
                phase_ = Phase::Out;
            }
            break;
        case Phase::Out:
            fade_ = std::max(0.0f, fade_ - fadeOutStep_);
            if (fade_ <= 0.0f) {
                phase_ = Phase::Idle;
            }
            break;
        case Phase::Idle:
            break;
    }
    return mix;
}

}  // namespace zorvik::platform::gst
