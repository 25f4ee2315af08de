#pragma once
// The default drum kit, one place for its names: each drum is the caption of its row in the main
// window and the name of its sample, Sounds/<name>.wav in the application folder. kit/CMakeLists.txt
// reads this list for the files the build makes.

#include <array>

namespace zorvik::kit {

// In row order, top to bottom.
inline constexpr std::array<const char*, 8> kDrumNames{"Kick",     "Snare",   "Hi Hat",  "Open Hi Hat",
                                                       "High Tom", "Mid Tom", "Low Tom", "Crash"};

}  // namespace zorvik::kit
