#pragma once
// The sound a pad makes when its own sample is missing or broken: a short, soft "ding", so the player
// hears that the pad works and the file does not.

#include "VoiceMixer.h"

namespace zorvik::platform::samples {

inline constexpr std::size_t kDefaultSoundFrames = kMixRate * 150 / 1000;

StereoClip MakeDefaultSound();

}  // namespace zorvik::platform::samples
